// lstrcmpA and friends: the word sort Windows applies in a Western locale.
#include <windows.h>

#include <korvane_text.h>

#include "internal.h"

#include <cstring>
#include <vector>

namespace {

struct Unit {
  int primary;
  int accent;
  int upper;
};

enum Accent { kNone = 0, kAcute, kGrave, kCirc, kDiaer, kTilde, kRing, kCedilla, kStroke, kCaron, kSuper };

int Letter(char base) { return 3000 + (base - 'a') * 4; }

// Breaks one code-page character into its sort units; hyphen and apostrophe give none
// (word sort weighs them only when everything else is equal).
void Units(unsigned char c, std::vector<Unit>& out) {
  auto L = [&](char base, int accent, bool up) { out.push_back({Letter(base), accent, up ? 1 : 0}); };
  if (c == '-' || c == '\'' || c == 0xAD || c == 0x96 || c == 0x97) return;
  if (c < 0x20 || c == 0x7F) return;  // controls carry no weight
  if (c >= 'a' && c <= 'z') return L(static_cast<char>(c), kNone, false);
  if (c >= 'A' && c <= 'Z') return L(static_cast<char>(c - 'A' + 'a'), kNone, true);
  if (c >= '0' && c <= '9') return out.push_back({2000 + (c - '0') * 4, kNone, 0});
  if (c >= 0xC0) {
    bool up = c < 0xE0;
    unsigned char u = up ? c : static_cast<unsigned char>(c - 0x20);
    static const int vowA[6] = {kGrave, kAcute, kCirc, kTilde, kDiaer, kRing};
    static const int vow4[4] = {kGrave, kAcute, kCirc, kDiaer};
    static const int vowO[5] = {kGrave, kAcute, kCirc, kTilde, kDiaer};
    if (c == 0xD7) return out.push_back({1000 + 0xD7, kNone, 0});
    if (c == 0xF7) return out.push_back({1000 + 0xF7, kNone, 0});
    if (c == 0xDF) {  // sharp s sorts as "ss"
      L('s', kNone, false);
      return L('s', kNone, false);
    }
    if (c == 0xFF) return L('y', kDiaer, false);
    if (u <= 0xC5) return L('a', vowA[u - 0xC0], up);
    if (u == 0xC6) {
      L('a', kNone, up);
      return L('e', kNone, up);
    }
    if (u == 0xC7) return L('c', kCedilla, up);
    if (u <= 0xCB) return L('e', vow4[u - 0xC8], up);
    if (u <= 0xCF) return L('i', vow4[u - 0xCC], up);
    if (u == 0xD0) return L('d', kStroke, up);
    if (u == 0xD1) return L('n', kTilde, up);
    if (u <= 0xD6) return L('o', vowO[u - 0xD2], up);
    if (u == 0xD8) return L('o', kStroke, up);
    if (u <= 0xDC) return L('u', vow4[u - 0xD9], up);
    if (u == 0xDD) return L('y', kAcute, up);
    if (u == 0xDE) return out.push_back({Letter('z') + 2, kNone, up ? 1 : 0});  // thorn after z
  }
  switch (c) {
    case 0x8A: return L('s', kCaron, true);
    case 0x9A: return L('s', kCaron, false);
    case 0x8E: return L('z', kCaron, true);
    case 0x9E: return L('z', kCaron, false);
    case 0x9F: return L('y', kDiaer, true);
    case 0x83: return L('f', kStroke, false);
    case 0x8C: L('o', kNone, true); return L('e', kNone, true);
    case 0x9C: L('o', kNone, false); return L('e', kNone, false);
    case 0xAA: return L('a', kSuper, false);
    case 0xBA: return L('o', kSuper, false);
    case 0xB9: return out.push_back({2000 + 4, kSuper, 0});
    case 0xB2: return out.push_back({2000 + 8, kSuper, 0});
    case 0xB3: return out.push_back({2000 + 12, kSuper, 0});
    default: break;
  }
  // Blanks, punctuation and symbols sort before digits, in character order.
  out.push_back({100 + static_cast<int>(kvp::Cp1252ToWide(c)) % 900, kNone, 0});
}

int Sign(int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

int KorvaneCompareAnsi(std::string_view a, std::string_view b, bool ignoreCase) {
  std::vector<Unit> ua, ub;
  for (char c : a) Units(static_cast<unsigned char>(c), ua);
  for (char c : b) Units(static_cast<unsigned char>(c), ub);
  size_t n = std::min(ua.size(), ub.size());
  for (size_t i = 0; i < n; ++i)
    if (ua[i].primary != ub[i].primary) return Sign(ua[i].primary - ub[i].primary);
  if (ua.size() != ub.size()) return ua.size() < ub.size() ? -1 : 1;
  for (size_t i = 0; i < n; ++i)
    if (ua[i].accent != ub[i].accent) return Sign(ua[i].accent - ub[i].accent);
  if (!ignoreCase)
    for (size_t i = 0; i < n; ++i)
      if (ua[i].upper != ub[i].upper) return Sign(ua[i].upper - ub[i].upper);
  // Equal but for hyphens, apostrophes and controls: the shorter text first, then bytes.
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  if (ignoreCase) {
    for (size_t i = 0; i < a.size(); ++i) {
      std::vector<Unit> x, y;
      Units(static_cast<unsigned char>(a[i]), x);
      Units(static_cast<unsigned char>(b[i]), y);
      if (x.empty() && y.empty() && a[i] != b[i])
        return Sign(static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]));
    }
    return 0;
  }
  return Sign(std::memcmp(a.data(), b.data(), a.size()));
}

int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2) {
  if (!lpString1 || !lpString2) return lpString1 ? 1 : lpString2 ? -1 : 0;
  return KorvaneCompareAnsi(lpString1, lpString2, false);
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
  if (!lpString1 || !lpString2) return lpString1 ? 1 : lpString2 ? -1 : 0;
  return KorvaneCompareAnsi(lpString1, lpString2, true);
}

int WINAPI lstrlenA(LPCSTR lpString) { return lpString ? static_cast<int>(std::strlen(lpString)) : 0; }

static thread_local DWORD g_lastError = ERROR_SUCCESS;

DWORD WINAPI GetLastError() { return g_lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { g_lastError = dwErrCode; }
