// The version block an executable of ours carries: a Windows VS_VERSIONINFO
// tree (fixed file information and the translation table) inside an ELF note
// of the name "Korvane". korvane_embed_version() compiles one into a target;
// GetFileVersionInfoA reads it back from the file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvversion {

constexpr uint32_t kNoteType = 0x4B560001u;  // "KV" and record kind 1
constexpr char kNoteName[] = "Korvane";
constexpr uint16_t kLanguageUsEnglish = 0x0409;
constexpr uint16_t kCodePageWestern = 1252;

struct TFixedFileInfo {
  uint32_t dwSignature;
  uint32_t dwStrucVersion;
  uint32_t dwFileVersionMS;
  uint32_t dwFileVersionLS;
  uint32_t dwProductVersionMS;
  uint32_t dwProductVersionLS;
  uint32_t dwFileFlagsMask;
  uint32_t dwFileFlags;
  uint32_t dwFileOS;
  uint32_t dwFileType;
  uint32_t dwFileSubtype;
  uint32_t dwFileDateMS;
  uint32_t dwFileDateLS;
};

// VS_VERSIONINFO { VS_FIXEDFILEINFO; VarFileInfo { Var "Translation" } },
// laid out as in a Windows resource: 16-bit lengths, UTF-16 keys, 32-bit
// alignment (the padding words are explicit, so the struct has no holes).
struct TVersionBlock {
  uint16_t wLength;
  uint16_t wValueLength;
  uint16_t wType;
  char16_t szKey[16];
  uint16_t padding1;
  TFixedFileInfo Value;
  uint16_t vfLength;
  uint16_t vfValueLength;
  uint16_t vfType;
  char16_t vfKey[12];
  uint16_t padding2;
  uint16_t trLength;
  uint16_t trValueLength;
  uint16_t trType;
  char16_t trKey[12];
  uint16_t padding3;
  uint16_t trLanguage;
  uint16_t trCodePage;
};

struct TVersionNote {
  uint32_t namesz;
  uint32_t descsz;
  uint32_t type;
  char name[8];
  TVersionBlock desc;
};

static_assert(sizeof(TFixedFileInfo) == 52, "fixed file information is 52 bytes");
static_assert(sizeof(TVersionBlock) == 160, "version block has no holes");
static_assert(sizeof(TVersionNote) == 180, "note has no holes");

constexpr TVersionNote MakeVersionNote(uint16_t major, uint16_t minor, uint16_t release, uint16_t build,
                                       uint32_t fileType = 1 /* VFT_APP */) {
  const uint32_t ms = (uint32_t{major} << 16) | minor;
  const uint32_t ls = (uint32_t{release} << 16) | build;
  return TVersionNote{
      sizeof(kNoteName),
      sizeof(TVersionBlock),
      kNoteType,
      {'K', 'o', 'r', 'v', 'a', 'n', 'e', '\0'},
      TVersionBlock{
          sizeof(TVersionBlock),
          sizeof(TFixedFileInfo),
          0,
          u"VS_VERSION_INFO",
          0,
          TFixedFileInfo{0xFEEF04BDu, 0x00010000u, ms, ls, ms, ls, 0x3Fu, 0, 0x00040004u, fileType, 0, 0, 0},
          sizeof(TVersionBlock) - offsetof(TVersionBlock, vfLength),
          0,
          1,
          u"VarFileInfo",
          0,
          sizeof(TVersionBlock) - offsetof(TVersionBlock, trLength),
          4,
          0,
          u"Translation",
          0,
          kLanguageUsEnglish,
          kCodePageWestern,
      },
  };
}

}  // namespace kvversion

// Defines the note in a section the linker keeps; used once per executable by
// the source that korvane_embed_version() generates.
#define KORVANE_VERSION_NOTE(major, minor, release, build)                                             \
  extern "C" __attribute__((section(".note.korvane.version"), used, aligned(4)))                     \
  const kvversion::TVersionNote korvane_version_note = kvversion::MakeVersionNote(major, minor, release, build);
