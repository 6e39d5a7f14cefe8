// Windows-1252 and UTF-8 conversions behind MultiByteToWideChar/WideCharToMultiByte.
#include <windows.h>

#include <korvane_text.h>

#include "internal.h"

#include <cstring>

namespace {

bool IsAnsiPage(UINT cp) { return cp == CP_ACP || cp == CP_THREAD_ACP || cp == 1252 || cp == CP_OEMCP; }

}  // namespace

namespace kvp {

std::u16string Utf8ToWide(std::string_view s, bool* bad) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  auto fail = [&] {
    if (bad) *bad = true;
    out.push_back(0xFFFD);
    ++i;
  };
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      out.push_back(c);
      ++i;
      continue;
    }
    int len = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    if (c >= 0xF5) len = 0;
    if (len == 0 || i + len > s.size()) {
      fail();
      continue;
    }
    char32_t cp = len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = true;
    for (int k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok || (len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      fail();
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string WideToUtf8(std::u16string_view w) {
  std::string out;
  out.reserve(w.size());
  for (size_t i = 0; i < w.size(); ++i) {
    char32_t cp = w[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate has no UTF-8 form
    }
    AppendUtf8(out, cp);
  }
  return out;
}

}  // namespace kvp

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (!lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0 || (cchWideChar > 0 && !lpWideCharStr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  // -1: the text runs to its NUL, which is converted too.
  size_t len = cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  std::string_view in(lpMultiByteStr, len);
  std::u16string out;
  if (IsAnsiPage(CodePage)) {
    out.reserve(len);
    for (char c : in) out.push_back(kvp::Cp1252ToWide(static_cast<unsigned char>(c)));
  } else if (CodePage == CP_UTF8) {
    bool bad = false;
    out = kvp::Utf8ToWide(in, &bad);
    if (bad && (dwFlags & MB_ERR_INVALID_CHARS)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (cchWideChar == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(cchWideChar)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpWideCharStr, out.data(), out.size() * sizeof(char16_t));
  return static_cast<int>(out.size());
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
  if (!lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0 || (cbMultiByte > 0 && !lpMultiByteStr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t len = 0;
  if (cchWideChar < 0) {
    while (lpWideCharStr[len]) ++len;
    ++len;
  } else {
    len = static_cast<size_t>(cchWideChar);
  }
  std::u16string_view in(lpWideCharStr, len);
  std::string out;
  bool used = false;
  if (IsAnsiPage(CodePage)) {
    char def = lpDefaultChar && *lpDefaultChar ? *lpDefaultChar : '?';
    out.reserve(len);
    for (size_t i = 0; i < in.size(); ++i) {
      int b = kvp::WideToCp1252(in[i]);
      if (b < 0) {
        used = true;
        out.push_back(def);
        // A surrogate pair is one character and gets one default character.
        if (in[i] >= 0xD800 && in[i] <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF)
          ++i;
      } else {
        out.push_back(static_cast<char>(b));
      }
    }
  } else if (CodePage == CP_UTF8) {
    if (lpDefaultChar || lpUsedDefaultChar) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    out = kvp::WideToUtf8(in);
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  (void)dwFlags;
  if (lpUsedDefaultChar) *lpUsedDefaultChar = used ? TRUE : FALSE;
  if (cbMultiByte == 0) return static_cast<int>(out.size());
  if (out.size() > static_cast<size_t>(cbMultiByte)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpMultiByteStr, out.data(), out.size());
  return static_cast<int>(out.size());
}

std::u16string AnsiToWide(std::string_view text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string out(static_cast<size_t>(n), u'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string WideToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string AnsiToUtf8(std::string_view text) { return kvp::WideToUtf8(AnsiToWide(text)); }

std::string Utf8ToAnsi(std::string_view text) { return WideToAnsi(kvp::Utf8ToWide(text, nullptr)); }
