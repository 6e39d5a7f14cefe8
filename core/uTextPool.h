// Append-only text storage for many small texts that live as long as their owner
// (the driver list): one handle of 8 bytes per text instead of a 32-byte string
// with its own allocation.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace text_pool_detail {

// A text's length is stored in front of its characters: one unit when it is below
// the unit's largest value, else that value after the 32-bit length in units.
template <class Char>
struct TLengthCode {
  using Unit = std::make_unsigned_t<Char>;
  static constexpr Unit Long = std::numeric_limits<Unit>::max();
  static constexpr std::size_t LongUnits = sizeof(uint32_t) / sizeof(Char);
  static constexpr unsigned UnitBits = 8 * sizeof(Char);

  static std::size_t PrefixUnits(std::size_t length) { return length < Long ? 1 : LongUnits + 1; }

  // Writes the prefix so that it ends right before `text`.
  static void Write(Char* text, std::size_t length) {
    if (length < Long) {
      text[-1] = static_cast<Char>(length);
      return;
    }
    text[-1] = static_cast<Char>(Long);
    for (std::size_t i = 0; i < LongUnits; ++i)
      text[-2 - static_cast<std::ptrdiff_t>(i)] =
          static_cast<Char>(static_cast<Unit>(length >> (i * UnitBits)));
  }

  static std::size_t Read(const Char* text) {
    const Unit last = static_cast<Unit>(text[-1]);
    if (last != Long) return last;
    std::size_t length = 0;
    for (std::size_t i = 0; i < LongUnits; ++i)
      length |= std::size_t{static_cast<Unit>(text[-2 - static_cast<std::ptrdiff_t>(i)])} << (i * UnitBits);
    return length;
  }
};

// The empty text every default handle points at: a zero length, then the NUL.
template <class Char>
inline constexpr Char EmptyText[2] = {};

}  // namespace text_pool_detail

template <class Char>
class TTextPool;

// A text kept by a TTextPool: its length and characters (NUL-terminated, embedded
// NULs kept) stay valid as long as the pool. A default handle is the empty text.
template <class Char>
class TKeptText {
 public:
  using View = std::basic_string_view<Char>;

  TKeptText() = default;

  std::size_t size() const { return text_pool_detail::TLengthCode<Char>::Read(Text); }
  bool empty() const { return size() == 0; }
  const Char* c_str() const { return Text; }
  View view() const { return View(Text, size()); }
  operator View() const { return view(); }
  std::basic_string<Char> str() const { return std::basic_string<Char>(view()); }

  friend bool operator==(TKeptText a, TKeptText b) { return a.view() == b.view(); }
  friend bool operator!=(TKeptText a, TKeptText b) { return a.view() != b.view(); }
  friend bool operator==(TKeptText a, View b) { return a.view() == b; }
  friend bool operator!=(TKeptText a, View b) { return a.view() != b; }
  friend bool operator==(View a, TKeptText b) { return a == b.view(); }
  friend bool operator!=(View a, TKeptText b) { return a != b.view(); }

 private:
  friend class TTextPool<Char>;
  explicit TKeptText(const Char* text) : Text(text) {}

  const Char* Text = text_pool_detail::EmptyText<Char> + 1;
};

inline std::ostream& operator<<(std::ostream& out, TKeptText<char> text) { return out << text.view(); }

// Append-only storage in chunks that never move: moving the pool keeps every
// handle it gave valid; destroying it ends them all.
template <class Char>
class TTextPool {
 public:
  using View = std::basic_string_view<Char>;

  TTextPool() = default;
  TTextPool(TTextPool&& other) noexcept { *this = std::move(other); }
  TTextPool& operator=(TTextPool&& other) noexcept {
    Chunks = std::move(other.Chunks);
    Free = other.Free;
    Left = other.Left;
    other.Chunks.clear();
    other.Free = nullptr;
    other.Left = 0;
    return *this;
  }
  TTextPool(const TTextPool&) = delete;
  TTextPool& operator=(const TTextPool&) = delete;

  // A copy of text that lives as long as the pool; the empty text takes no room.
  TKeptText<Char> Keep(View text) {
    using Code = text_pool_detail::TLengthCode<Char>;
    if (text.empty()) return {};
    if (text.size() > std::numeric_limits<uint32_t>::max()) throw std::length_error("text too long to keep");
    const std::size_t prefix = Code::PrefixUnits(text.size());
    const std::size_t need = prefix + text.size() + 1;
    if (need > Left) NewChunk(need);
    Char* at = Free + prefix;
    Code::Write(at, text.size());
    text.copy(at, text.size());
    at[text.size()] = Char();
    Free += need;
    Left -= need;
    return TKeptText<Char>(at);
  }

 private:
  // Chunks grow from small (a list of a few devices stays small) to a cap that
  // keeps the unused tail of the last one small beside the whole.
  static constexpr std::size_t FirstChunkUnits = 1024 / sizeof(Char);
  static constexpr std::size_t LastChunkUnits = 64 * 1024 / sizeof(Char);

  void NewChunk(std::size_t need) {
    const std::size_t grown = Chunks.size() >= 6 ? LastChunkUnits : FirstChunkUnits << Chunks.size();
    const std::size_t units = std::max(need, std::min(grown, LastChunkUnits));
    std::unique_ptr<Char[]> chunk(new Char[units]);
    Chunks.push_back(std::move(chunk));
    Free = Chunks.back().get();
    Left = units;
  }

  std::vector<std::unique_ptr<Char[]>> Chunks;
  Char* Free = nullptr;
  std::size_t Left = 0;
};

using TShortText = TKeptText<char>;
using TWideText = TKeptText<char16_t>;
