// The korvane-check executable against the reference update server: exit statuses,
// the JSON document and its README schema, and the offline check's round trip.
#include "support/ScratchMachine.h"
#include "core/uSettings.h"
#include "support/UpdateServerProcess.h"

#include <gtest/gtest.h>
#include <korvane_machine.h>
#include <nlohmann/json.hpp>
#include <windows.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using korvane::testing::ScratchMachine;

extern char** environ;

namespace fs = std::filesystem;
using korvane::testing::UpdateServerOptions;
using korvane::testing::UpdateServerProcess;
using Json = nlohmann::ordered_json;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Source(const std::string& rel) {
  const char* src = std::getenv("KORVANE_SOURCE_DIR");
  return std::string(src ? src : ".") + "/" + rel;
}

struct TRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// Runs korvane-check on the machine KORVANE_MACHINE names now. stdoutPath: where
// stdout goes (a scratch file when empty; "/dev/full" for a write error).
TRun RunTool(const std::string& tool, const std::vector<std::string>& args,
             const std::string& stdoutPath = "") {
  const char* bin = std::getenv("KORVANE_BINARY_DIR");
  const std::string exe = std::string(bin ? bin : ".") + "/tools/" + tool + "/" + tool;
  static int serial = 0;
  const std::string base = fs::temp_directory_path().string() + "/kv-check-run-" +
                           std::to_string(::getpid()) + "-" + std::to_string(++serial);
  const std::string outPath = stdoutPath.empty() ? base + ".out" : stdoutPath;
  const std::string errPath = base + ".err";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(exe.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  TRun run;
  pid_t pid = -1;
  if (posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ) == 0) {
    int st = 0;
    ::waitpid(pid, &st, 0);
    run.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }
  posix_spawn_file_actions_destroy(&fa);
  if (stdoutPath.empty()) {
    run.Out = ReadAll(outPath);
    ::unlink(outPath.c_str());
  }
  run.Err = ReadAll(errPath);
  ::unlink(errPath.c_str());
  return run;
}

TRun RunCheck(const std::vector<std::string>& args, const std::string& stdoutPath = "") {
  return RunTool("korvane-check", args, stdoutPath);
}

// A value of the current machine's HKEY_CURRENT_USER, as the machine's files hold it now.
std::optional<std::string> UserValue(const char* keyPath, const char* name) {
  KorvaneResetMachine();
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0, size = 0;
  LSTATUS rc = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
  std::vector<BYTE> data(size + 1, 0);
  if (rc == ERROR_SUCCESS) rc = RegQueryValueExA(key, name, nullptr, &type, data.data(), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return std::nullopt;
  if (type == REG_DWORD) return std::to_string(*reinterpret_cast<const DWORD*>(data.data()));
  return std::string(reinterpret_cast<const char*>(data.data()));
}

// The figures a check stores, and nothing the window program owns.
struct TStored {
  std::optional<std::string> LastScan, tDrivers, udDrivers, odDrivers, IsSysUpdated;
  bool operator==(const TStored& o) const {
    return tDrivers == o.tDrivers && udDrivers == o.udDrivers && odDrivers == o.odDrivers &&
           IsSysUpdated == o.IsSysUpdated && LastScan.has_value() == o.LastScan.has_value();
  }
};
TStored Stored() {
  TStored s;
  s.LastScan = UserValue(SettingsKeyName, "LastScan");
  s.tDrivers = UserValue(SettingsKeyName, "tDrivers");
  s.udDrivers = UserValue(SettingsKeyName, "udDrivers");
  s.odDrivers = UserValue(SettingsKeyName, "odDrivers");
  s.IsSysUpdated = UserValue(SettingsKeyName, "IsSysUpdated");
  return s;
}

// The machine as the window program would find it after korvane-check: no Run
// value (so no autostart entry), no settings of the window's, no server addresses.
void ExpectNothingButCheckFigures(const std::string& what) {
  EXPECT_FALSE(UserValue(RunKeyName, RunValueName).has_value()) << what;
  EXPECT_FALSE(UserValue(SettingsKeyName, "AutoRun").has_value()) << what;
  EXPECT_FALSE(UserValue(SettingsKeyName, "CloseToTray").has_value()) << what;
  EXPECT_FALSE(UserValue(SettingsKeyName, "UpdateURL").has_value()) << what;
  EXPECT_FALSE(UserValue(SettingsKeyName, "SecureUpdateURL").has_value()) << what;
}

// The reference server with the demo catalogue, which finds drivers of the
// Windows XP desktop machine out of date.
UpdateServerOptions DemoServer() {
  UpdateServerOptions o;
  o.Catalogue = Source("demo/catalogue.txt");
  return o;
}

std::vector<std::string> Servers(const UpdateServerProcess& srv) {
  return {"--server", srv.HttpBase(), "--secure-server", srv.HttpsBase()};
}

std::vector<std::string> Cat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(CheckProcessTest, ExitStatuses) {
  ASSERT_TRUE(UpdateServerProcess::Available());
  UpdateServerProcess demo(DemoServer());
  UpdateServerProcess allCurrent;  // no catalogue: every driver up to date
  UpdateServerOptions refusing;
  refusing.ExtraArgs = {"--force-errcode", "3", "--force-errmsg", "Down for maintenance"};
  UpdateServerProcess maintenance(refusing);
  const std::vector<std::string> nowhere = {"--server", "http://127.0.0.1:1"};

  struct TCase {
    const char* What;
    const char* Fixture;  // nullptr: a machine folder that does not exist
    std::vector<std::string> Args;
    int Status;
    const char* OutHas = "";
    const char* ErrHas = "";
    const char* StdoutPath = "";
    bool Damaged = false;               // the machine's devices.json is no JSON
    const char* SysinfoJson = nullptr;  // the machine's sysinfo.json, when given
    bool NoSystemHive = false;          // the machine folder lacks system.reg
  };
  const std::vector<TCase> cases = {
      {"a listing", "xp-desktop", {}, 0, "devices in"},
      {"a listing whose scan fails", "scan-badvalue", {"--tsv"}, 1, "summary\t"},
      {"out of date drivers", "xp-desktop", Cat({"--exchange"}, Servers(demo)), 100, "[out of date]"},
      {"nothing out of date", "xp-desktop", Cat({"--exchange", "--tsv"}, Servers(allCurrent)), 0,
       "summary\t"},
      {"a server error code above 1", "xp-desktop", Cat({"--exchange"}, Servers(maintenance)), 1,
       "(drivers not checked)", "Down for maintenance"},
      {"an unreachable server", "xp-desktop", Cat({"--exchange"}, nowhere), 1, "(scan stopped)",
       "could not be reached"},
      {"a machine that cannot be read", nullptr, {"--tsv"}, 1},
      {"a damaged machine", "scan-tsv", {"--tsv"}, 1, "summary\t", "not valid JSON", "", true},
      {"a write error on stdout", "scan-tsv", {"--tsv"}, 1, "", "cannot write", "/dev/full"},
      {"a write error on stdout, checked", "xp-desktop", Cat({"--exchange", "--json"}, Servers(demo)), 1, "",
       "cannot write", "/dev/full"},
      {"--help", "scan-tsv", {"--help"}, 0, "Exit status: 0 checked"},
      {"--help on a full disk", "scan-tsv", {"--help"}, 1, "", "", "/dev/full"},
      {"--version", "scan-tsv", {"--version"}, 0, "korvane-check "},
      {"an unknown option", "scan-tsv", {"--nonsense"}, 2, "", "unknown argument"},
      {"a server that is no URL", "scan-tsv", {"--exchange", "--server", "update.example"}, 2, "", "http://"},
      // A refused sysinfo.json: one message with the file and the reason, its figures
      // unknown (empty), not zero.
      {"a refused sysinfo.json",
       "xp-desktop",
       {"--sysinfo"},
       1,
       "RamTotal\t\n",
       "sysinfo.json: \"memoryLoad\" is above 100",
       "",
       false,
       R"({"computerName": "PC1", "ram": 536870912, "memoryLoad": 298})"},
      {"a refused sysinfo.json, as JSON",
       "xp-desktop",
       {"--sysinfo", "--json"},
       1,
       "\"RamTotal\": null",
       "sysinfo.json: \"ram\" is not a whole number",
       "",
       false,
       R"({"ram": -5})"},
      {"a machine without system.reg",
       "xp-desktop",
       {"--sysinfo"},
       1,
       "",
       "has no system.reg",
       "",
       false,
       nullptr,
       true},
      {"a machine without system.reg, listed",
       "xp-desktop",
       {"--tsv"},
       1,
       "",
       "has no system.reg",
       "",
       false,
       nullptr,
       true},
  };
  for (const TCase& c : cases) {
    std::optional<ScratchMachine> machine;
    if (c.Fixture) {
      machine.emplace(c.Fixture);
      if (c.Damaged) korvane::testing::WriteTextFile(machine->Root() + "/devices.json", "{garbage");
      if (c.SysinfoJson) korvane::testing::WriteTextFile(machine->Root() + "/sysinfo.json", c.SysinfoJson);
      if (c.NoSystemHive) fs::remove(machine->Root() + "/system.reg");
    } else {
      ::setenv("KORVANE_MACHINE", "/nonexistent/korvane-machine", 1);
      KorvaneResetMachine();
    }
    const TRun r = RunCheck(c.Args, c.StdoutPath);
    EXPECT_EQ(r.Status, c.Status) << c.What << "\n" << r.Err;
    EXPECT_NE(r.Out.find(c.OutHas), std::string::npos) << c.What << "\n" << r.Out;
    EXPECT_NE(r.Err.find(c.ErrHas), std::string::npos) << c.What << "\n" << r.Err;
    if (c.Fixture) ExpectNothingButCheckFigures(c.What);
    if (c.SysinfoJson || c.NoSystemHive) {
      // Said once, and no figure passed off as the machine's.
      std::size_t lines = 0;
      for (char ch : r.Err) lines += ch == '\n';
      EXPECT_EQ(lines, 1u) << c.What << "\n" << r.Err;
      EXPECT_EQ(r.Out.find(" Mb"), std::string::npos) << c.What << "\n" << r.Out;
      EXPECT_EQ(r.Out.find("0%"), std::string::npos) << c.What << "\n" << r.Out;
    }
    if (std::string(c.What) == "out of date drivers") {
      EXPECT_EQ(UserValue(SettingsKeyName, "odDrivers").value_or("0") != "0", true);
      EXPECT_TRUE(UserValue(SettingsKeyName, "LastScan").has_value());
    }
    if (std::string(c.What) == "a server error code above 1") {
      // The server refused: no driver is passed off as up to date.
      EXPECT_EQ(r.Out.find("[up to date]"), std::string::npos) << r.Out;
    }
    if (!c.Fixture) {
      ::unsetenv("KORVANE_MACHINE");
      KorvaneResetMachine();
    }
  }
  // A server error in the JSON: the kind, and no verdict on any device.
  ScratchMachine m("xp-desktop");
  const TRun r = RunCheck(Cat({"--exchange", "--json"}, Servers(maintenance)));
  EXPECT_EQ(r.Status, 1);
  const Json doc = Json::parse(r.Out);
  EXPECT_EQ(doc["error"]["kind"], "server-error");
  EXPECT_EQ(doc["error"]["text"], "Down for maintenance");
  EXPECT_EQ(doc["summary"]["checked"], false);
  EXPECT_EQ(doc["summary"]["exit_status"], 1);
  for (const Json& cls : doc["classes"])
    for (const Json& dev : cls["devices"]) EXPECT_TRUE(dev["verdict"].is_null());
}

// Every object of `actual` has exactly the keys of the README example at the same
// place, in the same order, with the same types where both are not null; array
// elements are held to the example's first element.
void ExpectSameShape(const Json& example, const Json& actual, const std::string& where) {
  if (example.is_null() || actual.is_null()) return;
  ASSERT_EQ(example.type_name(), std::string(actual.type_name())) << where;
  if (example.is_object()) {
    std::vector<std::string> want, got;
    for (auto it = example.begin(); it != example.end(); ++it) want.push_back(it.key());
    for (auto it = actual.begin(); it != actual.end(); ++it) got.push_back(it.key());
    ASSERT_EQ(got, want) << where;
    for (auto it = example.begin(); it != example.end(); ++it)
      ExpectSameShape(it.value(), actual[it.key()], where + "." + it.key());
  } else if (example.is_array() && !example.empty()) {
    for (std::size_t i = 0; i < actual.size(); ++i) {
      // A nullable member is shown filled in one element of the example.
      const Json* best = &example[0];
      for (const Json& e : example)
        if (e.is_object() && actual[i].is_object() && e.size() == actual[i].size()) best = &e;
      ExpectSameShape(*best, actual[i], where + "[" + std::to_string(i) + "]");
    }
  }
}

// The "```json" block after the heading of the JSON schema in README.md.
Json ReadmeExample() {
  const std::string readme = ReadAll(Source("README.md"));
  const std::size_t section = readme.find("### korvane-check --json");
  if (section == std::string::npos) return Json();
  const std::size_t open = readme.find("```json\n", section);
  const std::size_t close = readme.find("\n```", open + 8);
  if (open == std::string::npos || close == std::string::npos) return Json();
  return Json::parse(readme.substr(open + 8, close - open - 8));
}

TEST(CheckProcessTest, JsonFollowsTheReadmeSchema) {
  const Json example = ReadmeExample();
  ASSERT_TRUE(example.is_object()) << "README.md has no JSON example";
  UpdateServerProcess demo(DemoServer());
  ScratchMachine m("xp-desktop");
  const TRun r = RunCheck(Cat({"--exchange", "--json"}, Servers(demo)));
  ASSERT_EQ(r.Status, 100) << r.Err;
  const Json doc = Json::parse(r.Out);
  ExpectSameShape(example, doc, "$");
  EXPECT_EQ(doc["format"], "korvane-check/1");
  EXPECT_EQ(doc["mode"], "check");
  EXPECT_EQ(doc["summary"]["checked"], true);
  EXPECT_EQ(doc["summary"]["exit_status"], 100);
  EXPECT_TRUE(doc["error"].is_null());
  // The verdict agrees with the stored figures and the records.
  int outOfDate = 0, devices = 0;
  for (const Json& cls : doc["classes"]) {
    for (const Json& dev : cls["devices"]) {
      ++devices;
      EXPECT_TRUE(dev["hardware_ids"].is_array());
      if (dev["verdict"] == "out-of-date") {
        ++outOfDate;
        EXPECT_FALSE(dev["newer_driver"]["url"].get<std::string>().empty());
        EXPECT_TRUE(cls["has_updates"].get<bool>());
      }
    }
  }
  EXPECT_GT(outOfDate, 0);
  EXPECT_EQ(doc["summary"]["out_of_date"], outOfDate);
  EXPECT_EQ(doc["summary"]["devices"], devices);
  EXPECT_EQ(doc["summary"]["stored"]["odDrivers"], outOfDate);
  EXPECT_EQ(doc["summary"]["stored"]["tDrivers"], devices);
  EXPECT_EQ(doc["summary"]["stored"]["odDrivers"].dump(), *UserValue(SettingsKeyName, "odDrivers"));
  // A listing and the system facts have the same document's parts.
  const TRun listing = RunCheck({"--json"});
  ASSERT_EQ(listing.Status, 0) << listing.Err;
  const Json list = Json::parse(listing.Out);
  ExpectSameShape(example, list, "$");
  EXPECT_EQ(list["summary"]["checked"], false);
  EXPECT_EQ(list["machine"], doc["machine"]);
  const TRun facts = RunCheck({"--sysinfo", "--json"});
  ASSERT_EQ(facts.Status, 0) << facts.Err;
  EXPECT_EQ(Json::parse(facts.Out)["machine"], doc["machine"]);
}

// The JSON of a check without what differs from run to run (the scan's time).
Json Comparable(Json doc) {
  doc["mode"] = "";
  if (doc["summary"]["stored"].is_object()) doc["summary"]["stored"]["LastScan"] = "";
  return doc;
}

TEST(CheckProcessTest, OfflineCheckGivesWhatAnOnlineCheckGives) {
  UpdateServerProcess demo(DemoServer());
  // One online check of the machine.
  Json online;
  TStored onlineStored;
  std::string uploaded;
  {
    ScratchMachine m("xp-desktop");
    const TRun r = RunCheck(Cat({"--exchange", "--json"}, Servers(demo)));
    ASSERT_EQ(r.Status, 100) << r.Err;
    online = Json::parse(r.Out);
    onlineStored = Stored();
    uploaded = ReadAll(m.Temp() + "scanres.log.gz");  // what the check posted
  }
  ASSERT_TRUE(onlineStored.LastScan.has_value());

  // The same machine without a network: export, submit elsewhere, import.
  ScratchMachine offline("xp-desktop");
  const std::string dir = korvane::testing::MakeScratchFolder("kv-offline");
  const std::string report = dir + "/report.gz";
  const std::string answer = dir + "/answer.txt";
  TRun r = RunCheck({"--export", report});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  EXPECT_EQ(ReadAll(report), uploaded);         // the exact bytes the online check uploaded
  EXPECT_FALSE(Stored().LastScan.has_value());  // an export stores nothing
  {
    ScratchMachine other;  // the machine with the network
    r = RunCheck(Cat({"--submit", report, "--answer-out", answer}, Servers(demo)));
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_FALSE(Stored().LastScan.has_value());  // nor does a submit
    ExpectNothingButCheckFigures("submit");
  }
  ::setenv("KORVANE_MACHINE", offline.Root().c_str(), 1);
  KorvaneResetMachine();
  const std::string header = ReadAll(answer).substr(0, ReadAll(answer).find('\n'));
  EXPECT_EQ(header.rfind("korvane-answer sha256=", 0), 0u) << header;
  r = RunCheck({"--import", answer, "--json"});
  ASSERT_EQ(r.Status, 100) << r.Err;
  const Json imported = Json::parse(r.Out);
  EXPECT_EQ(imported["mode"], "import");
  EXPECT_EQ(Comparable(imported), Comparable(online));
  EXPECT_TRUE(Stored() == onlineStored);
  ExpectNothingButCheckFigures("import");
  // The same answer as a listing.
  r = RunCheck({"--import", answer});
  EXPECT_EQ(r.Status, 100) << r.Err;
  EXPECT_NE(r.Out.find("[out of date]"), std::string::npos);

  // A changed machine (one driver updated since the export) refuses the old answer
  // and keeps the figures of the last check.
  const std::string reg = offline.Root() + "/system.reg";
  std::string hive = ReadAll(reg);
  const std::size_t at = hive.find("\"DriverDate\"=\"");
  ASSERT_NE(at, std::string::npos);
  hive.insert(at + 14, "1");
  korvane::testing::WriteTextFile(reg, hive);
  KorvaneResetMachine();
  const TStored before = Stored();
  r = RunCheck({"--import", answer, "--json"});
  EXPECT_EQ(r.Status, 1) << r.Err;
  const Json refused = Json::parse(r.Out);
  EXPECT_EQ(refused["error"]["kind"], "answer-mismatch");
  EXPECT_EQ(refused["summary"]["checked"], false);
  EXPECT_NE(r.Err.find("another report"), std::string::npos) << r.Err;
  EXPECT_TRUE(Stored() == before);
  EXPECT_EQ(Stored().LastScan, before.LastScan);
  korvane::testing::RemoveFolder(dir);
}

// korvane-reg as scripts meet it: stdin is no terminal here, so a question is
// answered no.
TEST(RegToolProcessTest, VersionUnansweredQuestionAndAFullDisk) {
  ScratchMachine m;
  const std::string key = "HKCU\\Software\\Brantholm\\Korvane";
  TRun r = RunTool("korvane-reg", {"--version"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out.rfind("korvane-reg ", 0), 0u) << r.Out;
  EXPECT_EQ(RunTool("korvane-reg", {"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "1"}).Status, 0);
  r = RunTool("korvane-reg", {"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "2"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Out.find("canceled"), std::string::npos) << r.Out;
  EXPECT_EQ(RunTool("korvane-reg", {"delete", key}).Status, 1);
  EXPECT_EQ(UserValue(SettingsKeyName, "N").value_or(""), "1");
  EXPECT_EQ(RunTool("korvane-reg", {"query", key}, "/dev/full").Status, 1);
  EXPECT_EQ(RunTool("korvane-reg", {"query", key}).Status, 0);
  EXPECT_EQ(RunTool("korvane-reg", {"--version"}, "/dev/full").Status, 1);
}

// korvane-reg on a machine whose hive is damaged: the fault's location on a line of
// its own, then the system's text for the code, as reg.exe prints it.
TEST(RegToolProcessTest, ErrorsReadAsTheSystemWordsThem) {
  ScratchMachine m;
  const std::string key = "HKCU\\Software\\Brantholm\\Korvane";
  const char* const damaged =
      "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\"N\"=hex:zz\n";
  struct TCase {
    const char* What;
    const char* UserHive;
    std::vector<std::string> Args;
    std::string Err;  // the whole of stderr, "@" standing for the machine folder
  };
  const std::vector<TCase> cases = {
      {"a damaged hive, read",
       damaged,
       {"query", key},
       "korvane: @/user.reg:4: bad hex byte\nERROR: The configuration registry database is corrupt.\n"},
      {"a damaged hive, written",
       damaged,
       {"add", key, "/v", "N", "/t", "REG_DWORD", "/d", "1", "/f"},
       "korvane: @/user.reg:4: bad hex byte\nERROR: The configuration registry database is corrupt.\n"},
      {"a key that is not there",
       "Windows Registry Editor Version 5.00\n\n",
       {"query", key},
       "ERROR: The system was unable to find the specified registry key or value.\n"},
  };
  for (const TCase& c : cases) {
    m.Write("user.reg", c.UserHive);
    const TRun r = RunTool("korvane-reg", c.Args);
    std::string want = c.Err;
    for (std::size_t at; (at = want.find('@')) != std::string::npos;) want.replace(at, 1, m.Root());
    EXPECT_EQ(r.Status, 1) << c.What;
    EXPECT_EQ(r.Err, want) << c.What;
  }
}

}  // namespace
