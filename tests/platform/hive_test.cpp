// The hive text format: every value type, escapes, continuation lines, and faults that
// name the file and line.
#include "platform/src/hive.h"

#include <gtest/gtest.h>

#include <filesystem>

using kvp::ParseHive;
using kvp::RegKey;
using kvp::SerializeHive;

namespace {

RegKey Parse(const std::string& text) {
  RegKey root;
  std::string err;
  EXPECT_TRUE(ParseHive(text, "HKEY_LOCAL_MACHINE", "system.reg", root, &err)) << err;
  return root;
}

std::string Fault(const std::string& text) {
  RegKey root;
  std::string err;
  EXPECT_FALSE(ParseHive(text, "HKEY_LOCAL_MACHINE", "/m/system.reg", root, &err));
  return err;
}

}  // namespace

TEST(Hive, ParsesEveryType) {
  RegKey root = Parse(
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "; a comment\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Test]\r\n"
      "@=\"default\"\r\n"
      "\"Quote\"=\"say \\\"hi\\\" C:\\\\dir\\\\\"\r\n"
      "\"Caf\xC3\xA9\"=\"\xE2\x82\xAC 5\"\r\n"
      "\"Count\"=dword:0000000a\r\n"
      "\"Multi\"=hex(7):41,00,00,00,42,00,00,00,00,00\r\n"
      "\"Bin\"=hex:de,ad,\\\r\n"
      "  be,ef\r\n"
      "\"Empty\"=hex:\r\n"
      "\"Expand\"=hex(2):25,00,00,00\r\n");
  const RegKey* k = root.Walk({"SOFTWARE", "test"});
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->name, "Test");
  ASSERT_EQ(k->values.size(), 8u);
  EXPECT_EQ(kvp::BytesToUtf16(k->FindValue("")->Data()), std::u16string(u"default\0", 8));
  EXPECT_EQ(kvp::BytesToUtf16(k->FindValue("quote")->Data()), std::u16string(u"say \"hi\" C:\\dir\\\0", 17));
  EXPECT_EQ(kvp::BytesToUtf16(k->FindValue("CAF\xC3\x89")->Data()), std::u16string(u"\u20AC 5\0", 4));
  EXPECT_EQ(k->FindValue("Count")->Type(), 4u);
  EXPECT_EQ(k->FindValue("Count")->Data().ToVector(), (std::vector<uint8_t>{10, 0, 0, 0}));
  EXPECT_EQ(k->FindValue("Multi")->Type(), 7u);
  EXPECT_EQ(k->FindValue("Bin")->Data().ToVector(), (std::vector<uint8_t>{0xde, 0xad, 0xbe, 0xef}));
  EXPECT_TRUE(k->FindValue("Empty")->Data().empty());
  EXPECT_EQ(k->FindValue("Expand")->Type(), 2u);
}

TEST(Hive, RoundTripKeepsEverything) {
  RegKey root;
  root.name = "HKEY_CURRENT_USER";
  RegKey& k = root.WalkOrAdd({"Software", "Brantholm", "Korvane"});
  k.SetValue("", 1, kvp::Utf16Bytes(u"default", true));
  k.SetValue("Path\\\"x\"", 1, kvp::Utf16Bytes(u"C:\\Program Files\\\"K\"", true));
  k.SetValue("Unicode", 1, kvp::Utf16Bytes(u"\u00e9\u20ac\U0001F600", true));
  k.SetValue("Lines", 1, kvp::Utf16Bytes(u"two\r\nlines", true));  // needs the hex form
  k.SetValue("NoNul", 1, kvp::Utf16Bytes(u"x", false));
  k.SetValue("D", 4, std::vector<uint8_t>{1, 2, 3, 4});
  k.SetValue("ShortD", 4, std::vector<uint8_t>{1, 2});
  k.SetValue("M", 7, kvp::Utf16Bytes(std::u16string(u"A\0B\0\0", 5), false));
  std::vector<uint8_t> big;
  for (int i = 0; i < 300; ++i) big.push_back(static_cast<uint8_t>(i));
  k.SetValue("Big", 3, big);
  k.SetValue("Q", 11, std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0});
  root.WalkOrAdd({"Software", "Empty key"});
  std::string text = SerializeHive(root, "HKEY_CURRENT_USER");
  for (size_t pos = 0, n; (n = text.find('\n', pos)) != std::string::npos; pos = n + 1)
    EXPECT_LE(n - pos, 80u) << "long line";
  RegKey back;
  std::string err;
  ASSERT_TRUE(ParseHive(text, "HKEY_CURRENT_USER", "user.reg", back, &err)) << err << "\n" << text;
  const RegKey* bk = back.Walk({"Software", "Brantholm", "Korvane"});
  ASSERT_NE(bk, nullptr);
  ASSERT_EQ(bk->values.size(), k.values.size());
  for (size_t i = 0; i < k.values.size(); ++i) {
    EXPECT_EQ(bk->values[i].Name(), k.values[i].Name());
    EXPECT_EQ(bk->values[i].Type(), k.values[i].Type()) << k.values[i].Name();
    EXPECT_EQ(bk->values[i].Data().ToVector(), k.values[i].Data().ToVector()) << k.values[i].Name();
  }
  EXPECT_NE(back.Walk({"software", "EMPTY KEY"}), nullptr);
  EXPECT_EQ(SerializeHive(back, "HKEY_CURRENT_USER"), text);
  EXPECT_NE(text.find("\"D\"=dword:04030201"), std::string::npos);
  EXPECT_NE(text.find("@=\"default\""), std::string::npos);
  EXPECT_NE(text.find("\"Path\\\\\\\"x\\\"\"=\"C:\\\\Program Files\\\\\\\"K\\\"\""), std::string::npos);
}

TEST(Hive, FaultsNameFileAndLine) {
  const std::string head = "Windows Registry Editor Version 5.00\n\n";
  struct {
    std::string text;
    std::string expect;
  } cases[] = {
      {"REGEDIT5\n", "/m/system.reg:1: not a registry file"},
      {head + "\"x\"=\"y\"\n", "/m/system.reg:3: value outside a key"},
      {head + "[HKEY_CURRENT_USER\\Software]\n", "/m/system.reg:3: key outside HKEY_LOCAL_MACHINE"},
      {head + "[HKEY_LOCAL_MACHINE\\A\n", "/m/system.reg:3: key line without closing ']'"},
      {head + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"open\n", "/m/system.reg:4: unterminated quoted text"},
      {head + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:1234567890\n", "/m/system.reg:4: bad dword value"},
      {head + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:zz\n", "/m/system.reg:4: bad dword value"},
      {head + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:0g\n", "/m/system.reg:4: bad hex byte"},
      {head + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,\\\n", "/m/system.reg:4: continuation at the end"},
      {head + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex(q):00\n", "/m/system.reg:4: bad hex(type)"},
      {head + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=str:1\n", "/m/system.reg:4: unknown value data"},
      {head + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"\"y\"\n", "/m/system.reg:4: expected '='"},
      {head + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"a\" b\n", "/m/system.reg:4: text after the closing quote"},
      {head + "[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"\xFF\"\n", "/m/system.reg:4: text is not UTF-8"},
  };
  for (const auto& c : cases) {
    std::string err = Fault(c.text);
    EXPECT_EQ(err.rfind(c.expect, 0), 0u) << "got: " << err << "\nfor: " << c.text;
  }
}

TEST(Hive, DeletionLinesAndEmptyFile) {
  RegKey root = Parse(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"1\"\n\"w\"=\"2\"\n"
      "[HKEY_LOCAL_MACHINE\\A\\C]\n"
      "[-HKEY_LOCAL_MACHINE\\A\\C]\n"
      "[HKEY_LOCAL_MACHINE\\A\\B]\n\"w\"=-\n");
  EXPECT_EQ(root.Walk({"A", "C"}), nullptr);
  ASSERT_NE(root.Walk({"A", "B"}), nullptr);
  EXPECT_EQ(root.Walk({"A", "B"})->values.size(), 1u);
  RegKey empty = Parse("");
  EXPECT_TRUE(empty.subkeys.empty());
}

// ---- regedit's own files, through the registry functions ----

#include <windows.h>

#include "support/ScratchMachine.h"

using korvane::testing::ScratchMachine;

namespace {

std::string Utf16File(const std::string& utf8) {
  std::u16string w;
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    char32_t cp = c;
    size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (n > 1) cp = c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    i += n;
    w.push_back(static_cast<char16_t>(cp));
  }
  std::string out = "\xFF\xFE";
  for (char16_t c : w) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::string Lines(std::initializer_list<const char*> lines) {
  std::string out;
  for (const char* l : lines) out += std::string(l) + "\r\n";
  return out;
}

// A branch as regedit exports it: the keys above the branch are not listed.
const std::string kClassKey =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}";

std::string Export5() {
  return Lines({"Windows Registry Editor Version 5.00", "", ("[" + kClassKey + "\\0000]").c_str(),
                "\"DriverDate\"=\"7-1-2001\"", "\"ProviderName\"=\"Caf\xC3\xA9 \xE2\x82\xAC Ltd\"",
                "\"InfPath\"=hex(2):25,00,77,00,69,00,6e,00,64,00,69,00,72,00,25,00,5c,00,69,00,\\",
                "  6e,00,66,00,00,00",
                "\"Ids\"=hex(7):41,00,00,00,e9,00,ac,20,00,00,00,00",
                "\"Flags\"=dword:0000000a", "@=\"default\"", "",
                ("[" + kClassKey + "\\0000\\Settings]").c_str(),
                "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\",
                "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\",
                "  2f", ""});
}

std::string Export4() {
  // The system code page: "Caf\xE9" and "\x80" (the euro sign), hex(2)/hex(7) in bytes.
  return Lines({"REGEDIT4", "", ("[" + kClassKey + "\\0000]").c_str(), "\"DriverDate\"=\"7-1-2001\"",
                "\"ProviderName\"=\"Caf\xE9 \x80 Ltd\"",
                "\"InfPath\"=hex(2):25,77,69,6e,64,69,72,25,5c,69,6e,66,00",
                "\"Ids\"=hex(7):41,00,e9,80,00,00", "\"Flags\"=dword:0000000a", "@=\"default\"", "",
                ("[" + kClassKey + "\\0000\\Settings]").c_str(),
                "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\",
                "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,\\",
                "  2f", ""});
}

std::string Query(HKEY root, const char* key, const char* value, DWORD* type) {
  HKEY h = nullptr;
  if (RegOpenKeyExA(root, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return "<no key>";
  char buf[256] = {};
  DWORD size = sizeof buf;
  LONG r = RegQueryValueExA(h, value, nullptr, type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(h);
  return r == ERROR_SUCCESS ? std::string(buf, size) : "<no value>";
}

}  // namespace

TEST(Hive, RegeditFilesInEveryFormLoadAndRoundTripByteForByte) {
  const std::string branch = "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E968-E325-11CE-BFC1-08002BE10318}\\0000";
  std::string utf8 = Export5();
  std::string lf = utf8;
  for (size_t p; (p = lf.find("\r\n")) != std::string::npos;) lf.replace(p, 2, "\n");
  const struct {
    const char* form;
    std::string bytes;
  } files[] = {
      {"UTF-16LE with BOM", Utf16File(utf8)},
      {"UTF-8 with BOM", "\xEF\xBB\xBF" + utf8},
      {"UTF-8 without BOM, LF", lf},
      {"REGEDIT4", Export4()},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.form);
    ScratchMachine m;
    m.Write("system.reg", f.bytes);
    DWORD type = 0;
    // Text in the code page, whatever the file's encoding.
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, branch.c_str(), "ProviderName", &type), std::string("Caf\xE9 \x80 Ltd\0", 11));
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, branch.c_str(), "InfPath", &type), std::string("%windir%\\inf\0", 13));
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, branch.c_str(), "Ids", &type), std::string("A\0\xE9\x80\0\0", 6));
    EXPECT_EQ(Query(HKEY_LOCAL_MACHINE, (branch + "\\Settings").c_str(), "Blob", &type).size(), 48u);

    // A write that changes nothing gives back the very file regedit wrote.
    HKEY h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, branch.c_str(), 0, KEY_SET_VALUE, &h), ERROR_SUCCESS);
    DWORD ten = 10;
    ASSERT_EQ(RegSetValueExA(h, "Flags", 0, REG_DWORD, reinterpret_cast<BYTE*>(&ten), 4), ERROR_SUCCESS);
    EXPECT_EQ(m.Read("system.reg"), f.bytes);
    // A real change keeps the form.
    ASSERT_EQ(RegSetValueExA(h, "New", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2), ERROR_SUCCESS);
    RegCloseKey(h);
    const std::string after = m.Read("system.reg");
    EXPECT_EQ(after.substr(0, 4), f.bytes.substr(0, 4));
    EXPECT_EQ(after.size() > f.bytes.size(), true);
  }
}

TEST(Hive, NestingBeyondWindowsLimitIsMalformedAndDeepHivesNeedNoStack) {
  std::string deep = "[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 512; ++i) deep += "\\a";
  RegKey root = Parse("Windows Registry Editor Version 5.00\n\n" + deep + "]\n\"v\"=dword:00000001\n");
  std::string text = SerializeHive(root, "HKEY_LOCAL_MACHINE");
  EXPECT_NE(text.find("\"v\"=dword:00000001"), std::string::npos);
  std::string tooDeep = "[HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 100000; ++i) tooDeep += "\\a";
  EXPECT_EQ(Fault("Windows Registry Editor Version 5.00\n\n" + tooDeep + "]\n").rfind("/m/system.reg:3: key nested deeper than 512", 0), 0u);
}
