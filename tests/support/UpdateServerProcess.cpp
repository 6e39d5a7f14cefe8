#include "support/UpdateServerProcess.h"

#include "support/ScratchFolder.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace korvane::testing {

namespace fs = std::filesystem;

namespace {

std::string Tail(const std::string& path, size_t maxBytes = 2000) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.size() > maxBytes) text = "..." + text.substr(text.size() - maxBytes);
  return text;
}

int ParsePort(const std::string& line, const char* key) {
  const std::string prefix = std::string(key) + "=";
  if (line.rfind(prefix, 0) != 0) return -1;
  char* end = nullptr;
  long v = std::strtol(line.c_str() + prefix.size(), &end, 10);
  if (end == line.c_str() + prefix.size() || v <= 0 || v > 65535) return -1;
  return static_cast<int>(v);
}

}  // namespace

std::string UpdateServerProcess::BinaryPath() {
  if (const char* p = std::getenv("KORVANE_UPDSRV"); p && *p) return p;
  const char* bin = std::getenv("KORVANE_BINARY_DIR");
  std::string dir = (bin && *bin) ? bin : ".";
  return dir + "/server/korvane-updsrv";
}

bool UpdateServerProcess::Available() { return access(BinaryPath().c_str(), X_OK) == 0; }

UpdateServerProcess::UpdateServerProcess(UpdateServerOptions options) {
  try {
    Start(options);
  } catch (...) {
    Stop(1000);
    if (ownDataDir_) RemoveFolder(dataDir_);
    throw;
  }
}

UpdateServerProcess::~UpdateServerProcess() {
  Stop();
  if (ownDataDir_) RemoveFolder(dataDir_);
}

std::string UpdateServerProcess::HttpBase() const {
  return "http://127.0.0.1:" + std::to_string(httpPort_);
}

std::string UpdateServerProcess::HttpsBase() const {
  return "https://127.0.0.1:" + std::to_string(httpsPort_);
}

std::string UpdateServerProcess::CaCertFile() const { return dataDir_ + "/ca.pem"; }
std::string UpdateServerProcess::PackagesDir() const { return dataDir_ + "/packages"; }
std::string UpdateServerProcess::LogFile() const { return dataDir_ + "/updsrv.log"; }

void UpdateServerProcess::Start(const UpdateServerOptions& options) {
  // A test's client writing to a connection the server has closed must see
  // EPIPE, not die.
  ::signal(SIGPIPE, SIG_IGN);
  const std::string exe = BinaryPath();
  if (access(exe.c_str(), X_OK) != 0)
    throw std::runtime_error("update server not built: " + exe);

  if (options.DataDir.empty()) {
    dataDir_ = MakeScratchFolder("korvane-updsrv");
    ownDataDir_ = true;
  } else {
    dataDir_ = options.DataDir;
    fs::create_directories(dataDir_);
  }

  std::vector<std::string> args = {exe, "--http", "127.0.0.1:0", "--data", dataDir_,
                                   "--exit-with-parent"};
  if (options.Https) {
    args.insert(args.end(), {"--https", "127.0.0.1:0"});
  } else {
    args.insert(args.end(), {"--https", "off"});
  }
  if (!options.Catalogue.empty()) args.insert(args.end(), {"--catalogue", options.Catalogue});
  if (!options.Messages.empty()) args.insert(args.end(), {"--messages", options.Messages});
  const std::string key = options.SigningKey.empty() ? BuildSigningKey() : options.SigningKey;
  if (!options.Unsigned && !key.empty()) args.insert(args.end(), {"--signing-key", key});
  args.insert(args.end(), options.ExtraArgs.begin(), options.ExtraArgs.end());

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  outFd_ = pipeFds[0];

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, LogFile().c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

  // The child starts with default signal dispositions and an empty mask, so
  // that SIGTERM reaches it even when the test process blocks signals.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, exe.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  close(pipeFds[1]);
  if (rc != 0) throw std::runtime_error("cannot start " + exe + ": " + std::strerror(rc));
  pid_ = pid;

  // Read the port lines: "http=P" and, with HTTPS, "https=P".
  std::string pending;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options.StartTimeoutMs);
  while (httpPort_ == 0 || (options.Https && httpsPort_ == 0)) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0)
      throw std::runtime_error("update server did not report its ports in time; log:\n" +
                               Tail(LogFile()));
    pollfd p{outFd_, POLLIN, 0};
    int n = poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) continue;
    char buf[512];
    ssize_t got = read(outFd_, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
      throw std::runtime_error("update server ended before listening; log:\n" + Tail(LogFile()));
    }
    pending.append(buf, static_cast<size_t>(got));
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      if (int p1 = ParsePort(line, "http"); p1 > 0) httpPort_ = p1;
      if (int p2 = ParsePort(line, "https"); p2 > 0) httpsPort_ = p2;
    }
  }
}

int UpdateServerProcess::Stop(unsigned graceMs) {
  int result = -1;
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    int status = 0;
    for (;;) {
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_ || (r < 0 && errno != EINTR)) break;
      if (std::chrono::steady_clock::now() >= deadline) {
        std::fprintf(stderr, "UpdateServerProcess: server %d did not stop within %u ms; killed\n",
                     static_cast<int>(pid_), graceMs);
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result = status;
    pid_ = -1;
  }
  if (outFd_ >= 0) {
    close(outFd_);
    outFd_ = -1;
  }
  return result;
}

std::string BuildSigningKey() {
#ifdef KORVANE_INSTALLER_SIGNING_KEY
  const std::string key = KORVANE_INSTALLER_SIGNING_KEY;
  if (!key.empty() && access(key.c_str(), R_OK) == 0) return key;
#endif
  return std::string();
}

}  // namespace korvane::testing
