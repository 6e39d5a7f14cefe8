#include "server/OwnedFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace updsrv {

namespace {

const char* const kRecord = ".korvane-updsrv-made";

bool Stat(const std::string& path, int64_t& size, int64_t& mtime) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  size = st.st_size;
  mtime = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  return S_ISREG(st.st_mode);
}

void WriteFileAtomic(const std::string& path, const std::string& data, mode_t mode) {
  const std::string tmp = path + ".tmp" + std::to_string(::getpid());
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0) throw std::runtime_error("cannot write " + tmp);
  ::fchmod(fd, mode);
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n <= 0) {
      ::close(fd);
      ::unlink(tmp.c_str());
      throw std::runtime_error("cannot write " + tmp);
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0 || std::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    throw std::runtime_error("cannot write " + path);
  }
}

}  // namespace

TOwnedFiles::TOwnedFiles(std::string dataDir) : dir_(std::move(dataDir)) {
  std::ifstream in(dir_ + "/" + kRecord);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    int64_t size = 0, mtime = 0;
    std::string name;
    if (fields >> size >> mtime && std::getline(fields >> std::ws, name) && !name.empty())
      made_[name] = {size, mtime};
  }
}

bool TOwnedFiles::Made(const std::string& name) const {
  auto it = made_.find(name);
  int64_t size = 0, mtime = 0;
  return it != made_.end() && Stat(Path(name), size, mtime) && it->second == std::make_pair(size, mtime);
}

bool TOwnedFiles::MayWrite(const std::string& name) const {
  struct stat st {};
  return ::lstat(Path(name).c_str(), &st) != 0 || Made(name);
}

void TOwnedFiles::Write(const std::string& name, const std::string& data, mode_t mode) {
  if (!MayWrite(name))
    throw std::runtime_error(Path(name) + " was not made by this server and is left alone");
  WriteFileAtomic(Path(name), data, mode);
  Record(name);
}

void TOwnedFiles::Record(const std::string& name) {
  int64_t size = 0, mtime = 0;
  if (!Stat(Path(name), size, mtime)) return;
  made_[name] = {size, mtime};
  Save();
}

void TOwnedFiles::Save() {
  std::string text;
  for (const auto& [name, id] : made_)
    text += std::to_string(id.first) + " " + std::to_string(id.second) + " " + name + "\n";
  WriteFileAtomic(dir_ + "/" + kRecord, text, 0644);
}

}  // namespace updsrv
