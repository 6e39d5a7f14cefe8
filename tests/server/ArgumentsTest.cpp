#include <gtest/gtest.h>

#include "server/UpdateServer.h"

using namespace updsrv;

namespace {

bool Parse(std::vector<const char*> args, TServerOptions& o, std::string& err) {
  args.insert(args.begin(), "korvane-updsrv");
  return ParseArguments(static_cast<int>(args.size()), args.data(), o, err);
}

}  // namespace

TEST(ServerArguments, Defaults) {
  TServerOptions o;
  std::string err;
  ASSERT_TRUE(Parse({}, o, err)) << err;
  EXPECT_TRUE(o.HttpOn);
  EXPECT_TRUE(o.HttpsOn);
  EXPECT_EQ(o.HttpHost, "127.0.0.1");
  EXPECT_EQ(o.HttpPort, 0);
  EXPECT_EQ(o.MaxReportBytes, 16u * 1024 * 1024);
}

TEST(ServerArguments, Options) {
  TServerOptions o;
  std::string err;
  ASSERT_TRUE(Parse({"--http", "127.0.0.2:8080", "--https", "[::1]:8443", "--data", "/d",
                     "--catalogue", "/c", "--messages", "/m", "--package-base", "http://x/p",
                     "--force-errcode", "-4", "--force-errmsg", "Down", "--max-report", "1M",
                     "--threads", "3", "--log", "--exit-with-parent"},
                    o, err))
      << err;
  EXPECT_EQ(o.HttpHost, "127.0.0.2");
  EXPECT_EQ(o.HttpPort, 8080);
  EXPECT_EQ(o.HttpsHost, "::1");
  EXPECT_EQ(o.HttpsPort, 8443);
  EXPECT_EQ(o.DataDir, "/d");
  EXPECT_EQ(o.Catalogue, "/c");
  EXPECT_EQ(o.Messages, "/m");
  EXPECT_EQ(o.PackageBase, "http://x/p/");
  EXPECT_EQ(o.ForceErrCode, -4);
  EXPECT_EQ(o.ForceErrMsg, std::string("Down"));
  EXPECT_EQ(o.MaxReportBytes, 1024u * 1024);
  EXPECT_EQ(o.Threads, 3u);
  EXPECT_TRUE(o.Log);
  EXPECT_TRUE(o.ExitWithParent);
  ASSERT_TRUE(Parse({"--https", "off"}, o, err));
  EXPECT_FALSE(o.HttpsOn);
}

TEST(ServerArguments, Refused) {
  const std::vector<std::vector<const char*>> bad = {
      {"--bogus"},
      {"--http"},
      {"--http", "8080"},
      {"--http", "127.0.0.1:"},
      {"--http", "127.0.0.1:70000"},
      {"--http", ":80"},
      {"--force-errcode", "two"},
      {"--max-report", "0"},
      {"--threads", "0"},
      {"--http", "off", "--https", "off"},
  };
  for (const auto& args : bad) {
    TServerOptions o;
    std::string err;
    EXPECT_FALSE(Parse(args, o, err)) << args[0];
    EXPECT_FALSE(err.empty()) << args[0];
  }
  TServerOptions o;
  std::string err = "x";
  EXPECT_FALSE(Parse({"--help"}, o, err));
  EXPECT_TRUE(err.empty());
  EXPECT_NE(Usage().find("--catalogue"), std::string::npos);
}
