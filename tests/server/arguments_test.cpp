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
  EXPECT_EQ(o.MaxReportBytes, 8u * 1024 * 1024);
  EXPECT_EQ(o.MaxUploadBytes, 1024u * 1024);
  EXPECT_EQ(o.MaxUploads, 0u);  // sized for the machine at the start
  EXPECT_GE(DefaultMaxUploads(o.MaxUploadBytes), 16u);
  EXPECT_LE(DefaultMaxUploads(o.MaxUploadBytes), 1024u);
  EXPECT_EQ(DefaultMaxUploads(uint64_t{1} << 40), 16u);
  EXPECT_EQ(o.MaxUploadsPerClient, 8u);
  EXPECT_EQ(o.CheckThreads, DefaultCheckThreads());
  EXPECT_EQ(o.CheckQueue, 64u);
  EXPECT_EQ(o.BodyTimeoutMs, 60000u);
  EXPECT_EQ(o.GraceMs, 60000u);
  EXPECT_EQ(o.LameDuckMs, 0u);
  EXPECT_EQ(o.Threads, DefaultThreads());
  EXPECT_GE(o.Threads, 2u);
  EXPECT_EQ(o.HeadTimeoutMs, 10000u);
  EXPECT_TRUE(o.Log);
  EXPECT_TRUE(o.LogFile.empty());
}

TEST(ServerArguments, Options) {
  TServerOptions o;
  std::string err;
  ASSERT_TRUE(Parse({"--http",          "127.0.0.2:8080",
                     "--https",         "[::1]:8443",
                     "--data",          "/d",
                     "--catalogue",     "/c",
                     "--messages",      "/m",
                     "--package-base",  "http://x/p",
                     "--force-errcode", "-4",
                     "--force-errmsg",  "Down",
                     "--max-report",    "1M",
                     "--max-devices",   "200000",
                     "--threads",       "3",
                     "--log",           "--exit-with-parent"},
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
  EXPECT_EQ(o.MaxReportDevices, 200000u);
  EXPECT_EQ(o.Threads, 3u);
  EXPECT_TRUE(o.Log);
  EXPECT_TRUE(o.ExitWithParent);
  ASSERT_TRUE(Parse({"--https", "off"}, o, err));
  EXPECT_FALSE(o.HttpsOn);

  TServerOptions n;
  ASSERT_TRUE(Parse({"--cert",
                     "/c.pem",
                     "--key",
                     "/k.pem",
                     "--ca",
                     "/ca.pem",
                     "--public-base",
                     "https://updates.example.com/",
                     "--head-timeout",
                     "250ms",
                     "--idle-timeout",
                     "0.5",
                     "--io-timeout",
                     "3s",
                     "--grace",
                     "1",
                     "--log",
                     "/var/log/a.log",
                     "--lame-duck",
                     "2.5",
                     "--max-upload",
                     "256K",
                     "--max-uploads",
                     "40",
                     "--max-uploads-per-client",
                     "0",
                     "--check-threads",
                     "3",
                     "--check-queue",
                     "0",
                     "--body-timeout",
                     "5s"},
                    n, err))
      << err;
  EXPECT_EQ(n.CertFile, "/c.pem");
  EXPECT_EQ(n.KeyFile, "/k.pem");
  EXPECT_EQ(n.CaFile, "/ca.pem");
  EXPECT_EQ(n.PublicBase, "https://updates.example.com");
  EXPECT_EQ(n.HeadTimeoutMs, 250u);
  EXPECT_EQ(n.IdleTimeoutMs, 500u);
  EXPECT_EQ(n.IoTimeoutMs, 3000u);
  EXPECT_EQ(n.GraceMs, 1000u);
  EXPECT_EQ(n.LogFile, "/var/log/a.log");
  EXPECT_EQ(n.LameDuckMs, 2500u);
  EXPECT_EQ(n.MaxUploadBytes, 256u * 1024);
  EXPECT_EQ(n.MaxUploads, 40u);
  EXPECT_EQ(n.MaxUploadsPerClient, 0u);
  EXPECT_EQ(n.CheckThreads, 3u);
  EXPECT_EQ(n.CheckQueue, 0u);
  EXPECT_EQ(n.BodyTimeoutMs, 5000u);
  ASSERT_TRUE(Parse({"--no-log"}, n, err));
  EXPECT_FALSE(n.Log);
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
      {"--max-devices", "0"},
      {"--threads", "0"},
      {"--http", "off", "--https", "off"},
      {"--cert", "/c.pem"},
      {"--ca", "/ca.pem"},
      {"--public-base", "updates.example.com"},
      {"--head-timeout", "soon"},
      {"--idle-timeout", "0"},
      {"--lame-duck", "later"},
      {"--max-upload", "0"},
      {"--max-uploads", "0"},
      {"--check-threads", "0"},
      {"--max-uploads-per-client", "-1"},
      {"--body-timeout", "0"},
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
  std::string out;
  EXPECT_FALSE(Parse({"--version"}, o, err));
  EXPECT_TRUE(err.empty());
  EXPECT_FALSE(
      ParseArguments(2, std::vector<const char*>{"korvane-updsrv", "--version"}.data(), o, err, &out));
  EXPECT_EQ(out, VersionLine() + "\n");
  EXPECT_EQ(VersionLine().rfind("korvane-updsrv ", 0), 0u);
  // --help names every option the parser takes.
  for (const char* flag : {"--http",
                           "--https",
                           "--data",
                           "--catalogue",
                           "--messages",
                           "--cert",
                           "--key",
                           "--ca",
                           "--public-base",
                           "--package-base",
                           "--korvane-reg",
                           "--force-errcode",
                           "--force-errmsg",
                           "--max-report",
                           "--threads",
                           "--head-timeout",
                           "--idle-timeout",
                           "--io-timeout",
                           "--grace",
                           "--log",
                           "--lame-duck",
                           "--max-upload",
                           "--max-uploads",
                           "--max-uploads-per-client",
                           "--check-threads",
                           "--check-queue",
                           "--body-timeout",
                           "--no-log",
                           "--exit-with-parent",
                           "--version",
                           "--help"})
    EXPECT_NE(Usage().find(std::string(flag) + " "), std::string::npos) << flag;
}
