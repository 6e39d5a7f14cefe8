// CompareStringA over code page 1252 text, ordered as lstrcmpA orders.
#include <windows.h>

#include <string>

namespace {

// Lower case of a code page 1252 letter (ASCII, the Latin-1 letters and the
// four letters at 0x8A..0x9F); other bytes stay.
unsigned char FoldCase(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 0x20);
  switch (c) {
    case 0x8A: return 0x9A;  // S caron
    case 0x8C: return 0x9C;  // OE
    case 0x8E: return 0x9E;  // Z caron
    case 0x9F: return 0xFF;  // Y diaeresis
    default: return c;
  }
}

std::string Take(LPCSTR s, int count) {
  if (count < 0) return std::string(s);
  return std::string(s, static_cast<size_t>(count));
}

}  // namespace

int WINAPI CompareStringA(LCID, DWORD flags, LPCSTR s1, int n1, LPCSTR s2, int n2) {
  if (!s1 || !s2 || n1 < -1 || n2 < -1) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (flags & ~static_cast<DWORD>(NORM_IGNORECASE | SORT_STRINGSORT)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  std::string a = Take(s1, n1);
  std::string b = Take(s2, n2);
  // A counted text ends at its first zero byte, as the zero-terminated form does.
  a.resize(a.find('\0') == std::string::npos ? a.size() : a.find('\0'));
  b.resize(b.find('\0') == std::string::npos ? b.size() : b.find('\0'));
  if (flags & NORM_IGNORECASE) {
    for (char& c : a) c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
    for (char& c : b) c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
  }
  SetLastError(ERROR_SUCCESS);
  if (a == b) return CSTR_EQUAL;
  const int r = lstrcmpA(a.c_str(), b.c_str());
  return r < 0 ? CSTR_LESS_THAN : r > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL;
}
