// lstrcmpA and friends: the word sort Windows applies in a Western locale.
#include <windows.h>

#include <korvane_text.h>

#include "internal.h"

#include <cstdint>
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

// Each byte's sort units (at most two), worked out once: comparisons run without
// allocating, so a catalogue of thousands of classes sorts quickly.
struct UnitTable {
  uint8_t count[256];
  Unit unit[256][2];
  UnitTable() {
    for (int c = 0; c < 256; ++c) {
      std::vector<Unit> u;
      Units(static_cast<unsigned char>(c), u);
      count[c] = static_cast<uint8_t>(u.size());
      for (size_t i = 0; i < u.size() && i < 2; ++i) unit[c][i] = u[i];
    }
  }
};

const UnitTable& Table() {
  static const UnitTable table;
  return table;
}

// Walks the sort units of a text in order.
class UnitStream {
 public:
  UnitStream(const UnitTable& t, std::string_view s) : t_(t), s_(s) { Skip(); }
  bool Done() const { return pos_ >= s_.size(); }
  const Unit& Get() const { return t_.unit[Byte()][sub_]; }
  void Next() {
    ++sub_;
    Skip();
  }

 private:
  unsigned char Byte() const { return static_cast<unsigned char>(s_[pos_]); }
  void Skip() {
    while (pos_ < s_.size() && sub_ >= t_.count[Byte()]) {
      ++pos_;
      sub_ = 0;
    }
  }
  const UnitTable& t_;
  std::string_view s_;
  size_t pos_ = 0;
  unsigned sub_ = 0;
};

// Compares one field of the two unit streams; 2 when the streams differ in length.
template <typename Field>
int ComparePass(const UnitTable& t, std::string_view a, std::string_view b, Field field) {
  UnitStream x(t, a), y(t, b);
  for (; !x.Done() && !y.Done(); x.Next(), y.Next()) {
    int d = field(x.Get()) - field(y.Get());
    if (d) return Sign(d);
  }
  if (x.Done() != y.Done()) return x.Done() ? -2 : 2;
  return 0;
}

}  // namespace

int KorvaneCompareAnsi(std::string_view a, std::string_view b, bool ignoreCase) {
  const UnitTable& t = Table();
  int r = ComparePass(t, a, b, [](const Unit& u) { return u.primary; });
  if (r) return r < -1 ? -1 : r > 1 ? 1 : r;
  r = ComparePass(t, a, b, [](const Unit& u) { return u.accent; });
  if (r) return Sign(r);
  if (!ignoreCase) {
    r = ComparePass(t, a, b, [](const Unit& u) { return u.upper; });
    if (r) return Sign(r);
  }
  // Equal but for hyphens, apostrophes and controls: the shorter text first, then bytes.
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  if (ignoreCase) {
    for (size_t i = 0; i < a.size(); ++i) {
      const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
      if (t.count[x] == 0 && t.count[y] == 0 && x != y) return Sign(x - y);
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
