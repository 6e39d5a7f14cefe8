// korvane_text.h on Windows: the system's own conversions and word sort.
#include <windows.h>

#include <korvane_text.h>

#include <climits>

namespace {

std::wstring ToWide(UINT codePage, std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string FromWide(UINT codePage, std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

}  // namespace

// wchar_t is UTF-16 on Windows, the same code units as char16_t.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide text");

std::u16string AnsiToWide(std::string_view text) {
  const std::wstring wide = ToWide(CP_ACP, text);
  return std::u16string(wide.begin(), wide.end());
}

std::string WideToAnsi(std::u16string_view text) {
  const std::wstring wide(text.begin(), text.end());
  return FromWide(CP_ACP, wide);
}

std::string AnsiToUtf8(std::string_view text) { return FromWide(CP_UTF8, ToWide(CP_ACP, text)); }

std::string Utf8ToAnsi(std::string_view text) { return FromWide(CP_ACP, ToWide(CP_UTF8, text)); }

int KorvaneCompareAnsi(std::string_view a, std::string_view b, bool ignoreCase) {
  const int r = CompareStringA(LOCALE_USER_DEFAULT, ignoreCase ? NORM_IGNORECASE : 0, a.data(),
                               static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()));
  return r == 0 ? 0 : r - CSTR_EQUAL;
}
