// File version blocks: the version an executable carries, damaged files, the
// TVerInfo failures, and VersionToNumber.
#include "sysinfo/VersionInfo.h"
#include "sysinfo/uVersionNote.h"

#include <windows.h>

#include "support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using korvane::testing::WriteTextFile;
using Bytes = std::vector<uint8_t>;

void Put(Bytes& b, size_t at, uint64_t v, size_t width) {
  if (b.size() < at + width) b.resize(at + width);
  for (size_t i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

Bytes NoteBytes(const kvversion::TVersionNote& note) {
  Bytes b(sizeof(note));
  std::memcpy(b.data(), &note, sizeof(note));
  return b;
}

// A minimal little-endian ELF file whose only content is the given note run,
// reachable through a note section or through a note segment.
std::string ElfWith(const Bytes& notes, bool is64, bool asSegment) {
  Bytes b;
  const size_t eh = is64 ? 64 : 52, noteAt = eh;
  b.resize(eh);
  b[0] = 0x7F; b[1] = 'E'; b[2] = 'L'; b[3] = 'F';
  b[4] = is64 ? 2 : 1;
  b[5] = 1;
  b[6] = 1;
  Put(b, 16, 2, 2);
  Put(b, 18, is64 ? 62 : 3, 2);
  Put(b, 20, 1, 4);
  b.insert(b.end(), notes.begin(), notes.end());
  while (b.size() % 8) b.push_back(0);
  const size_t tableAt = b.size();
  if (asSegment) {
    const size_t ph = is64 ? 56 : 32;
    Bytes e(ph, 0);
    Put(e, 0, 4, 4);
    Put(e, is64 ? 8 : 4, noteAt, is64 ? 8 : 4);
    Put(e, is64 ? 32 : 16, notes.size(), is64 ? 8 : 4);
    b.insert(b.end(), e.begin(), e.end());
    Put(b, is64 ? 32 : 28, tableAt, is64 ? 8 : 4);
    Put(b, is64 ? 54 : 42, ph, 2);
    Put(b, is64 ? 56 : 44, 1, 2);
  } else {
    const size_t sh = is64 ? 64 : 40;
    Bytes e(2 * sh, 0);
    Put(e, sh + 4, 7, 4);
    Put(e, sh + (is64 ? 24 : 16), noteAt, is64 ? 8 : 4);
    Put(e, sh + (is64 ? 32 : 20), notes.size(), is64 ? 8 : 4);
    b.insert(b.end(), e.begin(), e.end());
    Put(b, is64 ? 40 : 32, tableAt, is64 ? 8 : 4);
    Put(b, is64 ? 58 : 46, sh, 2);
    Put(b, is64 ? 60 : 48, 2, 2);
  }
  return std::string(b.begin(), b.end());
}

std::string WriteElf(const std::string& name, const Bytes& notes, bool is64 = true, bool asSegment = false) {
  static const korvane::testing::ScratchFolder dir("verinfo");
  const std::string path = dir.File(name);
  WriteTextFile(path, ElfWith(notes, is64, asSegment));
  return path;
}

std::string ProbePath() {
  const char* p = std::getenv("KORVANE_VERSION_PROBE");
  return p ? p : "";
}

TEST(FileVersion, BuiltExecutableCarriesItsVersion) {
  ASSERT_FALSE(ProbePath().empty());
  EXPECT_EQ(FileVersionText(ProbePath()), "2.1.0.7");
  TVerInfo info(ProbePath());
  ASSERT_TRUE(info.HasVerInfo);
  EXPECT_EQ(info.FixedFileInfo.dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(info.FixedFileInfo.dwFileVersionMS, 0x00020001u);
  EXPECT_EQ(info.FixedFileInfo.dwFileVersionLS, 0x00000007u);
  ASSERT_EQ(info.Translations.size(), 1u);
  EXPECT_EQ(info.Translations[0].Language, 0x0409);
  EXPECT_EQ(info.Translations[0].CodePage, 1252);
  EXPECT_EQ(VersionToNumber(FileVersionText(ProbePath())), 2010007);
}

TEST(FileVersion, StrippedExecutableKeepsItsVersion) {
  if (std::system("command -v strip >/dev/null 2>&1") != 0) GTEST_SKIP() << "no strip program";
  const korvane::testing::ScratchFolder dir("stripped");
  const std::string copy = dir.File("probe");
  ASSERT_EQ(std::system(("cp '" + ProbePath() + "' '" + copy + "' && strip '" + copy + "'").c_str()), 0);
  EXPECT_EQ(FileVersionText(copy), "2.1.0.7");
}

TEST(FileVersion, FilesWithoutVersionGiveEmptyText) {
  const korvane::testing::ScratchFolder folder("noversion");
  const std::string dir = folder.Path();
  WriteTextFile(dir + "/text.txt", "just some text\n");
  WriteTextFile(dir + "/empty", "");
  WriteTextFile(dir + "/tiny-elf",
                "\x7F"
                "ELF\x02\x01");
  const std::string cases[] = {
      "/proc/self/exe",  // this test program carries no version
      dir + "/text.txt", dir + "/empty", dir + "/tiny-elf", dir + "/missing", dir,
  };
  for (const std::string& path : cases) {
    EXPECT_EQ(FileVersionText(path), "") << path;
    EXPECT_FALSE(TVerInfo(path).HasVerInfo) << path;
  }
  DWORD handle = 1;
  EXPECT_EQ(GetFileVersionInfoSizeA((dir + "/missing").c_str(), &handle), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(handle, 0u);
  EXPECT_EQ(GetFileVersionInfoSizeA((dir + "/text.txt").c_str(), &handle), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

TEST(FileVersion, NoteFoundInSectionsAndSegmentsOfBothClasses) {
  const Bytes note = NoteBytes(kvversion::MakeVersionNote(3, 14, 15, 926));
  for (bool is64 : {true, false})
    for (bool segment : {false, true}) {
      const std::string path = WriteElf(std::string("v") + (is64 ? "64" : "32") + (segment ? "seg" : "sec"), note,
                                        is64, segment);
      EXPECT_EQ(FileVersionText(path), "3.14.15.926") << path;
    }
  // Other notes before ours are skipped.
  Bytes run(16, 0);
  Put(run, 0, 4, 4);   // namesz
  Put(run, 4, 0, 4);   // descsz
  Put(run, 8, 1, 4);   // type
  std::memcpy(&run[12], "GNU", 4);
  run.insert(run.end(), note.begin(), note.end());
  EXPECT_EQ(FileVersionText(WriteElf("after-gnu", run)), "3.14.15.926");
}

TEST(FileVersion, DamagedNotesReadAsNoVersion) {
  kvversion::TVersionNote note = kvversion::MakeVersionNote(1, 2, 3, 4);
  Bytes tooLong = NoteBytes(note);
  Put(tooLong, 4, 0x7FFFFFF0, 4);  // descsz past the section
  EXPECT_EQ(FileVersionText(WriteElf("desc-too-long", tooLong)), "");

  kvversion::TVersionNote rootTooLong = note;
  rootTooLong.desc.wLength = 200;  // longer than the block
  EXPECT_EQ(FileVersionText(WriteElf("root-too-long", NoteBytes(rootTooLong))), "");

  kvversion::TVersionNote otherName = note;
  otherName.name[0] = 'k';
  EXPECT_EQ(FileVersionText(WriteElf("other-name", NoteBytes(otherName))), "");

  // Section table pointing past the end of the file.
  std::string file = ElfWith(NoteBytes(note), true, false);
  file.resize(file.size() - 40);
  const korvane::testing::ScratchFolder folder("truncated");
  const std::string dir = folder.Path();
  WriteTextFile(dir + "/cut", file);
  EXPECT_EQ(FileVersionText(dir + "/cut"), "");
}

TEST(FileVersion, BadBlocksRaiseTheirErrors) {
  kvversion::TVersionNote noValue = kvversion::MakeVersionNote(1, 2, 3, 4);
  noValue.desc.wValueLength = 0;
  kvversion::TVersionNote shortValue = kvversion::MakeVersionNote(1, 2, 3, 4);
  shortValue.desc.wValueLength = 48;
  const std::pair<kvversion::TVersionNote, const char*> cases[] = {
      {noValue, "Can't read fixed file information"},
      {shortValue, "Fixed file information record wrong size"},
  };
  int i = 0;
  for (const auto& [note, message] : cases) {
    const std::string path = WriteElf("bad" + std::to_string(i++), NoteBytes(note));
    try {
      FileVersionText(path);
      ADD_FAILURE() << "no error for " << message;
    } catch (const EVerInfoError& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
}

// Platform calls with chosen answers, for the failures files cannot show.
struct FakeApi {
  static inline DWORD size = 0;
  static inline bool loadOk = true, rootOk = true;
  static inline UINT rootLength = sizeof(VS_FIXEDFILEINFO), transLength = 0;
  static inline uint8_t data[64] = {};
  static DWORD WINAPI Size(LPCSTR, LPDWORD h) {
    *h = 0;
    return size;
  }
  static BOOL WINAPI Load(LPCSTR, DWORD, DWORD, LPVOID) { return loadOk; }
  static BOOL WINAPI Query(LPCVOID, LPCSTR sub, LPVOID* buf, PUINT len) {
    const bool root = std::strcmp(sub, "\\") == 0;
    if (root && !rootOk) return FALSE;
    *buf = data;
    *len = root ? rootLength : transLength;
    return TRUE;
  }
  static TVersionApi Api() {
    TVersionApi api;
    api.InfoSize = &Size;
    api.Info = &Load;
    api.QueryValue = &Query;
    return api;
  }
};

TEST(VerInfo, PlatformFailures) {
  struct Case {
    DWORD size;
    bool loadOk, rootOk;
    UINT rootLength, transLength;
    const char* error;  // nullptr: no error
    bool has;
    size_t translations;
  };
  const Case cases[] = {
      {0, false, false, 0, 0, nullptr, false, 0},
      {100, false, true, 52, 4, "Can't load version information", true, 0},
      {100, true, false, 52, 4, "Can't read fixed file information", true, 0},
      {100, true, true, 51, 4, "Fixed file information record wrong size", true, 0},
      {100, true, true, 56, 4, "Fixed file information record wrong size", true, 0},
      {100, true, true, 52, 0, nullptr, true, 0},
      {100, true, true, 52, 3, nullptr, true, 0},
      {100, true, true, 52, 4, nullptr, true, 1},
      {100, true, true, 52, 11, nullptr, true, 2},
  };
  for (const Case& c : cases) {
    FakeApi::size = c.size;
    FakeApi::loadOk = c.loadOk;
    FakeApi::rootOk = c.rootOk;
    FakeApi::rootLength = c.rootLength;
    FakeApi::transLength = c.transLength;
    if (c.error) {
      try {
        TVerInfo info("x", FakeApi::Api());
        ADD_FAILURE() << "expected " << c.error;
      } catch (const EVerInfoError& e) {
        EXPECT_STREQ(e.what(), c.error);
      }
    } else {
      TVerInfo info("x", FakeApi::Api());
      EXPECT_EQ(info.HasVerInfo, c.has);
      EXPECT_EQ(info.Translations.size(), c.translations);
    }
  }
}

TEST(VersionNumber, JoinsTwoDigitGroups) {
  const std::pair<const char*, int32_t> cases[] = {
      {"1.0.3.25", 1000325},      {"2.1.0.7", 2010007},      {"0.0.0.0", 0},
      {"10.20.30.40", 10203040},  {"1.2.3.100", 10203100},   {"007.1.2.3", 7010203},
      {"2147.48.36.47", 2147483647},
  };
  for (const auto& [text, number] : cases) EXPECT_EQ(VersionToNumber(text), number) << text;
  // Ordering holds while every part stays below 100.
  EXPECT_LT(VersionToNumber("1.0.3.25"), VersionToNumber("1.0.4.0"));
  EXPECT_LT(VersionToNumber("1.9.99.99"), VersionToNumber("2.0.0.0"));
}

TEST(VersionNumber, ConversionErrors) {
  const char* bad[] = {"1.2.3", "1.2.3.4.5", "", "1", "a.b.c.d", "1..2.3", "1.2.3.", ".1.2.3",
                       "-1.2.3.4", "1.2.3.x", "1.2.3.4 ", "99999999999.0.0.0", "2147.48.36.48", "1.2.3.4.",
                       "9999.99.99.99"};
  for (const char* text : bad) EXPECT_THROW(VersionToNumber(text), EVersionConvertError) << text;
}

}  // namespace
