// Windows-1252, the code page of the program's text, as one table for the platform layer,
// the system-information library and the update server. Header only and free of the
// rest of the layer, so the server and the shared library can use it on their own.
//
// The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the
// C1 controls of the same number and back, as Windows' own conversions do: a hive saved in
// the code page keeps those bytes through a read and a write, and the server reads the
// same byte for such a character as the program sends it.
#pragma once

namespace korvane_cp1252 {

// Characters of 0x80-0x9F; the undefined bytes stand for themselves.
inline constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                       0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The character of a code-page byte.
constexpr char16_t ToWide(unsigned char c) {
  return c >= 0x80 && c <= 0x9F ? kHigh[c - 0x80] : static_cast<char16_t>(c);
}

// The code-page byte of a character (any code point), or -1 when the code page has none.
constexpr int FromWide(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == cp) return 0x80 + i;
  return -1;
}

}  // namespace korvane_cp1252
