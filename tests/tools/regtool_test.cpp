// korvane-reg: reg.exe's query/add/delete and its output.
#include "tools/korvane-reg/RegTool.h"

#include "support/ScratchMachine.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <sstream>

using korvane::testing::ScratchMachine;

namespace {

struct RegRun {
  int rc;
  std::string out, err;
};

RegRun Reg(std::vector<std::string> args, const std::string& input = "") {
  std::istringstream in(input);
  std::ostringstream out, err;
  int rc = KorvaneRegMain(args, in, out, err);
  return {rc, out.str(), err.str()};
}

}  // namespace

TEST(RegTool, AddQueryDelete) {
  ScratchMachine m;
  const std::string key = "HKCU\\Software\\Brantholm\\Korvane";
  EXPECT_EQ(Reg({"add", key, "/v", "UpdateURL", "/t", "REG_SZ", "/d", "http://127.0.0.1:8080"}).rc, 0);
  EXPECT_EQ(Reg({"add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "0x1f", "/f"}).rc, 0);
  EXPECT_EQ(Reg({"add", key, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "A\\0Caf\xC3\xA9"}).rc, 0);
  EXPECT_EQ(Reg({"add", key, "/v", "Bin", "/t", "REG_BINARY", "/d", "DEADbeef"}).rc, 0);
  EXPECT_EQ(Reg({"add", key + "\\Sub"}).rc, 0);
  RegRun q = Reg({"query", key});
  EXPECT_EQ(q.rc, 0);
  EXPECT_EQ(q.out,
            "\nHKEY_CURRENT_USER\\Software\\Brantholm\\Korvane\n"
            "    UpdateURL    REG_SZ    http://127.0.0.1:8080\n"
            "    Count    REG_DWORD    0x1f\n"
            "    List    REG_MULTI_SZ    A\\0Caf\xC3\xA9\n"
            "    Bin    REG_BINARY    DEADBEEF\n"
            "\n"
            "HKEY_CURRENT_USER\\Software\\Brantholm\\Korvane\\Sub\n");
  q = Reg({"query", "HKEY_CURRENT_USER\\software\\brantholm\\korvane", "/v", "count"});
  EXPECT_EQ(q.out, "\nHKEY_CURRENT_USER\\software\\brantholm\\korvane\n    count    REG_DWORD    0x1f\n\n");

  // An existing value needs /f or a yes.
  RegRun a = Reg({"add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "5"}, "no\n");
  EXPECT_NE(a.out.find("canceled"), std::string::npos);
  EXPECT_EQ(a.rc, 1);  // as reg.exe: a question answered no is a failure
  EXPECT_EQ(Reg({"add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "5"}, "").rc, 1);  // unanswered
  EXPECT_EQ(Reg({"delete", key, "/v", "Count"}, "n\n").rc, 1);
  EXPECT_EQ(Reg({"delete", key}, "").rc, 1);
  EXPECT_NE(Reg({"query", key, "/v", "Count"}).out.find("0x1f"), std::string::npos);
  a = Reg({"add", key, "/v", "Count", "/t", "REG_DWORD", "/d", "5"}, "yes\n");
  EXPECT_NE(a.out.find("The operation completed successfully."), std::string::npos);
  EXPECT_NE(Reg({"query", key, "/v", "Count"}).out.find("0x5"), std::string::npos);

  EXPECT_EQ(Reg({"delete", key, "/v", "Count", "/f"}).rc, 0);
  RegRun miss = Reg({"query", key, "/v", "Count"});
  EXPECT_EQ(miss.rc, 1);
  EXPECT_EQ(miss.err, "ERROR: The system was unable to find the specified registry key or value.\n");
  EXPECT_EQ(Reg({"delete", "HKCU\\Software\\Brantholm", "/f"}).rc, 0);
  EXPECT_EQ(Reg({"query", key}).rc, 1);
}

TEST(RegTool, WrongUsage) {
  ScratchMachine m;
  EXPECT_EQ(Reg({}).rc, 1);
  EXPECT_EQ(Reg({"frob"}).rc, 1);
  EXPECT_EQ(Reg({"query"}).rc, 1);
  EXPECT_EQ(Reg({"query", "HKXX\\Software"}).rc, 1);
  EXPECT_EQ(Reg({"add", "HKCU\\S", "/v", "x", "/t", "REG_DWORD", "/d", "nope"}).rc, 1);
  EXPECT_EQ(Reg({"add", "HKCU\\S", "/v", "x", "/t", "REG_FOO"}).rc, 1);
  EXPECT_EQ(Reg({"add", "HKCU\\S", "/v"}).rc, 1);
  EXPECT_EQ(Reg({"query", "/?"}).rc, 0);
}

// What korvane-reg prints for the codes the layer returns: the system's text for the
// code, as reg.exe words it, from one table that has a sentence for every code. (A
// damaged hive, whose location line the layer prints, is in the process tests.)
TEST(RegTool, ErrorsReadAsTheSystemWordsThem) {
  ScratchMachine m;
  const RegRun r = Reg({"query", "HKCU\\Software\\Brantholm\\Korvane"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, "ERROR: The system was unable to find the specified registry key or value.\n");
  for (DWORD code : KorvaneErrorCodes()) {
    const std::string text = KorvaneErrorText(code);
    ASSERT_FALSE(text.empty()) << code;
    EXPECT_EQ(text.back(), '.') << code;
  }
  EXPECT_EQ(KorvaneErrorText(ERROR_BADDB), "The configuration registry database is corrupt.");
  EXPECT_EQ(KorvaneErrorText(ERROR_ACCESS_DENIED), "Access is denied.");
  EXPECT_EQ(KorvaneErrorText(0xDEADu), "");
}
