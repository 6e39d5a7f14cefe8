// The message file of korvane-updsrv: served as "/usermsg.txt" byte for byte,
// read again at every request, empty while missing, from --messages or the
// data folder's usermsg.txt.
#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdio>
#include <string>

#include "support/UpdateServerProcess.h"

using namespace korvane::testing;

namespace {

class MessageFile : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!UpdateServerProcess::Available()) GTEST_SKIP() << "korvane-updsrv not built";
    dir_ = MakeScratchFolder("updsrv-msg");
  }
  void TearDown() override {
    if (!dir_.empty()) RemoveFolder(dir_);
  }
  static std::string Get(const UpdateServerProcess& s, int* status = nullptr, std::string* type = nullptr) {
    httplib::Client c("127.0.0.1", s.HttpPort());
    c.set_read_timeout(10, 0);
    auto r = c.Get("/usermsg.txt");
    if (!r) return "<no response>";
    if (status) *status = r->status;
    if (type) *type = r->get_header_value("Content-Type");
    return r->body;
  }
  std::string dir_;
};

TEST_F(MessageFile, GivenFileIsServedExactlyAndReadAtEachRequest) {
  UpdateServerOptions o;
  o.DataDir = dir_ + "/data";
  o.Messages = dir_ + "/elsewhere/news.txt";
  o.Https = false;
  UpdateServerProcess s(o);
  int status = 0;
  EXPECT_EQ(Get(s, &status), "");
  EXPECT_EQ(status, 200);

  const std::string first = "  \r\n<msg><sver>1.0.0.0</sver>\n<msgtext>Caf\xE9</msgtext></msg>\r\n\t";
  WriteTextFile(o.Messages, first);
  std::string type;
  EXPECT_EQ(Get(s, &status, &type), first);
  EXPECT_EQ(status, 200);
  EXPECT_NE(type.find("text/plain"), std::string::npos) << type;

  const std::string second = "<msg><fver>2.0.0.0</fver><msgtext>changed</msgtext></msg>";
  WriteTextFile(o.Messages, second);
  EXPECT_EQ(Get(s), second);

  std::remove(o.Messages.c_str());
  EXPECT_EQ(Get(s, &status), "");
  EXPECT_EQ(status, 200);
}

TEST_F(MessageFile, WithoutTheOptionTheDataFoldersFileIsServed) {
  UpdateServerOptions o;
  o.DataDir = dir_ + "/data";
  o.Https = false;
  WriteTextFile(o.DataDir + "/usermsg.txt", "<msg>default</msg>");
  UpdateServerProcess s(o);
  EXPECT_EQ(Get(s), "<msg>default</msg>");
}

}  // namespace
