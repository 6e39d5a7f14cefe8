// The hive text format: every value type, escapes, continuation lines, and faults that
// name the file and line.
#include "platform/src/hive.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(kvp::BytesToUtf16(k->FindValue("")->data), std::u16string(u"default\0", 8));
  EXPECT_EQ(kvp::BytesToUtf16(k->FindValue("quote")->data), std::u16string(u"say \"hi\" C:\\dir\\\0", 17));
  EXPECT_EQ(kvp::BytesToUtf16(k->FindValue("CAF\xC3\x89")->data), std::u16string(u"\u20AC 5\0", 4));
  EXPECT_EQ(k->FindValue("Count")->type, 4u);
  EXPECT_EQ(k->FindValue("Count")->data, (std::vector<uint8_t>{10, 0, 0, 0}));
  EXPECT_EQ(k->FindValue("Multi")->type, 7u);
  EXPECT_EQ(k->FindValue("Bin")->data, (std::vector<uint8_t>{0xde, 0xad, 0xbe, 0xef}));
  EXPECT_TRUE(k->FindValue("Empty")->data.empty());
  EXPECT_EQ(k->FindValue("Expand")->type, 2u);
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
  k.SetValue("D", 4, {1, 2, 3, 4});
  k.SetValue("ShortD", 4, {1, 2});
  k.SetValue("M", 7, kvp::Utf16Bytes(std::u16string(u"A\0B\0\0", 5), false));
  std::vector<uint8_t> big;
  for (int i = 0; i < 300; ++i) big.push_back(static_cast<uint8_t>(i));
  k.SetValue("Big", 3, big);
  k.SetValue("Q", 11, {1, 0, 0, 0, 0, 0, 0, 0});
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
    EXPECT_EQ(bk->values[i].name, k.values[i].name);
    EXPECT_EQ(bk->values[i].type, k.values[i].type) << k.values[i].name;
    EXPECT_EQ(bk->values[i].data, k.values[i].data) << k.values[i].name;
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
