// The Windows naming decision tree over fixed facts.
#include "sysinfo/uWinVersion.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace {

struct Facts {
  bool readable = true;
  bool extended = true;
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  DWORD major = 5, minor = 1, build = 2600;
  std::string csd;
  WORD spMajor = 0, spMinor = 0, suite = 0;
  BYTE productType = VER_NT_WORKSTATION;
  DWORD productInfo = 0;
  WORD arch = 0;
  int serverR2 = 0;
  std::string options;
  bool q246009 = false;
};

class FakeFacts : public IWindowsFacts {
 public:
  explicit FakeFacts(const Facts& f) : f_(f) {}
  bool ReadVersion(OSVERSIONINFOEXA& vi, bool& extended) override {
    ++versionReads;
    if (!f_.readable) return false;
    vi = OSVERSIONINFOEXA{};
    vi.dwMajorVersion = f_.major;
    vi.dwMinorVersion = f_.minor;
    vi.dwBuildNumber = f_.build;
    vi.dwPlatformId = f_.platformId;
    std::strncpy(vi.szCSDVersion, f_.csd.c_str(), sizeof(vi.szCSDVersion) - 1);
    extended = f_.extended;
    if (f_.extended) {
      vi.wServicePackMajor = f_.spMajor;
      vi.wServicePackMinor = f_.spMinor;
      vi.wSuiteMask = f_.suite;
      vi.wProductType = f_.productType;
    }
    return true;
  }
  DWORD ProductInfo(DWORD, DWORD, DWORD, DWORD) override {
    ++productInfoReads;
    return f_.productInfo;
  }
  WORD NativeArchitecture() override {
    ++archReads;
    return f_.arch;
  }
  int ServerR2Metric() override {
    ++r2Reads;
    return f_.serverR2;
  }
  std::string ProductOptionsType() override {
    ++optionReads;
    return f_.options;
  }
  bool HasQ246009Hotfix() override {
    ++hotfixReads;
    return f_.q246009;
  }
  int versionReads = 0, productInfoReads = 0, archReads = 0, r2Reads = 0, optionReads = 0, hotfixReads = 0;

 private:
  Facts f_;
};

std::string Dump(const TWindowsTypeEx& r) {
  std::ostringstream s;
  s << "FullName=[" << r.FullName << "] Name=[" << r.Name << "] Edition=[" << r.Kind.Edition
    << "] IsServer=" << r.Kind.IsServer << " Platform=[" << r.Platform << "] OsId=" << int(r.OsId)
    << " ShortName=[" << r.ShortName << "] Architecture=[" << r.Architecture << "] ServicePack=["
    << r.ServicePack << "]";
  return s.str();
}

struct Expected {
  std::string FullName, Name, Edition;
  bool IsServer;
  std::string Platform;
  int OsId;
  std::string ShortName, Architecture, ServicePack;
};

std::string Dump(const Expected& e) {
  TWindowsTypeEx r;
  r.FullName = e.FullName;
  r.Name = e.Name;
  r.Kind.Edition = e.Edition;
  r.Kind.IsServer = e.IsServer;
  r.Platform = e.Platform;
  r.OsId = static_cast<uint8_t>(e.OsId);
  r.ShortName = e.ShortName;
  r.Architecture = e.Architecture;
  r.ServicePack = e.ServicePack;
  return Dump(r);
}

struct Case {
  const char* label;
  Facts facts;
  Expected want;
};

Facts Nt(DWORD major, DWORD minor, DWORD build, const char* csd, BYTE productType, WORD suite = 0, WORD arch = 0,
         DWORD productInfo = 0) {
  Facts f;
  f.major = major;
  f.minor = minor;
  f.build = build;
  f.csd = csd;
  f.productType = productType;
  f.suite = suite;
  f.arch = arch;
  f.productInfo = productInfo;
  return f;
}

Facts NoExt(DWORD major, DWORD minor, DWORD build, const char* csd, const char* options, bool hotfix = false) {
  Facts f = Nt(major, minor, build, csd, 0);
  f.extended = false;
  f.options = options;
  f.q246009 = hotfix;
  return f;
}

Facts Win9x(DWORD minor, DWORD build, const char* csd) {
  Facts f;
  f.platformId = VER_PLATFORM_WIN32_WINDOWS;
  f.major = 4;
  f.minor = minor;
  f.build = build;
  f.csd = csd;
  f.extended = false;
  return f;
}

Facts With(Facts f, void (*change)(Facts&)) {
  change(f);
  return f;
}

const Case kCases[] = {
    {"xp professional", Nt(5, 1, 2600, "Service Pack 2", 1, 0x100),
     {"Windows XP Professional", "Windows XP", "Professional", false, "winnt", 9, "xp-32", "x86",
      "Service Pack 2 (Build 2600)"}},
    {"xp home", Nt(5, 1, 2600, "Service Pack 2", 1, 0x300),
     {"Windows XP Home Edition", "Windows XP", "Home Edition", false, "winnt", 9, "xp-32", "x86",
      "Service Pack 2 (Build 2600)"}},
    {"xp x64", Nt(5, 2, 3790, "Service Pack 2", 1, 0x100, 9),
     {"Windows XP Professional x64 Edition ", "Windows XP Professional x64 Edition", "", false, "winnt", 10, "xp-64",
      "AMD64", "Service Pack 2 (Build 3790)"}},
    {"vista x86 home premium", Nt(6, 0, 6002, "Service Pack 2", 1, 0x300, 0, 3),
     {"Windows Vista Home Premium", "Windows Vista", "Home Premium", false, "winnt", 13, "vista-32", "x86",
      "Service Pack 2 (Build 6002)"}},
    {"vista amd64 skips the workstation edition", Nt(6, 0, 6002, "Service Pack 2", 1, 0x300, 9, 3),
     {"Windows Vista ", "Windows Vista", "", false, "winnt", 13, "vista-64", "AMD64", "Service Pack 2 (Build 6002)"}},
    {"vista product type above the table", Nt(6, 0, 6000, "", 1, 0, 0, 30),
     {"Windows Vista ", "Windows Vista", "", false, "winnt", 13, "vista-32", "x86", "(Build 6000)"}},
    {"6.0 server renamed", Nt(6, 0, 6001, "Service Pack 1", 3, 0x110, 0, 7),
     {"Windows Vista Server Standard (full installation)", "Windows Vista", "Server Standard (full installation)",
      true, "winnt", 14, "vista-32", "x86", "Service Pack 1 (Build 6001)"}},
    {"6.0 domain controller amd64", Nt(6, 0, 6001, "Service Pack 1", 2, 0, 9, 10),
     {"Windows Vista Server Enterprise (full installation)", "Windows Vista", "Server Enterprise (full installation)",
      true, "winnt", 14, "vista-64", "AMD64", "Service Pack 1 (Build 6001)"}},
    {"6.1 workstation x86 is not named", Nt(6, 1, 7600, "", 1, 0, 0, 1),
     {" Ultimate", "", "Ultimate", false, "winnt", 0, "-32", "x86", "(Build 7600)"}},
    {"6.1 workstation amd64", Nt(6, 1, 7601, "Service Pack 1", 1, 0, 9, 1),
     {" ", "", "", false, "winnt", 0, "-64", "AMD64", "Service Pack 1 (Build 7601)"}},
    {"6.1 server keeps the vista renaming", Nt(6, 1, 7600, "", 3, 0, 9, 7),
     {"Windows Vista Server Standard (full installation)", "Windows Vista", "Server Standard (full installation)",
      true, "winnt", 0, "vista-64", "AMD64", "(Build 7600)"}},
    {"2003 r2", With(Nt(5, 2, 3790, "Service Pack 2", 3, 0x110), [](Facts& f) { f.serverR2 = 1; }),
     {"Windows Server 2003 R2 Standard Edition", "Windows Server 2003 R2", "Standard Edition", true, "winnt", 12,
      "2003-32", "x86", "Service Pack 2 (Build 3790)"}},
    {"2003 enterprise x64", Nt(5, 2, 3790, "Service Pack 2", 3, 0x112, 9),
     {"Windows Server 2003 family Enterprise x64 Edition", "Windows Server 2003 family", "Enterprise x64 Edition",
      true, "winnt", 11, "2003-64", "AMD64", "Service Pack 2 (Build 3790)"}},
    {"2003 datacenter x64", Nt(5, 2, 3790, "", 3, 0x82, 9),
     {"Windows Server 2003 family Datacenter x64 Edition", "Windows Server 2003 family", "Datacenter x64 Edition",
      true, "winnt", 11, "2003-64", "AMD64", "(Build 3790)"}},
    {"2003 standard x64", Nt(5, 2, 3790, "", 3, 0x10, 9),
     {"Windows Server 2003 family Standard x64 Edition", "Windows Server 2003 family", "Standard x64 Edition", true,
      "winnt", 11, "2003-64", "AMD64", "(Build 3790)"}},
    {"2003 itanium datacenter", Nt(5, 2, 3790, "", 3, 0x82, 6),
     {"Windows Server 2003 family Datacenter Edition for Itanium-based Systems", "Windows Server 2003 family",
      "Datacenter Edition for Itanium-based Systems", true, "winnt", 11, "2003-64", "IA64", "(Build 3790)"}},
    {"2003 itanium enterprise", Nt(5, 2, 3790, "", 3, 0x2, 6),
     {"Windows Server 2003 family Enterprise Edition for Itanium-based Systems", "Windows Server 2003 family",
      "Enterprise Edition for Itanium-based Systems", true, "winnt", 11, "2003-64", "IA64", "(Build 3790)"}},
    {"2003 itanium without suite bits", Nt(5, 2, 3790, "", 3, 0, 6),
     {"Windows Server 2003 family ", "Windows Server 2003 family", "", true, "winnt", 11, "2003-64", "IA64",
      "(Build 3790)"}},
    {"2003 datacenter wins over enterprise", Nt(5, 2, 3790, "", 3, 0x82),
     {"Windows Server 2003 family Datacenter Edition", "Windows Server 2003 family", "Datacenter Edition", true,
      "winnt", 11, "2003-32", "x86", "(Build 3790)"}},
    {"2003 enterprise wins over web", Nt(5, 2, 3790, "", 3, 0x402),
     {"Windows Server 2003 family Enterprise Edition", "Windows Server 2003 family", "Enterprise Edition", true,
      "winnt", 11, "2003-32", "x86", "(Build 3790)"}},
    {"2003 web", Nt(5, 2, 3790, "", 3, 0x401),
     {"Windows Server 2003 family Web Edition", "Windows Server 2003 family", "Web Edition", true, "winnt", 11,
      "2003-32", "x86", "(Build 3790)"}},
    {"2003 small business", Nt(5, 2, 3790, "", 2, 0x21),
     {"Windows Server 2003 family Small Business Server", "Windows Server 2003 family", "Small Business Server", true,
      "winnt", 11, "2003-32", "x86", "(Build 3790)"}},
    {"2003 small business restricted", Nt(5, 2, 3790, "", 3, 0x20),
     {"Windows Server 2003 family Small Business Server ( Restricted )", "Windows Server 2003 family",
      "Small Business Server ( Restricted )", true, "winnt", 11, "2003-32", "x86", "(Build 3790)"}},
    {"2003 workstation byte on x86 gets a workstation edition", Nt(5, 2, 3790, "", 1, 0),
     {"Windows Server 2003 family Professional", "Windows Server 2003 family", "Professional", false, "winnt", 11,
      "2003-32", "x86", "(Build 3790)"}},
    {"2000 professional with empty service pack", Nt(5, 0, 2195, "", 1),
     {"Windows 2000 Professional", "Windows 2000", "Professional", false, "winnt", 8, "2000-32", "x86",
      "(Build 2195)"}},
    {"2000 server", Nt(5, 0, 2195, "Service Pack 4", 3, 0x10),
     {"Windows Server 2000 family Server", "Windows Server 2000 family", "Server", true, "winnt", 8, "2000-32", "x86",
      "Service Pack 4 (Build 2195)"}},
    {"2000 advanced server", Nt(5, 0, 2195, "Service Pack 4", 3, 0x2),
     {"Windows Server 2000 family Advanced Server", "Windows Server 2000 family", "Advanced Server", true, "winnt", 8,
      "2000-32", "x86", "Service Pack 4 (Build 2195)"}},
    {"2000 datacenter domain controller", Nt(5, 0, 2195, "Service Pack 4", 2, 0x82),
     {"Windows Server 2000 family Datacenter Server", "Windows Server 2000 family", "Datacenter Server", true, "winnt",
      8, "2000-32", "x86", "Service Pack 4 (Build 2195)"}},
    {"nt4 workstation sp6a", With(Nt(4, 0, 1381, "Service Pack 6", 1), [](Facts& f) { f.q246009 = true; }),
     {"Windows NT Workstation 4.0", "Windows NT", "Workstation 4.0", false, "winnt", 4, "nt-32", "x86",
      "Service Pack 6a (Build 1381)"}},
    {"nt4 workstation sp6 without the hotfix", Nt(4, 0, 1381, "Service Pack 6", 1),
     {"Windows NT Workstation 4.0", "Windows NT", "Workstation 4.0", false, "winnt", 4, "nt-32", "x86",
      "Service Pack 6 (Build 1381)"}},
    {"nt4 sp6 text in another case", With(Nt(4, 0, 1381, "SERVICE PACK 6", 1), [](Facts& f) { f.q246009 = true; }),
     {"Windows NT Workstation 4.0", "Windows NT", "Workstation 4.0", false, "winnt", 4, "nt-32", "x86",
      "Service Pack 6a (Build 1381)"}},
    {"nt4 enterprise server", Nt(4, 0, 1381, "Service Pack 6", 3, 0x2),
     {"Windows NT Server 4.0 Enterprise Edition", "Windows NT", "Server 4.0 Enterprise Edition", true, "winnt", 4,
      "nt-32", "x86", "Service Pack 6 (Build 1381)"}},
    {"nt4 server", Nt(4, 0, 1381, "Service Pack 6", 3, 0),
     {"Windows NT Server 4.0", "Windows NT", "Server 4.0", true, "winnt", 4, "nt-32", "x86",
      "Service Pack 6 (Build 1381)"}},
    {"nt4 lanmannt without extended record", NoExt(4, 0, 1381, "Service Pack 6", "lanmannt", true),
     {"Windows NT Server 4.0 ", "Windows NT", "Server 4.0 ", false, "winnt", 4, "nt-32", "x86",
      "Service Pack 6a (Build 1381)"}},
    {"nt4 winnt without extended record", NoExt(4, 0, 1381, "Service Pack 5", "WINNT"),
     {"Windows NT Workstation 4.0 ", "Windows NT", "Workstation 4.0 ", false, "winnt", 4, "nt-32", "x86",
      "Service Pack 5 (Build 1381)"}},
    {"nt4 servernt without extended record", NoExt(4, 0, 1381, "Service Pack 3", "ServerNT"),
     {"Windows NT Advanced Server 4.0 ", "Windows NT", "Advanced Server 4.0 ", false, "winnt", 4, "nt-32", "x86",
      "Service Pack 3 (Build 1381)"}},
    {"nt4 unknown product type text", NoExt(4, 0, 1381, "", "LANMANNTX"),
     {"Windows NT  4.0 ", "Windows NT", " 4.0 ", false, "winnt", 4, "nt-32", "x86", "(Build 1381)"}},
    {"nt 3.51 without product options", NoExt(3, 51, 1057, "Service Pack 5", ""),
     {"Windows NT  3.51 ", "Windows NT", " 3.51 ", false, "winnt", 4, "nt-32", "x86", "Service Pack 5 (Build 1057)"}},
    {"nt build uses its low 16 bits", Nt(5, 1, 0x00010A28, "Service Pack 1", 1),
     {"Windows XP Professional", "Windows XP", "Professional", false, "winnt", 9, "xp-32", "x86",
      "Service Pack 1 (Build 2600)"}},
    {"98 se", Win9x(10, 0x040A08AE, " A "),
     {"Windows 98 SE", "Windows 98", "SE", false, "win9x", 6, "98-32", "x86", "A"}},
    {"98", Win9x(10, 0x040A07CE, ""), {"Windows 98 ", "Windows 98", "", false, "win9x", 5, "98-32", "x86", ""}},
    {"95", Win9x(0, 0x040003B6, ""), {"Windows 95 ", "Windows 95", "", false, "win9x", 2, "95-32", "x86", ""}},
    {"95 osr2 b", Win9x(0, 0x04000457, " B"),
     {"Windows 95 OSR2", "Windows 95", "OSR2", false, "win9x", 3, "95-32", "x86", "B"}},
    {"95 osr2.5 c", Win9x(0, 0x04000457, " C"),
     {"Windows 95 OSR2", "Windows 95", "OSR2", false, "win9x", 3, "95-32", "x86", "C"}},
    {"95 lower-case c is no osr2", Win9x(0, 0x04000457, " c"),
     {"Windows 95 ", "Windows 95", "", false, "win9x", 2, "95-32", "x86", "c"}},
    {"millennium", Win9x(90, 0x045A0BB8, " "),
     {"Windows Millennium Edition", "Windows Millennium Edition", "", false, "win9x", 7, "me-32", "x86", ""}},
    {"9x of another version", Win9x(3, 1, "x"), {"", "", "", false, "win9x", 0, "-32", "x86", "x"}},
    {"win32s", With(Facts{}, [](Facts& f) { f.platformId = 0; f.major = 1; f.minor = 30; f.csd = "ignored"; }),
     {"Microsoft Win32s", "Microsoft Win32s", "", false, "win9x", 1, "-32", "x86", ""}},
    {"unknown platform", With(Facts{}, [](Facts& f) { f.platformId = 3; f.arch = 9; }),
     {"", "", "", false, "", 0, "-64", "AMD64", ""}},
    {"ia32 on win64 reads as ia64", Nt(5, 1, 2600, "", 1, 0, 10),
     {"Windows XP Professional", "Windows XP", "Professional", false, "winnt", 9, "xp-64", "IA64", "(Build 2600)"}},
};

class WinVersionTree : public ::testing::TestWithParam<Case> {};

TEST_P(WinVersionTree, NamesTheSystem) {
  const Case& c = GetParam();
  FakeFacts facts(c.facts);
  TWindowsTypeEx r;
  GetWindowsTypeEx(r, facts);
  EXPECT_EQ(Dump(r), Dump(c.want)) << c.label;
  EXPECT_EQ(r.Build, c.facts.build) << c.label;
  EXPECT_EQ(r.ProductType, c.facts.productInfo) << c.label;
  char v[32];
  std::snprintf(v, sizeof(v), "%d.%d", int(c.facts.major), int(c.facts.minor));
  EXPECT_EQ(r.Version.Text, v);
  EXPECT_EQ(r.Version.Major, int(c.facts.major));
  EXPECT_EQ(r.Version.Minor, int(c.facts.minor));
  const int spMajor = c.facts.extended ? c.facts.spMajor : 0, spMinor = c.facts.extended ? c.facts.spMinor : 0;
  std::snprintf(v, sizeof(v), "%d.%d", spMajor, spMinor);
  EXPECT_EQ(r.ServicePackVersion.Text, v);
  EXPECT_EQ(r.ServicePackVersion.Major, spMajor);
  // Each fact is read at most once, and the branch-only facts only where needed.
  EXPECT_EQ(facts.versionReads, 1);
  EXPECT_EQ(facts.productInfoReads, 1);
  EXPECT_EQ(facts.archReads, 1);
  const bool nt = c.facts.platformId == VER_PLATFORM_WIN32_NT;
  EXPECT_EQ(facts.r2Reads, nt && c.facts.major == 5 && c.facts.minor == 2 ? 1 : 0) << c.label;
  EXPECT_EQ(facts.optionReads, nt && !c.facts.extended ? 1 : 0) << c.label;
  EXPECT_LE(facts.hotfixReads, 1);
  if (!(nt && c.facts.major == 4)) {
    EXPECT_EQ(facts.hotfixReads, 0) << c.label;
  }
}

INSTANTIATE_TEST_SUITE_P(Facts, WinVersionTree, ::testing::ValuesIn(kCases));

TEST(WinVersion, UnreadableVersionLeavesTheRecordUntouched) {
  Facts f;
  f.readable = false;
  FakeFacts facts(f);
  TWindowsTypeEx r;
  r.FullName = "keep";
  GetWindowsTypeEx(r, facts);
  EXPECT_EQ(r.FullName, "keep");
  EXPECT_EQ(r.ShortName, "");
  EXPECT_EQ(r.Architecture, "");
  EXPECT_EQ(r.Version.Text, "");
  EXPECT_EQ(facts.productInfoReads + facts.archReads + facts.r2Reads + facts.optionReads + facts.hotfixReads, 0);
}

TEST(WinVersion, FullBuildNumberIsKept) {
  FakeFacts facts(Win9x(10, 0x040A08AE, " A "));
  TWindowsTypeEx r;
  GetWindowsTypeEx(r, facts);
  EXPECT_EQ(r.Build, 0x040A08AEu);
}

TEST(WinVersion, ProductTypeNames) {
  const std::pair<uint32_t, const char*> names[] = {
      {0, "An unknown product"},  {1, "Ultimate"},       {2, "Home Basic"},
      {3, "Home Premium"},        {5, "Home Basic"},     {7, "Server Standard (full installation)"},
      {9, "Small Business Server"}, {11, "Starter"},     {15, "Server Enterprise for Itanium-based Systems"},
      {16, "Business"},           {26, "Home Premium"},  {27, "Enterprise"},
      {28, "Ultimate"},           {29, "Web Server (core installation)"}, {30, ""},
      {0xABCD, ""},               {0xFFFFFFFFu, ""},
  };
  for (const auto& [key, name] : names) EXPECT_EQ(ProductTypeName(key), name) << key;
}

}  // namespace
