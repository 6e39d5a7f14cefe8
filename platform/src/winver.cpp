// File version blocks. Windows keeps them as a resource of the executable; an
// executable of ours carries the same VS_VERSIONINFO tree in an ELF note named
// "Korvane" (see sysinfo/uVersionNote.h). Every offset read from the file is
// checked against the file's size: a damaged file reads as "no version".
#include <windows.h>

#include <korvane_text.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kNoteType = 0x4B560001u;
constexpr char kNoteName[] = "Korvane";
constexpr uint32_t kSectionNote = 7;  // SHT_NOTE
constexpr uint32_t kSegmentNote = 4;  // PT_NOTE
constexpr uint64_t kMaxNoteArea = 16u << 20;
constexpr size_t kMaxBlock = 65536;

class TFileBytes {
 public:
  explicit TFileBytes(const std::string& path) : in_(path, std::ios::binary) {
    if (in_) {
      in_.seekg(0, std::ios::end);
      size_ = static_cast<uint64_t>(in_.tellg());
    }
  }
  bool IsOpen() const { return static_cast<bool>(in_); }
  bool Read(uint64_t offset, uint64_t count, std::vector<uint8_t>& out) {
    if (offset > size_ || count > size_ - offset) return false;
    out.resize(static_cast<size_t>(count));
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    in_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(count));
    return static_cast<uint64_t>(in_.gcount()) == count;
  }

 private:
  std::ifstream in_;
  uint64_t size_ = 0;
};

uint64_t Get(const std::vector<uint8_t>& b, size_t at, size_t width) {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v |= uint64_t{b[at + i]} << (8 * i);
  return v;
}

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

size_t Align4(size_t v) { return (v + 3) & ~size_t{3}; }

// The block of our note inside a run of notes, or false.
bool FindNote(const std::vector<uint8_t>& area, std::vector<uint8_t>& block) {
  size_t at = 0;
  while (at + 12 <= area.size()) {
    const uint64_t namesz = Get(area, at, 4), descsz = Get(area, at + 4, 4), type = Get(area, at + 8, 4);
    const uint64_t nameAt = at + 12, descAt = nameAt + Align4(static_cast<size_t>(namesz));
    if (namesz > area.size() || descsz > area.size() || descAt + descsz > area.size()) return false;
    if (type == kNoteType && namesz == sizeof(kNoteName) &&
        std::memcmp(&area[nameAt], kNoteName, sizeof(kNoteName)) == 0) {
      block.assign(area.begin() + static_cast<long>(descAt), area.begin() + static_cast<long>(descAt + descsz));
      return true;
    }
    at = Align4(static_cast<size_t>(descAt + descsz));
  }
  return false;
}

// Reads the version block of an ELF file (32 or 64 bit, little-endian): our
// note in a note section, or else in a note segment.
bool ReadVersionBlock(const std::string& path, std::vector<uint8_t>& block, DWORD& error) {
  TFileBytes file(AnsiToUtf8(path));
  error = ERROR_RESOURCE_TYPE_NOT_FOUND;
  if (!file.IsOpen()) {
    error = ERROR_FILE_NOT_FOUND;
    return false;
  }
  std::vector<uint8_t> h;
  if (!file.Read(0, 64, h) && !file.Read(0, 52, h)) return false;
  if (h.size() < 52 || std::memcmp(h.data(), "\x7F" "ELF", 4) != 0 || h[5] != 1) return false;
  const bool is64 = h[4] == 2;
  if (!is64 && h[4] != 1) return false;
  if (is64 && h.size() < 64) return false;
  const size_t w = is64 ? 8 : 4;
  const uint64_t phoff = Get(h, is64 ? 32 : 28, w), shoff = Get(h, is64 ? 40 : 32, w);
  const uint64_t phentsize = Get(h, is64 ? 54 : 42, 2), phnum = Get(h, is64 ? 56 : 44, 2);
  const uint64_t shentsize = Get(h, is64 ? 58 : 46, 2), shnum = Get(h, is64 ? 60 : 48, 2);

  struct Area { uint64_t offset, size; };
  std::vector<Area> areas;
  std::vector<uint8_t> e;
  if (shoff && shentsize >= (is64 ? 64u : 40u)) {
    for (uint64_t i = 0; i < shnum; ++i) {
      if (!file.Read(shoff + i * shentsize, shentsize, e)) break;
      if (Get(e, 4, 4) == kSectionNote) areas.push_back({Get(e, is64 ? 24 : 16, w), Get(e, is64 ? 32 : 20, w)});
    }
  }
  if (phoff && phentsize >= (is64 ? 56u : 32u)) {
    for (uint64_t i = 0; i < phnum; ++i) {
      if (!file.Read(phoff + i * phentsize, phentsize, e)) break;
      if (Get(e, 0, 4) == kSegmentNote) areas.push_back({Get(e, is64 ? 8 : 4, w), Get(e, is64 ? 32 : 16, w)});
    }
  }
  std::vector<uint8_t> area;
  for (const Area& a : areas) {
    if (a.size > kMaxNoteArea || !file.Read(a.offset, a.size, area)) continue;
    if (!FindNote(area, block)) continue;
    // The root node's own length must lie inside the note.
    if (block.size() < 6 || block.size() > kMaxBlock || Word(block.data()) < 6 || Word(block.data()) > block.size()) {
      error = ERROR_RESOURCE_DATA_NOT_FOUND;
      return false;
    }
    return true;
  }
  return false;
}

struct TNode {
  size_t begin = 0, end = 0;          // the node's bytes
  std::u16string key;
  size_t valueAt = 0, valueSize = 0;  // bytes
  bool text = false;
  size_t childrenAt = 0;
};

bool ParseNode(const uint8_t* b, size_t at, size_t limit, TNode& n) {
  if (at + 6 > limit) return false;
  const size_t length = Word(b + at), valueLength = Word(b + at + 2), type = Word(b + at + 4);
  if (length < 6 || at + length > limit || type > 1) return false;
  n = TNode{};
  n.begin = at;
  n.end = at + length;
  size_t p = at + 6;
  for (;;) {
    if (p + 2 > n.end) return false;
    const char16_t c = Word(b + p);
    p += 2;
    if (c == 0) break;
    n.key += c;
  }
  n.text = type == 1;
  n.valueAt = Align4(p);
  n.valueSize = n.text ? valueLength * 2 : valueLength;
  if (n.valueSize && n.valueAt + n.valueSize > n.end) return false;
  n.childrenAt = Align4(n.valueAt + n.valueSize);
  return true;
}

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool SameKey(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

}  // namespace

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
  if (handle) *handle = 0;
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<uint8_t> block;
  DWORD error = 0;
  if (!ReadVersionBlock(fileName, block, error)) {
    SetLastError(error);
    return 0;
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(block.size());
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR fileName, DWORD, DWORD len, LPVOID data) {
  if (!fileName || !data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::vector<uint8_t> block;
  DWORD error = 0;
  if (!ReadVersionBlock(fileName, block, error)) {
    SetLastError(error);
    return FALSE;
  }
  // A cut block would let its node lengths point past the caller's buffer.
  if (len < block.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(data, block.data(), block.size());
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT len) {
  if (!block || !subBlock || !buffer || !len) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto* b = static_cast<const uint8_t*>(block);
  TNode node;
  if (!ParseNode(b, 0, Word(b), node)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return FALSE;
  }
  const std::string path(subBlock);
  size_t pos = 0;
  while (pos < path.size()) {
    const size_t next = path.find('\\', pos);
    const std::string part = path.substr(pos, next == std::string::npos ? std::string::npos : next - pos);
    pos = next == std::string::npos ? path.size() : next + 1;
    if (part.empty()) continue;
    const std::u16string key = AnsiToWide(part);
    bool found = false;
    TNode child;
    for (size_t at = node.childrenAt; at + 6 <= node.end; at = Align4(child.end)) {
      if (!ParseNode(b, at, node.end, child)) break;
      if (SameKey(child.key, key)) {
        found = true;
        break;
      }
    }
    if (!found) {
      SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
      return FALSE;
    }
    node = child;
  }
  if (node.text || node.valueSize == 0) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return FALSE;
  }
  *buffer = const_cast<uint8_t*>(b + node.valueAt);
  *len = static_cast<UINT>(node.valueSize);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
