// The program's three readers of code-page text (the platform layer, the system-information
// library and the update server) hold the same Windows-1252 table: every byte reaches each
// of them as the same character, and a character the code page lacks is '?' in each.
#include "server/TextUtil.h"
#include "sysinfo/SysInfoDll.h"

#include "support/ScratchFolder.h"
#include "support/ScratchMachine.h"
#include "sysinfo_test_util.h"

#include <windows.h>

#include <korvane_text.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace {

// The computer name the system-information library gives for a UTF-8 name in sysinfo.json.
std::string LibraryName(const std::string& dir, const std::string& utf8) {
  korvane::testing::WriteTextFile(dir + "/sysinfo.json", nlohmann::json{{"computerName", utf8}}.dump());
  return GetCompName();
}

TEST(CodePage, LayerLibraryAndServerAgreeOnEveryByte) {
  const korvane::testing::ScratchMachine machine;
  const std::string dir = machine.Root();
  for (int b = 1; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    WCHAR wide[2] = {};
    ASSERT_EQ(MultiByteToWideChar(1252, 0, byte.data(), 1, wide, 2), 1) << b;
    const std::string utf8 = AnsiToUtf8(byte);
    // Each byte is a character of its own: the undefined ones are the C1 controls.
    EXPECT_NE(wide[0], 0xFFFD) << b;
    if (b >= 0x80 && b <= 0x9F) {
      EXPECT_NE(utf8.size(), 1u) << b;
    }
    EXPECT_EQ(WideToAnsi(std::u16string(1, wide[0])), byte) << b;
    EXPECT_EQ(Utf8ToAnsi(utf8), byte) << b;
    EXPECT_EQ(updsrv::Utf8ToCp1252(utf8), byte) << b;
    EXPECT_EQ(LibraryName(dir, utf8), byte) << b;
  }
  // The five undefined bytes map as Windows maps them.
  for (int b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(AnsiToWide(byte), std::u16string(1, static_cast<char16_t>(b))) << b;
  }
  // Characters outside the code page: U+0080, U+0100, U+4E2D, U+1F600.
  for (const char* utf8 : {"\xC2\x80", "\xC4\x80", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80"}) {
    EXPECT_EQ(Utf8ToAnsi(utf8), "?") << utf8;
    EXPECT_EQ(updsrv::Utf8ToCp1252(utf8), "?") << utf8;
    EXPECT_EQ(LibraryName(dir, utf8), "?") << utf8;
  }
  UseMachine("host");
}

}  // namespace
