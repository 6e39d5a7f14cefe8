// The partner tag, read from the last 35 bytes of a program file.
#include "sysinfo/uPartnerTag.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

TEST(PartnerTag, LastThirtyFiveBytes) {
  const struct {
    std::string trailer;
    std::string tag;
  } cases[] = {
      {std::string(100, 'x') + "abc#partner42", "partner42"},
      {std::string(65, '\0') + std::string(35, 'a'), std::string(35, 'a')},  // no "#": all 35
      {std::string(65, '\0') + "zzzzzzzzzzzzzzzzzzzzzzz#acme2007xyz", "acme2007xyz"},
      {std::string(65, '\0') + "zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz#", ""},
      {std::string(100, '\0'), ""},                                          // no trailer
      {std::string(65, '\0') + "zzzzzzzzzzzzzzzzzzzzzzzZ#acme2007xy", ""},  // upper case spoils it
      {"short", ""},
  };
  char tmpl[] = "/tmp/kvtagXXXXXX";
  const std::string dir = ::mkdtemp(tmpl);
  int i = 0;
  for (const auto& c : cases) {
    const std::string path = dir + "/f" + std::to_string(i++);
    std::ofstream(path, std::ios::binary) << c.trailer;
    EXPECT_EQ(ReadPartnerTag(path), c.tag) << i;
  }
  EXPECT_EQ(ReadPartnerTag(dir + "/missing"), "");
  fs::remove_all(dir);
}

}  // namespace
