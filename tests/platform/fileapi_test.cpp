// Files, threads, the module name, the computer and the console through the layer:
// the Windows dispositions and error codes, and links that are never written through.
#include <windows.h>

#include <consoleapi.h>
#include <korvane_file.h>

#include "platform/src/cmdline.h"
#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

class Folder {
 public:
  Folder() : root_(korvane::testing::MakeScratchFolder("kvfile")) {}
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  std::string Path(const std::string& name) const { return root_ + "/" + name; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string Read(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
};

// Writes text into a file made with the disposition; the last error after CreateFileA.
DWORD WriteWith(const std::string& path, DWORD disposition, DWORD flags, const std::string& text, bool* ok) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, flags, nullptr);
  const DWORD error = GetLastError();
  *ok = h != INVALID_HANDLE_VALUE;
  if (*ok) {
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
    EXPECT_EQ(written, text.size());
    EXPECT_TRUE(FlushFileBuffers(h));
    EXPECT_TRUE(CloseHandle(h));
  }
  return error;
}

bool IsLink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

TEST(Files, DispositionsAndErrors) {
  Folder f;
  const std::string file = f.Path("a.txt");
  bool ok = false;
  EXPECT_EQ(WriteWith(file, OPEN_EXISTING, 0, "x", &ok), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(ok);
  EXPECT_EQ(WriteWith(f.Path("none/a.txt"), CREATE_ALWAYS, 0, "x", &ok),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(WriteWith(file, CREATE_NEW, 0, "first, longer", &ok), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(ok);
  EXPECT_EQ(WriteWith(file, CREATE_NEW, 0, "x", &ok), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_FALSE(ok);
  EXPECT_EQ(WriteWith(file, CREATE_ALWAYS, 0, "second", &ok), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(ok);
  EXPECT_EQ(f.Read("a.txt"), "second");
  EXPECT_EQ(WriteWith(f.Root(), CREATE_ALWAYS, 0, "x", &ok), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buf[16];
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
  EXPECT_EQ(std::string(buf, got), "second");
  EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
  EXPECT_EQ(got, 0u);                                 // the end of the file
  EXPECT_FALSE(WriteFile(h, "x", 1, &got, nullptr));  // opened for reading only
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(ReadFile(h, buf, sizeof buf, &got, nullptr));

  WIN32_FILE_ATTRIBUTE_DATA a{};
  ASSERT_TRUE(GetFileAttributesExA(file.c_str(), GetFileExInfoStandard, &a));
  EXPECT_EQ(a.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(a.nFileSizeLow, 6u);
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  const unsigned long long ticks = (static_cast<unsigned long long>(a.ftLastWriteTime.dwHighDateTime) << 32) |
                                   a.ftLastWriteTime.dwLowDateTime;
  EXPECT_EQ(ticks / 10000000ull - 11644473600ull, static_cast<unsigned long long>(st.st_mtime));
  EXPECT_EQ(GetFileAttributesA(f.Root().c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesA(f.Path("missing").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  ::chmod(file.c_str(), 0444);
  EXPECT_TRUE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY);
  ::chmod(file.c_str(), 0644);

  // Moves: no replacement unless asked, then in one step.
  f.Write("b.txt", "bee");
  EXPECT_FALSE(MoveFileExA(f.Path("b.txt").c_str(), file.c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_TRUE(
      MoveFileExA(f.Path("b.txt").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(f.Read("a.txt"), "bee");
  EXPECT_FALSE(MoveFileExA(f.Path("b.txt").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_TRUE(DeleteFileA(file.c_str()));
  EXPECT_FALSE(DeleteFileA(file.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileA(f.Root().c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

// A link planted at a scratch file's name: asked for the link itself, a new file
// replaces the link, and what it points at is never written or removed.
TEST(Files, LinksAreNeverWrittenThrough) {
  Folder f;
  f.Write("victim", "keep");
  const std::string link = f.Path("ccc3");
  ASSERT_EQ(::symlink(f.Path("victim").c_str(), link.c_str()), 0);
  WIN32_FILE_ATTRIBUTE_DATA a{};
  ASSERT_TRUE(GetFileAttributesExA(link.c_str(), GetFileExInfoStandard, &a));
  EXPECT_EQ(a.dwFileAttributes, FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(a.nFileSizeLow, 0u);

  bool ok = false;
  EXPECT_EQ(WriteWith(link, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, "evil", &ok),
            static_cast<DWORD>(ERROR_CANT_ACCESS_FILE));
  EXPECT_FALSE(ok);
  WriteWith(link, CREATE_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, "certificate", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(f.Read("victim"), "keep");
  EXPECT_FALSE(IsLink(link));
  EXPECT_EQ(f.Read("ccc3"), "certificate");

  // A dangling link: nothing appears where it points.
  const std::string dangling = f.Path("kvnlmsg.txt");
  ASSERT_EQ(::symlink(f.Path("made-by-a-write").c_str(), dangling.c_str()), 0);
  WriteWith(dangling, CREATE_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, "message", &ok);
  EXPECT_TRUE(ok);
  EXPECT_FALSE(std::filesystem::exists(f.Path("made-by-a-write")));
  EXPECT_EQ(f.Read("kvnlmsg.txt"), "message");

  // Without the flag a link is followed, as Windows follows one.
  ASSERT_EQ(::symlink(f.Path("victim").c_str(), f.Path("followed").c_str()), 0);
  WriteWith(f.Path("followed"), CREATE_ALWAYS, 0, "through", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(f.Read("victim"), "through");

  // DeleteFileA removes the link, never its target.
  EXPECT_TRUE(DeleteFileA(f.Path("followed").c_str()));
  EXPECT_EQ(f.Read("victim"), "through");
}

TEST(Files, FindListsAFolder) {
  Folder f;
  WIN32_FIND_DATAA d{};
  EXPECT_EQ(FindFirstFileA((f.Root() + "/*").c_str(), &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(FindFirstFileA((f.Path("missing") + "/*").c_str(), &d), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  f.Write("one", "1");
  f.Write(".two", "22");
  std::filesystem::create_directory(f.Path("sub"));
  HANDLE h = FindFirstFileA((f.Root() + "/*").c_str(), &d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::set<std::string> seen;
  do {
    seen.insert(std::string(d.cFileName) + ":" + std::to_string(d.dwFileAttributes) + ":" +
                std::to_string(d.nFileSizeLow));
  } while (FindNextFileA(h, &d));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(FindClose(h));
  EXPECT_EQ(seen, (std::set<std::string>{"one:128:1", ".two:2:2", "sub:16:0"}));
}

// Counted from the process's own nice value, as Windows counts from the priority class.
TEST(Threads, PriorityIsTheThreadsOwn) {
  const int processNice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
  if (processNice > 9) GTEST_SKIP() << "the process runs at nice " << processNice << ": no room below";
  int inThread = THREAD_PRIORITY_ERROR_RETURN;
  int niceInThread = 0;
  std::thread t([&] {
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_LOWEST));
    inThread = GetThreadPriority(GetCurrentThread());
    niceInThread = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)));
  });
  t.join();
  EXPECT_EQ(inThread, THREAD_PRIORITY_LOWEST);
  EXPECT_EQ(niceInThread, processNice + 10);
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);  // this thread is untouched
  EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 7));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(SetThreadPriority(nullptr, THREAD_PRIORITY_LOWEST));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(GetCurrentThread()));  // a pseudo handle
}

TEST(Process, ModuleFileNameAndComputer) {
  char buf[4096];
  const DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::string(buf, n), std::filesystem::canonical("/proc/self/exe").string());
  EXPECT_EQ(KorvaneModuleFileName(), std::string(buf, n));
  char small[5];
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(small), std::string(buf, 4));
  EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(buf), buf, sizeof buf), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  char host[256] = {};
  ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
  const std::string want = std::string(host).substr(0, std::string(host).find('.'));
  char name[256];
  DWORD size = sizeof name;
  ASSERT_TRUE(GetComputerNameA(name, &size));
  EXPECT_EQ(std::string(name, size), want);
  DWORD tiny = 1;
  EXPECT_FALSE(GetComputerNameA(name, &tiny));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
  EXPECT_EQ(tiny, want.size() + 1);

  MEMORYSTATUSEX m{};
  EXPECT_FALSE(GlobalMemoryStatusEx(&m));
  m.dwLength = sizeof m;
  ASSERT_TRUE(GlobalMemoryStatusEx(&m));
  EXPECT_GT(m.ullTotalPhys, 0u);
  EXPECT_LE(m.ullAvailPhys, m.ullTotalPhys);
  EXPECT_LE(m.dwMemoryLoad, 100u);
  EXPECT_GE(m.ullTotalPageFile, m.ullTotalPhys);
}

TEST(Console, StandardHandlesAndModes) {
  Folder f;
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetStdHandle(STD_OUTPUT_HANDLE), out);
  EXPECT_FALSE(CloseHandle(out));  // the standard streams stay open
  DWORD mode = 0;
  EXPECT_EQ(GetConsoleMode(out, &mode) != FALSE, ::isatty(1) == 1);
  HANDLE file = CreateFileA(f.Path("plain").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(GetConsoleMode(file, &mode));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(file);
  EXPECT_EQ(GetStdHandle(7), INVALID_HANDLE_VALUE);
}

// The examples Windows documents for its command-line split, each after a program
// word, plus the program word itself with quotes and backslashes inside.
TEST(CommandLine, SplitsAsWindowsPrograms) {
  using Words = std::vector<std::string>;
  const struct {
    const char* line;
    Words words;
  } cases[] = {
      {R"(p "abc" d e)", {"p", "abc", "d", "e"}},
      {R"(p a\\b d"e f"g h)", {"p", R"(a\\b)", "de fg", "h"}},
      {R"(p a\\\"b c d)", {"p", R"(a\"b)", "c", "d"}},
      {R"(p a\\\\"b c" d e)", {"p", R"(a\\b c)", "d", "e"}},
      {R"(p a"b"" c d)", {"p", R"(ab" c d)"}},
      {R"(p "ab\"c" "\\" d)", {"p", R"(ab"c)", R"(\)", "d"}},
      {"p\t \"\"  x", {"p", "", "x"}},
      {R"("C:\Program Files\x.exe" /s)", {R"(C:\Program Files\x.exe)", "/s"}},
      {R"("/tmp/q\"x/setup.exe" /s)", {R"(/tmp/q"x/setup.exe)", "/s"}},
      {R"("/tmp/end\\" /s)", {R"(/tmp/end\)", "/s"}},
      {"   ", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kvp::SplitCommandLine(c.line), c.words) << c.line;
  }
}

TEST(Replacement, WholeOrNothingWithTheReplacedFilesBits) {
  Folder f;
  const std::string target = f.Path("user.reg");
  ASSERT_TRUE(KorvaneReplaceFile(target, "first", KORVANE_REPLACE_PRIVATE));
  EXPECT_EQ(f.Read("user.reg"), "first");
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ::chmod(target.c_str(), 0640);
  ASSERT_TRUE(KorvaneReplaceFile(target, "second", KORVANE_REPLACE_PRIVATE));
  ::stat(target.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // a rewritten file keeps its bits
  EXPECT_EQ(f.Read("user.reg"), "second");

  {
    TKorvaneReplacement r(target);
    ASSERT_TRUE(r.Create());
    EXPECT_EQ(r.TempPath().substr(0, f.Root().size() + 1 + KorvaneReplacementPrefix(target).size()),
              f.Root() + "/" + KorvaneReplacementPrefix(target));
    ASSERT_TRUE(r.Write("half", 4));
    EXPECT_EQ(f.Read("user.reg"), "second");  // untouched until the commit
  }                                           // dropped without a commit
  EXPECT_EQ(f.Read("user.reg"), "second");

  // A taken temporary name is refused, never opened.
  f.Write("taken", "theirs");
  TKorvaneReplacement r(target);
  EXPECT_FALSE(r.Create(f.Path("taken")));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(f.Read("taken"), "theirs");

  // A link planted at the target is replaced itself; what it points at keeps its bytes.
  f.Write("victim", "keep");
  const std::string link = f.Path("korvane.desktop");
  ASSERT_EQ(::symlink(f.Path("victim").c_str(), link.c_str()), 0);
  ASSERT_TRUE(KorvaneReplaceFile(link, "[Desktop Entry]\n"));
  EXPECT_FALSE(IsLink(link));
  EXPECT_EQ(f.Read("victim"), "keep");
  EXPECT_EQ(f.Read("korvane.desktop"), "[Desktop Entry]\n");

  // A program stays runnable; nothing is left beside the targets.
  ASSERT_TRUE(KorvaneReplaceFile(f.Path("setup.exe"), "#!/bin/sh\n",
                                 KORVANE_REPLACE_PRIVATE | KORVANE_REPLACE_EXECUTABLE));
  ::stat(f.Path("setup.exe").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(f.Root()))
    names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"user.reg", "taken", "victim", "korvane.desktop", "setup.exe"}));
  // A folder is never replaced.
  std::filesystem::create_directory(f.Path("folder"));
  EXPECT_FALSE(KorvaneReplaceFile(f.Path("folder"), "x"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(std::filesystem::is_directory(f.Path("folder")));
}
