// Variable-length unsigned numbers (7 bits a byte, low bits first) for the compact
// in-memory records of the layer: small numbers, the usual case, take one byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvp {

inline size_t VarSize(uint64_t v) {
  size_t n = 1;
  while (v >= 0x80) {
    v >>= 7;
    ++n;
  }
  return n;
}

inline uint8_t* PutVar(uint8_t* at, uint64_t v) {
  while (v >= 0x80) {
    *at++ = static_cast<uint8_t>(v | 0x80);
    v >>= 7;
  }
  *at++ = static_cast<uint8_t>(v);
  return at;
}

inline const uint8_t* GetVar(const uint8_t* at, uint64_t& v) {
  v = 0;
  for (int shift = 0;; shift += 7) {
    const uint8_t b = *at++;
    v |= static_cast<uint64_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) return at;
  }
}

}  // namespace kvp
