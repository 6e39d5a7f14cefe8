// Code page 1252 conversions and the word sort of lstrcmpA.
#include <windows.h>

#include <korvane_text.h>

#include <gtest/gtest.h>

TEST(CodePage, EveryByteRoundTrips) {
  for (int b = 1; b < 256; ++b) {
    char in = static_cast<char>(b);
    WCHAR w[4] = {};
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, &in, 1, w, 4), 1) << b;
    char out[4] = {};
    BOOL used = TRUE;
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, w, 1, out, 4, nullptr, &used), 1) << b;
    EXPECT_EQ(static_cast<unsigned char>(out[0]), b);
    EXPECT_FALSE(used) << b;
  }
}

TEST(CodePage, HighTableMapsToUnicode) {
  struct {
    unsigned char byte;
    char16_t wide;
  } cases[] = {{0x80, 0x20AC}, {0x85, 0x2026}, {0x8A, 0x0160}, {0x92, 0x2019}, {0x96, 0x2013},
               {0x99, 0x2122}, {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0x81, 0x0081}};
  for (const auto& c : cases) {
    EXPECT_EQ(AnsiToWide(std::string(1, static_cast<char>(c.byte))), std::u16string(1, c.wide)) << int(c.byte);
    EXPECT_EQ(WideToAnsi(std::u16string(1, c.wide)), std::string(1, static_cast<char>(c.byte)));
  }
}

TEST(CodePage, UnmappableBecomesDefaultChar) {
  std::u16string w = u"a\u0416b\U0001F600c\u20AC";
  EXPECT_EQ(WideToAnsi(w), "a?b?c\x80");
  BOOL used = FALSE;
  char out[16];
  int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out, sizeof out, "#", &used);
  EXPECT_EQ(std::string(out, static_cast<size_t>(n)), "a#b#c\x80");
  EXPECT_TRUE(used);
}

TEST(CodePage, SizeQueryAndSmallBuffer) {
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "hello", -1, nullptr, 0), 6);  // with the NUL
  WCHAR small[3];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "hello", -1, small, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"abc", -1, nullptr, 0, nullptr, nullptr), 4);
  EXPECT_EQ(MultiByteToWideChar(12345, 0, "a", 1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CodePage, Utf8Bridges) {
  EXPECT_EQ(AnsiToUtf8("Caf\xE9 \x80"), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(Utf8ToAnsi("Caf\xC3\xA9 \xE2\x82\xAC \xD0\x96"), "Caf\xE9 \x80 ?");
  EXPECT_EQ(Utf8ToAnsi("bad \xFF byte"), "bad ? byte");
  WCHAR w[8];
  int n = MultiByteToWideChar(CP_UTF8, 0, "\xF0\x9F\x98\x80", 4, w, 8);
  EXPECT_EQ(n, 2);  // one surrogate pair
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3", 1, w, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(Collation, WordSortLikeWindows) {
  struct {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {
      {"Disk drives", "DVD/CD-ROM drives", -1},  // case-insensitive first: 'i' < 'V'
      {"Display adapters", "DVD/CD-ROM drives", -1},
      {"IDE ATA/ATAPI controllers", "Imaging devices", -1},
      {"a", "A", -1},  // lower case first among equals
      {"A", "b", -1},
      {"abc", "abc", 0},
      {"co-op", "coop", 1},  // the hyphen weighs only on a tie
      {"coop", "cop", -1},
      {"\xE9t\xE9", "ete", 1},  // accents after the plain letter
      {"\xE9t\xE9", "etf", -1},
      {"Ports (COM & LPT)", "Ports", 1},
      {"1394 Net", "Audio", -1},  // digits before letters
      {" x", "x", -1},           // blanks before digits and letters
      {"", "a", -1},
  };
  for (const auto& c : cases) {
    int r = lstrcmpA(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
    int back = lstrcmpA(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " vs " << c.a;
  }
  EXPECT_EQ(lstrcmpiA("NETWORK adapters", "Network Adapters"), 0);
  EXPECT_EQ(lstrlenA("abc"), 3);
  EXPECT_EQ(lstrlenA(nullptr), 0);
}
