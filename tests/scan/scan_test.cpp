#include "scan/DeviceHelper.h"
#include "scan/uConsoleScanPage.h"
#include "scan/uScanThread.h"

#include "support/ScratchMachine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <korvane_text.h>

#include <sstream>
#include <string>
#include <vector>

using korvane::testing::ScratchMachine;

namespace {

const char* const kDisplay = "{4D36E968-E325-11CE-BFC1-08002BE10318}";
const char* const kKeyboard = "{4D36E96B-E325-11CE-BFC1-08002BE10318}";
const char* const kMouse = "{4D36E96F-E325-11CE-BFC1-08002BE10318}";
const char* const kMedia = "{4D36E96C-E325-11CE-BFC1-08002BE10318}";

// Records every UI call with the counters it saw, and whether it ran on the UI thread.
// A progress call carries the counters of its device (the scan has gone on meanwhile).
class TRecordingPage : public IScanPage {
 public:
  explicit TRecordingPage(TPumpedUiQueue& q) : queue_(q) {}
  struct Call {
    std::string name;
    int found, classCount, processed, total;
    std::string desc;
  };
  void Record(const std::string& name, TScanThread* t) {
    if (!queue_.IsUiThread()) offUiThread = true;
    Call c{name, 0, 0, 0, 0, ""};
    if (t) {
      scan = t;
      c = {name, t->FoundInClass, t->ClassDevCount, t->Processed, t->TotalDevices, t->CurClassDesc};
    }
    calls.push_back(c);
    if (name == "ShowClassStarted" && stopAtClass == ++classesStarted) t->Terminate();
  }
  void ResetPage(TScanThread& t) override { Record("ResetPage", &t); }
  void ClearPage(TScanThread& t) override { Record("ClearPage", &t); }
  void ShowClassStarted(TScanThread& t) override { Record("ShowClassStarted", &t); }
  void ShowProgress(const TScanProgress& p) override {
    if (!queue_.IsUiThread()) offUiThread = true;
    calls.push_back({"ShowProgress", p.FoundInClass, p.ClassDevCount, p.Processed, p.TotalDevices, ""});
    if (stopAtDevice && p.Processed >= stopAtDevice) scan->Terminate();
  }
  void AddClassIcon(HICON icon) override {
    icons.push_back(icon);
    Record("AddClassIcon", nullptr);
  }
  void ShowSearching(const std::string& text) override {
    searching = text;
    Record("ShowSearching", nullptr);
  }
  void BeginUpdateCheck() override { Record("BeginUpdateCheck", nullptr); }
  void FinishUpdateCheck() override { Record("FinishUpdateCheck", nullptr); }
  int ShowConnectivityPrompt(const std::string&) override {
    Record("ShowConnectivityPrompt", nullptr);
    return 2;  // Cancel
  }
  void ShowNoAnswer(const std::string&) override { Record("ShowNoAnswer", nullptr); }
  void ShowPackingError(const std::string&) override { Record("ShowPackingError", nullptr); }

  int Count(const std::string& name) const {
    int n = 0;
    for (const auto& c : calls) n += c.name == name;
    return n;
  }
  // The device count of the last progress call, 0 without one.
  int LastProcessed() const {
    for (auto c = calls.rbegin(); c != calls.rend(); ++c)
      if (c->name == "ShowProgress") return c->processed;
    return 0;
  }

  std::vector<Call> calls;
  std::vector<HICON> icons;
  std::string searching;
  bool offUiThread = false;
  int stopAtClass = 0, stopAtDevice = 0, classesStarted = 0;
  TScanThread* scan = nullptr;  // the thread of the last call that named it

 private:
  TPumpedUiQueue& queue_;
};

// Runs one scan on a copy of a fixture machine, the device phase only unless asked.
struct TScanRun {
  explicit TScanRun(const std::string& fixture) : machine(fixture), page(queue) {
    InstallUiQueue(&queue);
    state.TempFolder = machine.Temp();
  }
  ~TScanRun() { InstallUiQueue(nullptr); }
  bool Run(bool exchange = false) {
    TScanThread scan(state, page);
    scan.RunExchange = exchange;
    TWaitHandle h = scan.Handle();
    scan.Start();
    EXPECT_TRUE(queue.PumpUntil([&] { return h->IsSet(); }, 20000));
    end = scan.End;
    cause = scan.Cause;
    failure = scan.Cause.Text;
    return scan.End == (exchange ? TScanEnd::Checked : TScanEnd::DevicesOnly);
  }
  const TDrvRec* Find(const std::string& devName) const {
    for (int i = 1; i <= state.DrvCount; ++i)
      if (state.DrvList[i].DevName == devName) return &state.DrvList[i];
    return nullptr;
  }
  ScratchMachine machine;
  TPumpedUiQueue queue;
  TKorvaneState state;
  TRecordingPage page;
  std::string failure;
  TScanEnd end = TScanEnd::Failed;
  TScanCause cause;
};

TEST(ScanTest, CatalogueLeavesOutExcludedAndUnqualifiedClassesAndSortsLikeTheLocale) {
  TScanRun run("scan-edge");
  ASSERT_TRUE(run.Run()) << run.failure;
  const TKorvaneState& s = run.state;
  // Word sort: "keyboards" sorts among the K's whatever its case.
  std::vector<std::string> want = {"Display adapters", "Imaging devices",
                                   "keyboards",        "Mice and other pointing devices",
                                   "Printers",         "Sound, video and game controllers",
                                   "System devices"};
  ASSERT_EQ(s.GUIDCount, static_cast<int>(want.size()));
  ASSERT_EQ(s.GUIDList.size(), want.size() + 1);
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(s.GUIDList[i + 1].Description, want[i]);
  // Slot 0 stays empty.
  EXPECT_TRUE(s.GUIDList[0].GUIDStr.empty());
  EXPECT_EQ(s.GUIDList[0].DevCount, 0);
  EXPECT_TRUE(s.DrvList[0].DevName.empty());
  EXPECT_EQ(s.DrvList.size(), static_cast<std::size_t>(s.DrvCount) + 1);

  for (int i = 1; i <= s.GUIDCount; ++i) {
    const TGUIDRec& g = s.GUIDList[i];
    EXPECT_FALSE(g.HasUpdates);
    EXPECT_NE(g.IconHandle, nullptr);
    const bool all = g.Description == "Printers" || g.Description == "Imaging devices";
    EXPECT_EQ(g.ClassDevsFlags, all ? 0u : static_cast<uint32_t>(DIGCF_PRESENT)) << g.Description;
  }
  // GUIDs in registry form, upper case even when the platform listed them otherwise.
  EXPECT_EQ(s.GUIDList[6].GUIDStr, kMedia);
  EXPECT_EQ(s.GUIDList[1].GUIDStr, kDisplay);
  EXPECT_EQ(s.GUIDList[1].DevCount, 1);  // the absent card is not counted
  EXPECT_EQ(s.GUIDList[2].DevCount, 1);  // imaging: absent, no compatible IDs, still listed
  EXPECT_EQ(s.GUIDList[5].DevCount, 2);  // printers: present or not
  EXPECT_EQ(s.GUIDList[7].DevCount, 4);
  // Records follow catalogue order.
  int total = 0;
  for (int i = 1; i <= s.GUIDCount; ++i) total += s.GUIDList[i].DevCount;
  EXPECT_EQ(s.DrvCount, total);
  int cls = 1;
  for (int d = 1; d <= s.DrvCount; ++d) {
    while (cls <= s.GUIDCount && s.DrvList[d].ClassGUID != s.GUIDList[cls].GUIDStr) ++cls;
    ASSERT_LE(cls, s.GUIDCount) << "record " << d << " out of catalogue order";
    EXPECT_EQ(s.DrvList[d].ClassDesc, s.GUIDList[cls].Description);
  }
}

TEST(ScanTest, RecordFieldsFromPropertiesAndDriverKeys) {
  TScanRun run("scan-edge");
  ASSERT_TRUE(run.Run()) << run.failure;
  const TDrvRec* nv = run.Find("NVIDIA GeForce4 MX 440");
  ASSERT_NE(nv, nullptr);
  EXPECT_EQ(nv->ClassGUID, kDisplay);
  EXPECT_EQ(nv->DriverKey, std::string(kDisplay) + "\\0000");
  EXPECT_EQ(nv->ProviderName, "NVIDIA");
  EXPECT_EQ(nv->DriverDate, "3-10-2004");
  EXPECT_EQ(nv->DriverVersion, "6.14.10.5303");
  EXPECT_EQ(nv->HardwareIDs, u"PCI\\VEN_10DE&DEV_0181&SUBSYS_00000000&REV_A2, PCI\\VEN_10DE&DEV_0181");
  EXPECT_EQ(nv->CompatibleIDs, u"PCI\\VEN_10DE&CC_030000, PCI\\CC_0300");
  EXPECT_TRUE(nv->NewDate.empty());
  EXPECT_EQ(run.Find("Old Video Card"), nullptr);  // not present

  // Empty friendly name: the description; multi-string "A", "B"; a driver key that does
  // not exist leaves the driver fields empty.
  const TDrvRec* kb = run.Find("Standard 101/102-Key or Microsoft Natural PS/2 Keyboard");
  ASSERT_NE(kb, nullptr);
  EXPECT_EQ(kb->HardwareIDs, u"A, B");
  EXPECT_EQ(kb->DriverKey, std::string(kKeyboard) + "\\0007");
  EXPECT_TRUE(kb->ProviderName.empty());
  EXPECT_TRUE(kb->DriverDate.empty());
  EXPECT_TRUE(kb->DriverVersion.empty());

  // Neither name nor driver key: still a record, all empty.
  const TDrvRec* mouse = nullptr;
  for (int i = 1; i <= run.state.DrvCount; ++i)
    if (run.state.DrvList[i].ClassGUID == kMouse) mouse = &run.state.DrvList[i];
  ASSERT_NE(mouse, nullptr);
  EXPECT_TRUE(mouse->DevName.empty());
  EXPECT_TRUE(mouse->DriverKey.empty());
  EXPECT_TRUE(mouse->ProviderName.empty());
  EXPECT_EQ(mouse->CompatibleIDs, u"HID_DEVICE_SYSTEM_MOUSE, HID_DEVICE");

  // Printers: the absent one too, though neither has compatible IDs.
  EXPECT_NE(run.Find("HP LaserJet 4050 Series PCL"), nullptr);
  const TDrvRec* epson = run.Find("Epson Stylus C84");
  ASSERT_NE(epson, nullptr);
  EXPECT_TRUE(epson->CompatibleIDs.empty());
  EXPECT_NE(run.Find("Canon CanoScan LiDE 20"), nullptr);

  // Code-page text reaches the record as code-page text.
  EXPECT_NE(run.Find("Caf\xE9 Audio\tDevice"), nullptr);
}

TEST(ScanTest, TheLengthRule) {
  TScanRun run("scan-edge");
  ASSERT_TRUE(run.Run()) << run.failure;
  // 300 characters: the first 20 and "...".
  const TDrvRec* longName = run.Find("Generic Volume Devic...");
  ASSERT_NE(longName, nullptr);
  EXPECT_EQ(longName->ProviderName, std::string(20, 'P') + "...");  // driver-key text too
  // Hardware IDs are not shortened, even beyond 255 characters.
  EXPECT_GT(longName->HardwareIDs.size(), 255u);
  EXPECT_EQ(longName->HardwareIDs.view().substr(0, 48), u"ACPI\\VEN_LONG&DEV_0000&SUBSYS_0000000000000000, ");
  EXPECT_NE(run.Find(std::string(250, 'B')), nullptr);         // 250: whole
  EXPECT_NE(run.Find(std::string(20, 'C') + "..."), nullptr);  // 251: cut
  EXPECT_EQ(run.Find(std::string(251, 'C')), nullptr);
}

TEST(LengthRuleTest, Table) {
  struct Case {
    std::u16string in;
    std::string out;
  } cases[] = {
      {u"", ""},
      {std::u16string(250, u'a'), std::string(250, 'a')},
      {std::u16string(251, u'a'), std::string(20, 'a') + "..."},
      {std::u16string(1000, u'z'), std::string(20, 'z') + "..."},
      {u"caf\u00e9", "caf\xE9"},
      {u"\u4e2d", "?"},  // not in the code page
  };
  for (const auto& c : cases) EXPECT_EQ(ApplyLengthRule(c.in), c.out);
  EXPECT_EQ(ApplyLengthRule(std::string(251, 'x')), std::string(20, 'x') + "...");
}

TEST(ScanTest, UiCallsRunOnTheUiThreadInOrderWithTheirCounters) {
  TScanRun run("scan-edge");
  ASSERT_TRUE(run.Run()) << run.failure;
  const auto& calls = run.page.calls;
  EXPECT_FALSE(run.page.offUiThread);
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls[0].name, "ResetPage");
  EXPECT_EQ(calls[0].processed, 0);
  EXPECT_EQ(calls[0].total, 0);
  EXPECT_EQ(calls[1].name, "ClearPage");
  EXPECT_EQ(run.page.Count("ShowClassStarted"), run.state.GUIDCount);
  EXPECT_EQ(run.page.Count("AddClassIcon"), run.state.GUIDCount);
  // Progress calls may be skipped, never repeated or reordered.
  EXPECT_GE(run.page.Count("ShowProgress"), 1);
  EXPECT_LE(run.page.Count("ShowProgress"), run.state.DrvCount);
  EXPECT_EQ(run.page.Count("ShowSearching"), 0);  // no exchange in this run
  // Records per class, in class order.
  std::vector<int> records(run.state.GUIDCount + 1, 0);
  for (int r = 1, cls = 1; r <= run.state.DrvCount; ++r) {
    while (cls <= run.state.GUIDCount && run.state.DrvList[r].ClassGUID != run.state.GUIDList[cls].GUIDStr)
      ++cls;
    ASSERT_LE(cls, run.state.GUIDCount);
    ++records[cls];
  }
  int lastProcessed = 0;
  int cls = 0;
  std::vector<int> shown(run.state.GUIDCount + 1, 0);  // each class's last found count shown
  for (const auto& c : calls) {
    if (c.name == "ShowClassStarted") {
      ++cls;
      EXPECT_EQ(c.found, 0);
      EXPECT_EQ(c.desc, run.state.GUIDList[cls].Description);
      EXPECT_EQ(c.classCount, run.state.GUIDList[cls].DevCount);
    }
    if (c.name == "ShowProgress") {
      EXPECT_GT(c.processed, lastProcessed);
      lastProcessed = c.processed;
      EXPECT_EQ(c.total, run.state.DrvCount);
      EXPECT_EQ(c.classCount, run.state.GUIDList[cls].DevCount);  // the class on screen
      EXPECT_LE(c.found, c.classCount);
      shown[cls] = c.found;
    }
  }
  EXPECT_EQ(lastProcessed, run.state.DrvCount);
  // Every class's row ends with its own count, before the next class's row is added.
  EXPECT_EQ(shown, records);
  // The system class of four devices: up to 25, 50, 75 on the class gauge, and 100 last.
  std::vector<int> sys;
  for (const auto& c : calls)
    if (c.name == "ShowProgress" && c.classCount == 4) sys.push_back(GaugePercent(c.found, c.classCount));
  ASSERT_FALSE(sys.empty());
  EXPECT_EQ(sys.back(), 100);
  for (int p : sys) EXPECT_TRUE(p == 25 || p == 50 || p == 75 || p == 100) << p;
}

TEST(ScanTest, TerminateAtClassStartOrAfterADeviceEndsWithoutSuccess) {
  {
    TScanRun run("scan-edge");
    run.page.stopAtClass = 2;
    EXPECT_FALSE(run.Run());
    EXPECT_EQ(run.page.Count("ShowClassStarted"), 2);
    EXPECT_EQ(run.state.DrvCount, 1);  // only the first class was scanned
    EXPECT_EQ(run.end, TScanEnd::Cancelled);
    EXPECT_EQ(run.cause.Kind, TCauseKind::Aborted);
  }
  {
    TScanRun run("scan-edge");
    run.page.stopAtDevice = 3;
    EXPECT_FALSE(run.Run());
    // The stop reaches the scan after the page has seen the third device, as a click on
    // Stop would; the page still ends on the last device scanned.
    EXPECT_GE(run.state.DrvCount, 3);
    EXPECT_LE(run.page.Count("ShowProgress"), run.state.DrvCount);
    EXPECT_EQ(run.page.LastProcessed(), run.state.DrvCount);
    EXPECT_EQ(run.end, TScanEnd::Cancelled);
  }
}

TEST(ScanTest, NothingWorthReportingGivesEmptyArrays) {
  TScanRun run("scan-nothing");
  EXPECT_TRUE(run.Run()) << run.failure;
  EXPECT_EQ(run.state.GUIDCount, 0);
  EXPECT_EQ(run.state.DrvCount, 0);
  EXPECT_EQ(run.state.GUIDList.size(), 1u);
  EXPECT_EQ(run.state.DrvList.size(), 1u);
  EXPECT_EQ(run.page.Count("ShowClassStarted"), 0);
}

TEST(ScanTest, BlankMachineScansToNothing) {
  TScanRun run("");
  EXPECT_TRUE(run.Run()) << run.failure;
  EXPECT_EQ(run.state.DrvCount, 0);
}

TEST(ScanTest, NonTextDriverValueEndsTheScanAsFailed) {
  TScanRun run("scan-badvalue");
  EXPECT_FALSE(run.Run());
  EXPECT_EQ(run.end, TScanEnd::Failed);
  EXPECT_EQ(run.cause.Kind, TCauseKind::Other) << run.failure;
  EXPECT_NE(run.failure.find("DriverDate"), std::string::npos) << run.failure;
}

// A damaged machine file is no empty machine: the scan fails naming the file and line,
// and the damaged hive is left as it is.
TEST(ScanTest, DamagedMachineFilesEndTheScanNamingFileAndLine) {
  TScanRun run("scan-tsv");
  const std::string reg = run.machine.Root() + "/system.reg";
  const std::string good = run.machine.Read(reg);
  const std::string bad = good + "\"Oops\"=hex:zz\n";
  std::ofstream(reg, std::ios::binary | std::ios::trunc) << bad;
  KorvaneResetMachine();
  EXPECT_FALSE(run.Run());
  EXPECT_NE(run.failure.find("Code: 1009."), std::string::npos) << run.failure;
  const int line = static_cast<int>(std::count(good.begin(), good.end(), '\n')) + 1;
  EXPECT_NE(run.failure.find(reg + ":" + std::to_string(line) + ": bad hex byte"), std::string::npos)
      << run.failure;
  EXPECT_EQ(run.machine.Read(reg), bad);

  // One class listed twice, in another letter case.
  std::ofstream(reg, std::ios::binary | std::ios::trunc) << good;
  const std::string json = run.machine.Root() + "/devices.json";
  std::ofstream(json, std::ios::binary | std::ios::trunc)
      << "{\"classes\": [{\"guid\": \"{4D36E968-E325-11CE-BFC1-08002BE10318}\", \"devices\": []},"
         " {\"guid\": \"{4d36e968-e325-11ce-bfc1-08002be10318}\", \"devices\": []}]}";
  KorvaneResetMachine();
  EXPECT_FALSE(run.Run());
  EXPECT_NE(run.failure.find(
                json + ": classes[1].guid: class {4D36E968-E325-11CE-BFC1-08002BE10318} is listed twice"),
            std::string::npos)
      << run.failure;
}

TEST(ScanTest, ASecondScanRebuildsBothArrays) {
  TScanRun run("scan-edge");
  ASSERT_TRUE(run.Run());
  const int classes = run.state.GUIDCount, drivers = run.state.DrvCount;
  run.state.DrvList[1].NewDate = run.state.DrvList.Keep("stale");
  run.state.GUIDList[1].HasUpdates = true;
  ASSERT_TRUE(run.Run());
  EXPECT_EQ(run.state.GUIDCount, classes);
  EXPECT_EQ(run.state.DrvCount, drivers);
  EXPECT_TRUE(run.state.DrvList[1].NewDate.empty());
  EXPECT_FALSE(run.state.GUIDList[1].HasUpdates);
}

TEST(ProcessorSummaryTest, Table) {
  struct Case {
    const char* fixture;
    std::string want;
  } cases[] = {
      {"scan-cpu2", "AMD Athlon(tm) XP 2800+\n\rAMD Athlon(tm) XP 2800+\n\r"},
      // Four equal names: "4x" and the name; two blanks in a row vanish.
      {"scan-edge", "4xIntel(R) Pentium(R) 4 CPU2.80GHz"},
      // At most 11 names are collected.
      {"scan-cpu12", "11xIntel(R) Xeon(TM) CPU 3.00GHz"},
      // Without a friendly name the description; equal names must be neighbours to count;
      // three blanks lose two.
      {"scan-cpu-mixed", "AMDAthlon(tm)\n\rx86 Family 6 Model 8\n\rAMDAthlon(tm)\n\rIntel Core\n\r"},
  };
  for (const auto& c : cases) {
    ScratchMachine m(c.fixture);
    EXPECT_EQ(GetProcessorSummary(), c.want) << c.fixture;
  }
  ScratchMachine blank;
  EXPECT_EQ(GetProcessorSummary(), "");
}

TEST(DeviceHelperTest, ReadersOnAFixtureDevice) {
  ScratchMachine m("scan-edge");
  GUID g{};
  ASSERT_TRUE(StringToGUID(kDisplay, g));
  HDEVINFO set = SetupDiGetClassDevsA(&g, nullptr, nullptr, DIGCF_PRESENT);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  TDeviceHelper h;
  h.SetDevInfo(set);
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d;
  ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &d));
  h.SetDeviceData(d);
  EXPECT_EQ(h.ReadString(SPDRP_FRIENDLYNAME), "NVIDIA GeForce4 MX 440");
  EXPECT_EQ(h.ReadString(SPDRP_COMPATIBLEIDS), "PCI\\VEN_10DE&CC_030000, PCI\\CC_0300");
  EXPECT_EQ(h.ReadString(SPDRP_MFG), "");  // absent
  EXPECT_EQ(h.ReadDWord(SPDRP_REMOVAL_POLICY), 0u);
  EXPECT_EQ(h.ReadRemovalPolicy(SPDRP_REMOVAL_POLICY), "");
  EXPECT_EQ(h.ReadGUID(SPDRP_BUSTYPEGUID), GUID{});
  char buf[16];
  EXPECT_FALSE(h.ReadBinary(SPDRP_FRIENDLYNAME, buf, sizeof buf));  // text, not binary
  SetupDiDestroyDeviceInfoList(set);
}

TEST(DeviceHelperTest, GuidText) {
  GUID g{};
  ASSERT_TRUE(StringToGUID("{4d36e979-e325-11ce-bfc1-08002be10318}", g));
  EXPECT_EQ(GUIDToString(g), "{4D36E979-E325-11CE-BFC1-08002BE10318}");
  ASSERT_TRUE(StringToGUID("6BDD1FC6-810F-11D0-BEC7-08002BE2092F", g));
  EXPECT_EQ(GUIDToString(g), "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}");
  for (const char* bad : {"", "{}", "{4D36E979-E325-11CE-BFC1-08002BE1031}",
                          "{4D36E979XE325-11CE-BFC1-08002BE10318}", "{4D36E979-E325-11CE-BFC1-08002BE1031G}"})
    EXPECT_FALSE(StringToGUID(bad, g)) << bad;
}

// A removal-policy reader over a fake 4-byte property.
class TFixedDWordHelper : public TDeviceHelper {
 public:
  DWORD Value = 0;
  DWORD ReadDWord(DWORD) override { return Value; }
};

TEST(DeviceHelperTest, RemovalPolicyNames) {
  TFixedDWordHelper h;
  struct Case {
    DWORD v;
    const char* name;
  } cases[] = {{0, ""},
               {1, "CM_REMOVAL_POLICY_EXPECT_NO_REMOVAL"},
               {2, "CM_REMOVAL_POLICY_EXPECT_ORDERLY_REMOVAL"},
               {3, "CM_REMOVAL_POLICY_EXPECT_SURPRISE_REMOVAL"},
               {4, "unknown 0x00000004"},
               {0xDEADBEEF, "unknown 0xDEADBEEF"}};
  for (const auto& c : cases) {
    h.Value = c.v;
    EXPECT_EQ(h.ReadRemovalPolicy(SPDRP_REMOVAL_POLICY), c.name);
  }
}

TEST(GaugeTest, RoundsHalfToEven) {
  EXPECT_EQ(GaugePercent(1, 8), 12);  // 12.5
  EXPECT_EQ(GaugePercent(3, 8), 38);  // 37.5
  EXPECT_EQ(GaugePercent(1, 3), 33);
  EXPECT_EQ(GaugePercent(2, 3), 67);
  EXPECT_EQ(GaugePercent(3, 3), 100);
  EXPECT_EQ(GaugePercent(5, 0), 0);
}

TEST(ConsolePageTest, PromptAnswersCancelWithoutATerminalAndAsksWithOne) {
  std::ostringstream err;
  TConsoleScanPage headless(err, nullptr, false, false);
  EXPECT_NE(headless.ShowConnectivityPrompt("No connection"), 1);
  EXPECT_NE(err.str().find("No connection"), std::string::npos);
  for (const auto& [answer, result] :
       std::vector<std::pair<std::string, int>>{{"ok\n", 1}, {"O\n", 1}, {"c\n", 2}, {"\n", 2}, {"", 2}}) {
    std::istringstream in(answer);
    std::ostringstream e;
    TConsoleScanPage tty(e, &in, true, false);
    EXPECT_EQ(tty.ShowConnectivityPrompt("?"), result) << answer;
  }
}

TEST(ScanTest, WindowsXpDesktop) {
  TScanRun run("xp-desktop");
  ASSERT_TRUE(run.Run()) << run.failure;
  const TKorvaneState& s = run.state;
  EXPECT_EQ(s.GUIDCount, 15);
  EXPECT_EQ(s.DrvCount, 41);
  int total = 0;
  for (int i = 1; i <= s.GUIDCount; ++i) {
    total += s.GUIDList[i].DevCount;
    EXPECT_FALSE(IsExcludedClass(s.GUIDList[i].GUIDStr)) << s.GUIDList[i].GUIDStr;
    if (i > 1) {
      EXPECT_LE(lstrcmpA(s.GUIDList[i - 1].Description.c_str(), s.GUIDList[i].Description.c_str()), 0);
    }
  }
  EXPECT_EQ(total, s.DrvCount);
  for (int i = 1; i <= s.GUIDCount; ++i) {
    const TGUIDRec& g = s.GUIDList[i];
    // Classes whose devices lack compatible IDs (Computer, Processors) are not listed.
    EXPECT_NE(g.Description, "Computer");
    EXPECT_NE(g.Description, "Processors");
    if (g.GUIDStr == PrinterClassGUID) {
      EXPECT_EQ(g.DevCount, 2);  // neither is present
    }
    if (g.GUIDStr == ImagingClassGUID) {
      EXPECT_EQ(g.DevCount, 2);  // one is absent
    }
  }
  EXPECT_NE(run.Find("HP LaserJet 1020"), nullptr);
  EXPECT_EQ(GetProcessorSummary(),
            "Intel(R) Pentium(R) 4 CPU 3.00GHz\n\rIntel(R) Pentium(R) 4 CPU 3.00GHz\n\r");
}

}  // namespace
