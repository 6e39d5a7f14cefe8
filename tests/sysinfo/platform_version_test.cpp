// The version queries of the platform layer on machine folders.
#include <windows.h>

#include "sysinfo_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class PlatformVersion : public ::testing::Test {
 protected:
  void TearDown() override { UseMachine("host"); }
};

TEST_F(PlatformVersion, RecordSizes) {
  UseMachine("winxp-pro");
  for (DWORD size : {0u, 20u, 147u, 149u, 155u, 157u, 1000u}) {
    OSVERSIONINFOEXA vi{};
    vi.dwOSVersionInfoSize = size;
    EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&vi))) << size;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  }
  EXPECT_FALSE(GetVersionExA(nullptr));

  OSVERSIONINFOEXA ex{};
  ex.dwOSVersionInfoSize = sizeof(ex);
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
  EXPECT_EQ(ex.dwMajorVersion, 5u);
  EXPECT_EQ(ex.dwMinorVersion, 1u);
  EXPECT_EQ(ex.dwBuildNumber, 2600u);
  EXPECT_EQ(ex.dwPlatformId, 2u);
  EXPECT_STREQ(ex.szCSDVersion, "Service Pack 3");
  EXPECT_EQ(ex.wServicePackMajor, 3);
  EXPECT_EQ(ex.wSuiteMask, 0x100);
  EXPECT_EQ(ex.wProductType, 1);

  // The basic form leaves the bytes after its 148 untouched.
  OSVERSIONINFOEXA basic{};
  std::memset(&basic, 0x5A, sizeof(basic));
  basic.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&basic)));
  EXPECT_EQ(basic.wServicePackMajor, 0x5A5A);
}

TEST_F(PlatformVersion, MachineWithoutExtendedRecord) {
  UseMachine("winnt4-ws-sp6-noext");
  OSVERSIONINFOEXA ex{};
  ex.dwOSVersionInfoSize = sizeof(ex);
  EXPECT_FALSE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
  OSVERSIONINFOA basic{};
  basic.dwOSVersionInfoSize = sizeof(basic);
  ASSERT_TRUE(GetVersionExA(&basic));
  EXPECT_EQ(basic.dwMajorVersion, 4u);
  EXPECT_STREQ(basic.szCSDVersion, "Service Pack 6");
}

TEST_F(PlatformVersion, RunTimeEntryPoints) {
  struct Case {
    const char* machine;
    bool productInfo;
    DWORD productType;
    bool nativeInfo;
    WORD arch;
    int serverR2;
  };
  const Case cases[] = {
      {"win2000-server", false, 0, false, 0, 0},
      {"winxp-home", false, 0, true, 0, 0},
      {"winxp-x64", false, 0, true, 9, 0},
      {"win2003-r2", false, 0, true, 0, 1},
      {"winvista-hp-x86", true, 3, true, 0, 0},
      {"win2008-server", true, 7, true, 9, 0},
  };
  for (const Case& c : cases) {
    UseMachine(c.machine);
    HMODULE k = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(k, nullptr);
    auto gpi = reinterpret_cast<PGPI>(reinterpret_cast<void (*)()>(GetProcAddress(k, "GetProductInfo")));
    auto gnsi = reinterpret_cast<PGNSI>(reinterpret_cast<void (*)()>(GetProcAddress(k, "GetNativeSystemInfo")));
    EXPECT_EQ(gpi != nullptr, c.productInfo) << c.machine;
    EXPECT_EQ(gnsi != nullptr, c.nativeInfo) << c.machine;
    if (gpi) {
      DWORD type = 99;
      EXPECT_TRUE(gpi(6, 0, 0, 0, &type));
      EXPECT_EQ(type, c.productType) << c.machine;
    } else {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    }
    if (gnsi) {
      SYSTEM_INFO si{};
      gnsi(&si);
      EXPECT_EQ(si.wProcessorArchitecture, c.arch) << c.machine;
    }
    EXPECT_EQ(GetSystemMetrics(SM_SERVERR2), c.serverR2) << c.machine;
  }
}

TEST_F(PlatformVersion, ModuleNames) {
  EXPECT_NE(GetModuleHandleA("KERNEL32.DLL"), nullptr);
  EXPECT_EQ(GetModuleHandleA("kernel32.dll"), GetModuleHandleA("Kernel32"));
  EXPECT_EQ(GetModuleHandleA("user32.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(GetModuleHandleA(nullptr), nullptr);
  HMODULE k = GetModuleHandleA("kernel32.dll");
  EXPECT_EQ(GetProcAddress(k, "NoSuchFunction"), nullptr);
  EXPECT_EQ(GetProcAddress(k, "getproductinfo"), nullptr);  // names are case-sensitive
  EXPECT_EQ(GetProcAddress(nullptr, "GetProductInfo"), nullptr);
  EXPECT_EQ(GetProcAddress(k, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(12))), nullptr);
  EXPECT_NE(GetProcAddress(k, "GetVersionExA"), nullptr);
}

TEST_F(PlatformVersion, HostEntryPoints) {
  UseMachine("host");
  HMODULE k = GetModuleHandleA("kernel32.dll");
  EXPECT_EQ(GetProcAddress(k, "GetProductInfo"), nullptr);
  EXPECT_NE(GetProcAddress(k, "GetNativeSystemInfo"), nullptr);
  EXPECT_EQ(GetSystemMetrics(SM_SERVERR2), 0);
  OSVERSIONINFOEXA ex{};
  ex.dwOSVersionInfoSize = sizeof(ex);
  ASSERT_TRUE(GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex)));
  EXPECT_EQ(ex.dwPlatformId, 2u);
  EXPECT_EQ(ex.wProductType, 1);
  EXPECT_LT(std::strlen(ex.szCSDVersion), 128u);
}

TEST(CompareString, IgnoreCaseWholeText) {
  struct Case {
    const char* a;
    const char* b;
    DWORD flags;
    int result;
  };
  const Case cases[] = {
      {"LANMANNT", "lanmannt", NORM_IGNORECASE, CSTR_EQUAL},
      {"LanmanNT", "LANMANNT", NORM_IGNORECASE, CSTR_EQUAL},
      {"Service Pack 6", "SERVICE PACK 6", NORM_IGNORECASE, CSTR_EQUAL},
      {"Service Pack 6", "Service Pack 6a", NORM_IGNORECASE, CSTR_LESS_THAN},
      {"Service Pack 6a", "Service Pack 6", NORM_IGNORECASE, CSTR_GREATER_THAN},
      {"WINNT", "winnt", 0, 0},
      {"", "", NORM_IGNORECASE, CSTR_EQUAL},
      {"", "WINNT", NORM_IGNORECASE, CSTR_LESS_THAN},
      {"\xC4\xD6\xDC\x8A\x9F", "\xE4\xF6\xFC\x9A\xFF", NORM_IGNORECASE, CSTR_EQUAL},  // AOU umlauts, S caron, Y
      {"\xD7", "\xF7", NORM_IGNORECASE, CSTR_LESS_THAN},  // the multiplication sign is no letter
  };
  for (const Case& c : cases) {
    const int r = CompareStringA(LOCALE_USER_DEFAULT, c.flags, c.a, -1, c.b, -1);
    if (c.flags == 0 && std::strcmp(c.a, "WINNT") == 0) {
      EXPECT_NE(r, CSTR_EQUAL);  // case counts without the flag; the order is the locale's
    } else {
      EXPECT_EQ(r, c.result) << c.a << " / " << c.b;
    }
  }
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "WINNTX", 5, "winnt", -1), CSTR_EQUAL);
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, nullptr, -1, "a", -1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, 0x80000000u, "a", -1, "a", -1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
}

}  // namespace
