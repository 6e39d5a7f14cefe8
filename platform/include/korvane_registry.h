// Registry helpers on top of the registry calls (not Windows): a key handle that closes
// itself, and typed reads of a text or a number value. Each reader says which types it
// takes; what an absent or a wrong value means stays the caller's decision.
#pragma once

#include <windows.h>

#include <string>

// An open key, closed on destruction; movable, not copyable.
class KorvaneRegKey {
 public:
  KorvaneRegKey() noexcept = default;
  explicit KorvaneRegKey(HKEY key) noexcept : key_(key) {}
  ~KorvaneRegKey() { Reset(); }
  KorvaneRegKey(KorvaneRegKey&& other) noexcept : key_(other.Release()) {}
  KorvaneRegKey& operator=(KorvaneRegKey&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  KorvaneRegKey(const KorvaneRegKey&) = delete;
  KorvaneRegKey& operator=(const KorvaneRegKey&) = delete;

  HKEY Get() const noexcept { return key_; }
  explicit operator bool() const noexcept { return key_ != nullptr; }
  // Gives the key up without closing it.
  HKEY Release() noexcept {
    HKEY key = key_;
    key_ = nullptr;
    return key;
  }
  // Closes the key held (a predefined root is never closed) and holds key instead.
  void Reset(HKEY key = nullptr) noexcept;
  // The out parameter of RegOpenKeyExA/RegCreateKeyExA; the key held so far is closed.
  HKEY* Receive() noexcept {
    Reset();
    return &key_;
  }

 private:
  HKEY key_ = nullptr;
};

// What RegReadString takes.
struct KorvaneRegTextRules {
  // REG_EXPAND_SZ is read as stored (its variables not expanded); false: REG_SZ only.
  bool expandSz = true;
  // A value of more bytes (its NUL included) fails with ERROR_MORE_DATA; 0: any size.
  DWORD maxBytes = 0;
};

// A text value, cut at its first NUL. ERROR_SUCCESS; ERROR_FILE_NOT_FOUND when absent;
// ERROR_UNSUPPORTED_TYPE when of a type the rules do not take; else the failure of the
// registry call. text is empty after any failure.
LSTATUS RegReadString(HKEY key, LPCSTR name, std::string& text, const KorvaneRegTextRules& rules = {});

// A REG_DWORD value of four bytes. ERROR_SUCCESS; ERROR_FILE_NOT_FOUND when absent;
// ERROR_UNSUPPORTED_TYPE for another type or size; else the failure of the registry
// call. value is 0 after any failure.
LSTATUS RegReadDword(HKEY key, LPCSTR name, DWORD& value);
