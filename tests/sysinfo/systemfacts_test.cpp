// Display rules of the start page's figures and the system-information library.
#include "sysinfo/SysInfoDll.h"
#include "sysinfo/uSystemFacts.h"

#include "support/ScratchFolder.h"
#include "support/ScratchMachine.h"
#include "sysinfo_test_util.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <stdexcept>

namespace {

TEST(Figures, MegabytesRoundHalvesToEven) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "0 Mb"},
      {536870912, "512 Mb"},
      {2147483648u, "2048 Mb"},
      {1572864, "2 Mb"},             // 1.5 MiB: halfway, to even
      {2621440, "2 Mb"},             // 2.5 MiB: halfway, to even
      {3670016, "4 Mb"},             // 3.5 MiB
      {524288, "0 Mb"},              // 0.5 MiB
      {524289, "1 Mb"},
      {1048576 + 524287, "1 Mb"},
      {1048575, "1 Mb"},
      {4294967295u, "4096 Mb"},
      {4294443008u, "4096 Mb"},      // 4095.5 MiB: up to the even 4096
      {4293394432u, "4094 Mb"},      // 4094.5 MiB: down to the even 4094
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(MegabytesText(bytes), text) << bytes;
}

TEST(Figures, MemoryLoadUsesTheLowByte) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0, "0%"}, {42, "42%"}, {100, "100%"}, {0x12A, "42%"}, {0xFFFFFF00u, "0%"}, {255, "255%"}};
  for (const auto& [load, text] : cases) EXPECT_EQ(MemoryLoadText(load), text) << load;
}

TEST(Figures, OsNameLinesAreLineFeedThenCarriageReturn) {
  TWindowsTypeEx info;
  info.FullName = "Windows XP Professional";
  info.ServicePack = "Service Pack 2 (Build 2600)";
  info.Architecture = "x86";
  EXPECT_EQ(OsNameText(info), "Windows XP Professional\n\rService Pack 2 (Build 2600) x86");
}

TEST(Figures, FillStopsAtTheFirstFailure) {
  UseMachine("winxp-home");
  EXPECT_EQ(CurrentOsShortName(), "xp-32");
  TWindowsTypeEx info;
  info.FullName = "X";
  TSystemInfoValues values;
  EXPECT_TRUE(FillSystemInfoValues(values, info, [] { return std::string("cpu"); }));
  EXPECT_EQ(values.Processor, "cpu");
  EXPECT_EQ(values.OsName, "X\n\r ");
  EXPECT_EQ(values.ComputerName, "LAPTOP");
  EXPECT_EQ(values.MemoryUsed, "42%");

  TSystemInfoValues failed;
  EXPECT_FALSE(FillSystemInfoValues(failed, info, []() -> std::string { throw std::runtime_error("x"); }));
  EXPECT_EQ(failed.OsName, "");
  EXPECT_EQ(failed.VirtualFree, "");
  UseMachine("host");
}

TEST(Figures, LinesAreEscapedUtf8) {
  TWindowsTypeEx info;
  info.FullName = "a\\b\tc";
  info.Name = "Gr\xFC\xDF";  // code page 1252
  TSystemInfoValues values;
  values.Processor = "P\n\r";
  std::ostringstream out;
  WriteSystemFacts(out, info, values, "");
  const std::string text = out.str();
  EXPECT_NE(text.find("FullName\ta\\\\b\\tc\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Name\tGr\xC3\xBC\xC3\x9F\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Processor\tP\\n\\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.rfind("FullName\t", 0), 0u);
  EXPECT_NE(text.find("\nProgramVersion\t\n"), std::string::npos);
}

TEST(SysInfoLibrary, ReturnsTheMachineValuesAsGiven) {
  const korvane::testing::ScratchMachine machine;
  const std::string dir = machine.Root();
  struct Case {
    const char* json;
    const char* name;
    uint32_t ram, freeRam, load, virt, freeVirtual;
  };
  const Case cases[] = {
      {R"({"computerName": "PC1", "ram": 536870912, "freeRam": 1572864, "memoryLoad": 98,
           "virtual": 2147352576, "freeVirtual": 0})",
       "PC1", 536870912, 1572864, 98, 2147352576u, 0},
      // Counts above 32 bits stay at the largest count rather than wrapping.
      {R"({"computerName": "BIG", "ram": 25769803776, "freeRam": 4294967296, "memoryLoad": 5,
           "virtual": 18446744073709551615, "freeVirtual": 4294967295})",
       "BIG", 4294967295u, 4294967295u, 5, 4294967295u, 4294967295u},
      // Code-page text for the name; an absent or null count reads as 0.
      {R"({"computerName": "Z\u00fcrich-\u20ac-\u4e2d", "memoryLoad": null})", "Z\xFCrich-\x80-?", 0, 0, 0, 0,
       0},
  };
  for (const Case& c : cases) {
    korvane::testing::WriteTextFile(dir + "/sysinfo.json", c.json);
    EXPECT_STREQ(GetCompName(), c.name) << c.json;
    EXPECT_EQ(GetRAM(), c.ram) << c.json;
    EXPECT_EQ(GetFreeRAM(), c.freeRam) << c.json;
    EXPECT_EQ(GetMemUse(), c.load) << c.json;
    EXPECT_EQ(GetVirtual(), c.virt) << c.json;
    EXPECT_EQ(GetFreeVirtual(), c.freeVirtual) << c.json;
  }
  UseMachine("host");
}

// A file that cannot be taken as it is gives no figure at all rather than a wrong one:
// every operation raises the refusal, which names the file and the reason; the fill
// of the start page's values stops there and keeps the refusal.
TEST(SysInfoLibrary, RefusesAFileItCannotTakeAsItIs) {
  const korvane::testing::ScratchMachine machine;
  const std::string file = machine.Root() + "/sysinfo.json";
  struct Case {
    const char* json;
    TSysInfoFault kind;
    const char* reason;
  };
  const Case cases[] = {
      {R"({"computerName": "PC1", "ram": 536870912, "memoryLoad": 298})", TSysInfoFault::OutOfRange,
       "\"memoryLoad\" is above 100"},
      {R"({"computerName": "PC1", "ram": -5})", TSysInfoFault::WrongType, "\"ram\" is not a whole number"},
      {R"({"computerName": "PC1", "freeRam": "lots"})", TSysInfoFault::WrongType, "\"freeRam\""},
      {R"({"computerName": 7})", TSysInfoFault::WrongType, "\"computerName\" is not a string"},
      {R"({"ram": 1)", TSysInfoFault::Damaged, "not valid JSON"},
      {"[]", TSysInfoFault::Damaged, "not a JSON object"},
  };
  const std::vector<std::function<void()>> operations = {
      [] { GetCompName(); }, [] { GetRAM(); },     [] { GetFreeRAM(); },
      [] { GetMemUse(); },   [] { GetVirtual(); }, [] { GetFreeVirtual(); },
  };
  for (const Case& c : cases) {
    korvane::testing::WriteTextFile(file, c.json);
    for (const auto& operation : operations) {
      try {
        operation();
        ADD_FAILURE() << "not refused: " << c.json;
      } catch (const ESysInfoRefused& e) {
        EXPECT_EQ(e.Kind, c.kind) << c.json;
        EXPECT_EQ(e.File, file);
        EXPECT_NE(e.Reason.find(c.reason), std::string::npos) << e.Reason;
        EXPECT_EQ(std::string(e.what()).rfind(file + ": ", 0), 0u) << e.what();
      }
    }
    TSystemInfoValues values;
    EXPECT_FALSE(FillSystemInfoValues(values, TWindowsTypeEx{}, [] { return std::string("cpu"); }));
    EXPECT_EQ(values.Processor, "cpu");
    EXPECT_EQ(values.ComputerName, "");
    EXPECT_EQ(values.RamTotal, "");
    EXPECT_EQ(values.MemoryUsed, "");
    EXPECT_EQ(values.VirtualFree, "");
    EXPECT_EQ(values.Refused.rfind(file + ": ", 0), 0u) << values.Refused;
  }
  UseMachine("host");
}

TEST(SysInfoLibrary, HostFiguresAreConsistent) {
  UseMachine("host");
  const uint32_t ram = GetRAM(), freeRam = GetFreeRAM(), virt = GetVirtual(), freeVirtual = GetFreeVirtual();
  EXPECT_GT(ram, 0u);
  EXPECT_LE(freeRam, ram);
  EXPECT_GE(virt, ram);
  EXPECT_LE(freeVirtual, virt);
  EXPECT_LE(GetMemUse(), 100u);
  EXPECT_GT(std::string(GetCompName()).size(), 0u);
}

}  // namespace
