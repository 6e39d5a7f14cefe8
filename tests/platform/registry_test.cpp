// The registry functions over hive files: the Windows calling protocol, malformed hives,
// access rights and durable, concurrent writes.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <korvane_registry.h>

#include "support/ScratchMachine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <csignal>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>

using korvane::testing::ScratchMachine;

namespace {

HKEY Create(HKEY root, const char* path, REGSAM sam = KEY_ALL_ACCESS) {
  HKEY h = nullptr;
  DWORD disp = 0;
  EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, &h, &disp), ERROR_SUCCESS);
  return h;
}

void SetText(HKEY h, const char* name, const std::string& text) {
  ASSERT_EQ(RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1)),
            ERROR_SUCCESS);
}

void SetDword(HKEY h, const char* name, DWORD v) {
  ASSERT_EQ(RegSetValueExA(h, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_SUCCESS);
}

std::string QueryText(HKEY h, const char* name, LONG* status = nullptr) {
  char buf[4096];
  DWORD size = sizeof buf, type = 0;
  LONG r = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  if (status) *status = r;
  return r == ERROR_SUCCESS ? std::string(buf, size ? size - 1 : 0) : std::string();
}

}  // namespace

TEST(Registry, CreateSetQueryAcrossReload) {
  ScratchMachine m;
  HKEY h = Create(HKEY_CURRENT_USER, "\\Software\\Brantholm\\Korvane");
  ASSERT_NE(h, nullptr);
  SetText(h, "LastScan", "12/09/2026 10:00:00");
  SetText(h, "Name", "Caf\xE9 \x80");  // code-page text survives the UTF-8 file
  SetDword(h, "CloseToTray", 1);
  const BYTE multi[] = "A\0B\0";
  ASSERT_EQ(RegSetValueExA(h, "Multi", 0, REG_MULTI_SZ, multi, sizeof multi), ERROR_SUCCESS);
  RegCloseKey(h);
  EXPECT_NE(m.Read("user.reg").find("\"Name\"=\"Caf\xC3\xA9 \xE2\x82\xAC\""), std::string::npos);

  KorvaneResetMachine();
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\BRANTHOLM\\korvane", 0, KEY_READ, &h), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(h, "lastscan"), "12/09/2026 10:00:00");
  EXPECT_EQ(QueryText(h, "Name"), "Caf\xE9 \x80");
  DWORD v = 0, size = 4, type = 0;
  EXPECT_EQ(RegQueryValueExA(h, "CloseToTray", nullptr, &type, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(v, 1u);
  BYTE buf[16];
  size = sizeof buf;
  EXPECT_EQ(RegQueryValueExA(h, "Multi", nullptr, &type, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), size), std::string("A\0B\0\0", 5));
  RegCloseKey(h);
}

TEST(Registry, QuerySizeProtocol) {
  ScratchMachine m;
  HKEY h = Create(HKEY_CURRENT_USER, "Software\\X");
  SetText(h, "V", "hello");
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(h, "V", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 6u);
  char small[3];
  size = sizeof small;
  EXPECT_EQ(RegQueryValueExA(h, "V", nullptr, &type, reinterpret_cast<BYTE*>(small), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(RegQueryValueExA(h, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  // Text written without its NUL is stored with one.
  ASSERT_EQ(RegSetValueExA(h, "NoNul", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(h, "NoNul"), "abc");
  EXPECT_EQ(RegDeleteValueA(h, "V"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(h, "V"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(h);
  EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExA(h, "V", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
}

TEST(Registry, OpenMissingAndReadOnlyHandles) {
  ScratchMachine m;
  HKEY h;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
  HKEY w = Create(HKEY_CURRENT_USER, "Software\\Y");
  RegCloseKey(w);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Y", 0, KEY_READ, &h), ERROR_SUCCESS);
  DWORD v = 1;
  EXPECT_EQ(RegSetValueExA(h, "V", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), ERROR_ACCESS_DENIED);
  RegCloseKey(h);
  EXPECT_EQ(m.Read("system.reg"), "");  // reads never write a hive
}

TEST(Registry, EnumAndDeleteKeys) {
  ScratchMachine m;
  HKEY h = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor");
  RegCloseKey(Create(h, "zeta"));
  RegCloseKey(Create(h, "Alpha"));
  RegCloseKey(Create(h, "beta\\deep"));
  SetText(h, "second", "2");
  SetText(h, "first", "1");
  std::vector<std::string> keys;
  for (DWORD i = 0;; ++i) {
    char name[64];
    DWORD cch = sizeof name;
    if (RegEnumKeyExA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    EXPECT_EQ(cch, std::strlen(name));
    keys.push_back(name);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "beta", "zeta"}));
  char name[4];
  DWORD cch = sizeof name;
  EXPECT_EQ(RegEnumValueA(h, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  char big[16];
  cch = sizeof big;
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegEnumValueA(h, 1, big, &cch, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_STREQ(big, "first");  // creation order
  EXPECT_EQ(size, 2u);
  cch = sizeof big;
  EXPECT_EQ(RegEnumValueA(h, 2, big, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  EXPECT_EQ(RegDeleteKeyA(h, "beta"), ERROR_ACCESS_DENIED);  // has a subkey
  EXPECT_EQ(RegDeleteKeyA(h, "beta\\deep"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(h, "beta"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(h, "beta"), ERROR_FILE_NOT_FOUND);
  RegCloseKey(h);
}

TEST(Registry, MalformedHiveIsReportedAndNeverOverwritten) {
  ScratchMachine m;
  const std::string bad = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\"x\"=dword:nope\n";
  m.Write("user.reg", bad);
  testing::internal::CaptureStderr();
  HKEY h;
  // As Windows with a damaged hive: every key of it fails with ERROR_BADDB.
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &h), ERROR_BADDB);
  EXPECT_EQ(KorvaneFaultText(ERROR_BADDB), m.Path("user.reg") + ":4: bad dword value");
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_BADDB);
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, &h), ERROR_BADDB);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(m.Path("user.reg") + ":4: bad dword value"), std::string::npos) << err;
  EXPECT_EQ(m.Read("user.reg"), bad);
}

TEST(Registry, WriteAccessToReadOnlyHiveIsDenied) {
  ScratchMachine m;
  m.Write("system.reg", "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\"v\"=\"1\"\n");
  chmod(m.Path("system.reg").c_str(), 0444);
  chmod(m.Root().c_str(), 0755);
  auto check = [&]() -> int {
    KorvaneResetMachine();
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_ALL_ACCESS, &h) != ERROR_ACCESS_DENIED) return 1;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\New", 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr) !=
        ERROR_ACCESS_DENIED)
      return 2;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &h) != ERROR_SUCCESS) return 3;
    RegCloseKey(h);
    return 0;
  };
  if (geteuid() != 0) {
    EXPECT_EQ(check(), 0);
    return;
  }
  // Root may write anything: check as an unprivileged user in a child.
  struct passwd* nobody = getpwnam("nobody");
  if (!nobody) GTEST_SKIP() << "no user 'nobody' to drop privileges to";
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(10);
    _exit(check());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Registry, ConcurrentWritersLoseNothing) {
  ScratchMachine m;
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Race"));
  constexpr int kEach = 25;
  auto writer = [](const std::string& prefix) {
    HKEY h;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Race", 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS) return false;
    for (int i = 0; i < kEach; ++i) {
      DWORD v = static_cast<DWORD>(i);
      std::string name = prefix + std::to_string(i);
      if (RegSetValueExA(h, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) != ERROR_SUCCESS) return false;
    }
    RegCloseKey(h);
    return true;
  };
  // Two processes and two threads at once.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(writer("proc") ? 0 : 1);
  bool a = false, b = false;
  std::thread t1([&] { a = writer("thrA"); });
  std::thread t2([&] { b = writer("thrB"); });
  t1.join();
  t2.join();
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(a && b);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  KorvaneResetMachine();
  HKEY h;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Race", 0, KEY_READ, &h), ERROR_SUCCESS);
  int count = 0;
  for (DWORD i = 0;; ++i) {
    char name[32];
    DWORD cch = sizeof name;
    if (RegEnumValueA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    ++count;
  }
  RegCloseKey(h);
  EXPECT_EQ(count, 3 * kEach);
}

TEST(Registry, KilledWriterLeavesWholeHive) {
  ScratchMachine m;
  HKEY h = Create(HKEY_CURRENT_USER, "Software\\Crash");
  std::string filler(2000, 'x');  // a hive big enough that writes take a while
  for (int i = 0; i < 40; ++i) SetText(h, ("Fill" + std::to_string(i)).c_str(), filler);
  RegCloseKey(h);
  for (int round = 0; round < 5; ++round) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      HKEY k;
      if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Crash", 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS)
        _exit(1);
      for (DWORD i = 0;; ++i) {
        RegSetValueExA(k, "Counter", 0, REG_DWORD, reinterpret_cast<BYTE*>(&i), 4);
        RegFlushKey(k);
      }
    }
    usleep(30000 + round * 7000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    KorvaneResetMachine();
    testing::internal::CaptureStderr();
    HKEY k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Crash", 0, KEY_READ, &k), ERROR_SUCCESS)
        << testing::internal::GetCapturedStderr();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(QueryText(k, "Fill39"), filler);
    RegCloseKey(k);
  }
  // The lock was released with the killed process: a new write goes through.
  h = Create(HKEY_CURRENT_USER, "Software\\Crash");
  SetText(h, "After", "ok");
  RegCloseKey(h);
}

// A machine that is no machine folder is refused at the first call, with the reason.
TEST(Registry, MissingMachineFolderOrSystemHiveIsRefused) {
  ScratchMachine m;
  std::filesystem::remove(m.Path("system.reg"));
  KorvaneResetMachine();
  testing::internal::CaptureStderr();
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  EXPECT_EQ(set, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_NE(KorvaneFaultText(ERROR_FILE_NOT_FOUND).find("has no system.reg"), std::string::npos);
  GUID g{};
  EXPECT_NE(CM_Enumerate_Classes(0, &g, 0), static_cast<CONFIGRET>(CR_SUCCESS));

  for (const std::string& root : {m.Path("nowhere"), m.Path("file")}) {
    m.Write("file", "x");
    setenv("KORVANE_MACHINE", root.c_str(), 1);
    KorvaneResetMachine();
    HKEY h;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &h), ERROR_PATH_NOT_FOUND) << root;
    EXPECT_NE(KorvaneFaultText(ERROR_PATH_NOT_FOUND).find(root), std::string::npos);
    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES), INVALID_HANDLE_VALUE);
  }
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("does not exist"), std::string::npos) << err;
  EXPECT_NE(err.find("is not a folder"), std::string::npos) << err;
}

// The typed reads and the key handle of the layer's extras, against a hive holding every
// case a caller tells apart.
TEST(Registry, TypedReadsAndTheKeyHandle) {
  ScratchMachine m;
  m.Write("user.reg",
          "Windows Registry Editor Version 5.00\n\n"
          "[HKEY_CURRENT_USER\\Software\\T]\n"
          "\"Sz\"=\"plain\"\n"
          "\"Empty\"=\"\"\n"
          "\"Expand\"=hex(2):25,00,54,00,25,00,00,00\n"
          "\"Cut\"=hex(1):61,00,00,00,62,00,00,00\n"
          "\"Bare\"=hex(1):61,00,62,00\n"
          "\"Number\"=dword:0000002a\n"
          "\"Short\"=hex(4):2a,00\n"
          "\"Bin\"=hex:01,02\n"
          "\"Long\"=\"" +
              std::string(1000, 'x') + "\"\n");
  KorvaneRegKey key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\T", 0, KEY_READ, key.Receive()), ERROR_SUCCESS);
  ASSERT_TRUE(key);

  KorvaneRegTextRules szOnly;
  szOnly.expandSz = false;
  KorvaneRegTextRules small;
  small.maxBytes = 255;
  struct Case {
    const char* name;
    KorvaneRegTextRules rules;
    LSTATUS status;
    std::string text;
  } cases[] = {
      {"Sz", {}, ERROR_SUCCESS, "plain"},
      {"Empty", {}, ERROR_SUCCESS, ""},
      {"Expand", {}, ERROR_SUCCESS, "%T%"},  // as stored, not expanded
      {"Expand", szOnly, ERROR_UNSUPPORTED_TYPE, ""},
      {"Cut", {}, ERROR_SUCCESS, "a"},    // up to the first NUL
      {"Bare", {}, ERROR_SUCCESS, "ab"},  // stored without its NUL
      {"Number", {}, ERROR_UNSUPPORTED_TYPE, ""},
      {"Missing", {}, ERROR_FILE_NOT_FOUND, ""},
      {"Long", {}, ERROR_SUCCESS, std::string(1000, 'x')},  // beyond the first buffer
      {"Long", small, ERROR_MORE_DATA, ""},
      {"Sz", small, ERROR_SUCCESS, "plain"},
  };
  for (const Case& c : cases) {
    std::string text = "left over";
    EXPECT_EQ(RegReadString(key.Get(), c.name, text, c.rules), c.status) << c.name;
    EXPECT_EQ(text, c.text) << c.name;
  }
  DWORD v = 7;
  EXPECT_EQ(RegReadDword(key.Get(), "Number", v), ERROR_SUCCESS);
  EXPECT_EQ(v, 42u);
  for (const char* name : {"Short", "Bin", "Sz"}) {
    v = 7;
    EXPECT_EQ(RegReadDword(key.Get(), name, v), ERROR_UNSUPPORTED_TYPE) << name;
    EXPECT_EQ(v, 0u) << name;
  }
  EXPECT_EQ(RegReadDword(key.Get(), "Missing", v), ERROR_FILE_NOT_FOUND);

  // A moved handle is closed once, by its last owner.
  const HKEY raw = key.Get();
  KorvaneRegKey moved(std::move(key));
  EXPECT_FALSE(key);  // NOLINT(bugprone-use-after-move): the moved-from handle is empty
  EXPECT_EQ(moved.Get(), raw);
  std::string text;
  EXPECT_EQ(RegReadString(raw, "Sz", text), ERROR_SUCCESS);
  moved = KorvaneRegKey();
  EXPECT_EQ(RegReadString(raw, "Sz", text), ERROR_INVALID_HANDLE);
  // A predefined root is held without being closed.
  { KorvaneRegKey root(HKEY_CURRENT_USER); }
  KorvaneRegKey again;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\T", 0, KEY_READ, again.Receive()), ERROR_SUCCESS);
  EXPECT_EQ(RegReadString(HKEY_CURRENT_USER, "Missing", text), ERROR_FILE_NOT_FOUND);
}

// Values set through a handle are kept until it is closed or flushed, seen by every other
// handle of the process at once, and written in one rewrite merged with what another
// writer put into the file meanwhile.
TEST(Registry, ValuesAreWrittenWhenTheirHandleIsClosed) {
  ScratchMachine m;
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\Lazy"));
  const std::string before = m.Read("user.reg");
  HKEY w = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Lazy", 0, KEY_ALL_ACCESS, &w), ERROR_SUCCESS);
  SetText(w, "A", "first");
  SetDword(w, "B", 7);
  SetText(w, "A", "second");
  EXPECT_EQ(m.Read("user.reg"), before);

  HKEY r = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Lazy", 0, KEY_READ, &r), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(r, "A"), "second");
  char name[16];
  DWORD cch = sizeof name;
  EXPECT_EQ(RegEnumValueA(r, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_STREQ(name, "B");
  EXPECT_EQ(RegDeleteValueA(w, "B"), ERROR_SUCCESS);
  cch = sizeof name;
  EXPECT_EQ(RegEnumValueA(r, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  // Another process writes the hive meanwhile; closing a handle that changed nothing
  // writes nothing.
  const std::string other = before + "[HKEY_CURRENT_USER\\Software\\Other]\n\"X\"=\"y\"\n\n";
  m.Write("user.reg", other);
  EXPECT_EQ(QueryText(r, "A"), "second");  // still seen after the file changed
  RegCloseKey(r);
  EXPECT_EQ(m.Read("user.reg"), other);
  EXPECT_EQ(RegCloseKey(w), ERROR_SUCCESS);

  KorvaneResetMachine();
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Lazy", 0, KEY_READ, &r), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(r, "A"), "second");
  LONG status = 0;
  QueryText(r, "B", &status);
  EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
  RegCloseKey(r);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Other", 0, KEY_READ, &r), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(r, "X"), "y");
  RegCloseKey(r);
}

// A flush rewrites the changed key's section and copies the rest of the file as it is,
// also on a second flush; a key of two sections takes a whole rewrite.
TEST(Registry, AFlushRewritesOnlyTheChangedSections) {
  ScratchMachine m;
  const std::string head =
      "Windows Registry Editor Version 5.00\n\n"
      "[HKEY_CURRENT_USER\\Software\\Keep]\n; a comment regedit would not write\n\"x\" = \"1\"\n\n";
  const std::string tail = "[HKEY_CURRENT_USER\\Software\\Tail]\n\"t\"=dword:00000001\n";
  m.Write("user.reg", head + "[HKEY_CURRENT_USER\\Software\\Change]\n\"old\"=\"1\"\n\n" + tail);
  KorvaneResetMachine();
  HKEY h = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\change", 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
  SetText(h, "new", "2");
  ASSERT_EQ(RegDeleteValueA(h, "old"), ERROR_SUCCESS);
  ASSERT_EQ(RegFlushKey(h), ERROR_SUCCESS);
  EXPECT_EQ(m.Read("user.reg"), head + "[HKEY_CURRENT_USER\\Software\\Change]\n\"new\"=\"2\"\n\n" + tail);
  SetDword(h, "more", 3);
  ASSERT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  EXPECT_EQ(
      m.Read("user.reg"),
      head + "[HKEY_CURRENT_USER\\Software\\Change]\n\"new\"=\"2\"\n\"more\"=dword:00000003\n\n" + tail);
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tail", 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
  SetText(h, "u", "v");
  ASSERT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  EXPECT_EQ(m.Read("user.reg"),
            head + "[HKEY_CURRENT_USER\\Software\\Change]\n\"new\"=\"2\"\n\"more\"=dword:00000003\n\n" +
                "[HKEY_CURRENT_USER\\Software\\Tail]\n\"t\"=dword:00000001\n\"u\"=\"v\"\n\n");

  m.Write("user.reg",
          "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Twice]\n\"a\"=\"1\"\n\n"
          "[HKEY_CURRENT_USER\\Software\\Keep]\n\n[HKEY_CURRENT_USER\\Software\\Twice]\n\"b\"=\"2\"\n\n");
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Twice", 0, KEY_ALL_ACCESS, &h), ERROR_SUCCESS);
  SetText(h, "c", "3");
  ASSERT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  EXPECT_EQ(m.Read("user.reg"),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CURRENT_USER\\Software\\Keep]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Twice]\n\"a\"=\"1\"\n\"b\"=\"2\"\n\"c\"=\"3\"\n\n");
}

// Values set to what they hold already (every start saves the settings it loaded) leave
// the file as it is, not rewritten and synced anew; whether this process wrote the file
// last or another one did. A real change still writes.
TEST(Registry, ASaveThatChangesNothingWritesNothing) {
  ScratchMachine m;
  HKEY h = Create(HKEY_CURRENT_USER, "Software\\Same");
  SetText(h, "A", "one");
  SetDword(h, "B", 2);
  ASSERT_EQ(RegCloseKey(h), ERROR_SUCCESS);
  const auto identity = [&] {
    struct stat st {};
    EXPECT_EQ(stat(m.Path("user.reg").c_str(), &st), 0);
    return std::make_pair(st.st_ino, st.st_mtim.tv_nsec + st.st_mtim.tv_sec * 1000000000LL);
  };
  const auto resave = [&](const char* text) {
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Same", 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    SetText(k, "A", text);
    SetDword(k, "B", 2);
    ASSERT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  };
  const auto written = identity();
  const std::string file = m.Read("user.reg");
  resave("one");
  EXPECT_EQ(identity(), written);

  // Another process rewrote the file meanwhile (same bytes, a new file).
  m.Write("user.reg", file);
  const auto theirs = identity();
  resave("one");
  EXPECT_EQ(identity(), theirs);
  EXPECT_EQ(m.Read("user.reg"), file);

  resave("two");
  EXPECT_NE(identity(), theirs);
  HKEY r = nullptr;
  KorvaneResetMachine();
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Same", 0, KEY_READ, &r), ERROR_SUCCESS);
  EXPECT_EQ(QueryText(r, "A"), "two");
  RegCloseKey(r);
}

// A process that ends without closing its key loses what it had not flushed, never the
// hive; one that exits normally has its values written on the way out.
TEST(Registry, AnEndWithoutCloseLosesOnlyTheUnflushedValues) {
  ScratchMachine m;
  RegCloseKey(Create(HKEY_CURRENT_USER, "Software\\End"));
  auto child = [](bool crash) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\End", 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) _exit(1);
    DWORD v = 1;
    RegSetValueExA(k, crash ? "Flushed" : "AtExit", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
    if (!crash) std::exit(0);
    RegFlushKey(k);
    RegSetValueExA(k, "Lost", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
    _exit(0);
  };
  for (bool crash : {true, false}) {
    pid_t pid = child(crash);
    ASSERT_GE(pid, 0);
    int status = 0;
    waitpid(pid, &status, 0);
    // The normal exit runs the destructors of whatever earlier tests left in this
    // process's copy too; what counts is the value it wrote on the way out.
    if (crash) {
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
  }
  KorvaneResetMachine();
  HKEY k;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\End", 0, KEY_READ, &k), ERROR_SUCCESS);
  DWORD v = 0;
  EXPECT_EQ(RegReadDword(k, "Flushed", v), ERROR_SUCCESS);
  EXPECT_EQ(RegReadDword(k, "AtExit", v), ERROR_SUCCESS);
  EXPECT_EQ(RegReadDword(k, "Lost", v), ERROR_FILE_NOT_FOUND);
  RegCloseKey(k);
}
