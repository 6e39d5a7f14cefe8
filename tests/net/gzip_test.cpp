// The gzip packer: the exact bytes around the deflate data, round trips
// through zlib and the system's gzip, result codes and the source's fate.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <csignal>
#include <random>

#include "support/RawServer.h"
#include "net/uGzip.h"

using nettest::ReadFile;
using nettest::TempDir;
using nettest::WriteFile;

namespace {

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string ReportText(std::size_t bytes) {
  std::string text = "<os>xp-32</os>\r\n<partner>none</partner>\r\n\r\n";
  for (int n = 1; text.size() < bytes; ++n) {
    text += "<dev>\r\n<id>" + std::to_string(n) + "</id>\r\n<cguid>{4D36E968-E325-11CE-BFC1-08002BE10318}</cguid>\r\n"
            "<hwid>PCI\\VEN_8086&DEV_" + std::to_string(1000 + n % 77) + "</hwid>\r\n<compid>PCI\\CC_0300</compid>\r\n"
            "<date>1-" + std::to_string(n % 28 + 1) + "-2007</date>\r\n<devname>Device " + std::to_string(n) +
            "</devname>\r\n</dev>\r\n\r\n";
  }
  text.resize(bytes);
  return text;
}

std::string GunzipWithZlib(const std::string& path) {
  gzFile f = gzopen(path.c_str(), "rb");
  std::string out;
  char buf[16384];
  int n;
  while ((n = gzread(f, buf, sizeof buf)) > 0) out.append(buf, static_cast<std::size_t>(n));
  EXPECT_GE(n, 0);
  gzclose(f);
  return out;
}

std::string Random(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(gen());
  return s;
}

}  // namespace

TEST(Gzip, Defaults) {
  TGzip gz;
  EXPECT_EQ(gz.FileSource, "data.dat");
  EXPECT_EQ(gz.FileDestination, "data.dat.gz");
  EXPECT_EQ(gz.CompressionLevel, 6);
  EXPECT_EQ(gz.CompressionType, TCompressionType::Standard);
  EXPECT_FALSE(gz.DeleteSource);
  EXPECT_EQ(gz.GzipHeader, TGzipHeader{TGzipHeaderItem::filename});
  EXPECT_TRUE(gz.WindowOnError);
  EXPECT_FALSE(gz.Comments.empty());
}

TEST(Gzip, PacksTheReportLikeTheUpdateCheck) {
  TempDir dir;
  const std::string report = ReportText(200000);
  WriteFile(dir.File("scanres.log"), report);
  TGzip gz;
  gz.FileSource = dir.File("scanres.log");
  gz.FileDestination = dir.File("scanres.log.gz");
  gz.CompressionLevel = 9;
  gz.DeleteSource = true;
  ASSERT_EQ(gz.Execute(), TGzipResult::Ok);
  EXPECT_FALSE(Exists(dir.File("scanres.log")));

  const std::string packed = ReadFile(dir.File("scanres.log.gz"));
  const std::string head("\x1F\x8B\x08\x08\0\0\0\0\0\0scanres.log\0", 22);
  ASSERT_GT(packed.size(), head.size() + 8);
  EXPECT_EQ(packed.substr(0, 22), head);
  const auto le32 = [&](std::size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(packed[at + i]);
    return v;
  };
  EXPECT_EQ(le32(packed.size() - 8),
            crc32(0, reinterpret_cast<const Bytef*>(report.data()), static_cast<uInt>(report.size())));
  EXPECT_EQ(le32(packed.size() - 4), report.size());
  EXPECT_EQ(GunzipWithZlib(dir.File("scanres.log.gz")), report);

  // The system's gzip agrees, name included.
  const std::string out = dir.File("gunzipped");
  ASSERT_EQ(std::system(("gzip -d -c '" + dir.File("scanres.log.gz") + "' > '" + out + "'").c_str()), 0);
  EXPECT_EQ(ReadFile(out), report);
  ASSERT_EQ(std::system(("gzip -l -N '" + dir.File("scanres.log.gz") + "' | grep -q 'scanres.log$'").c_str()), 0);
}

TEST(Gzip, EmptySource) {
  TempDir dir;
  WriteFile(dir.File("empty.txt"), "");
  TGzip gz;
  gz.FileSource = dir.File("empty.txt");
  gz.FileDestination = dir.File("empty.gz");
  ASSERT_EQ(gz.Execute(), TGzipResult::Ok);
  const std::string packed = ReadFile(dir.File("empty.gz"));
  const std::string head("\x1F\x8B\x08\x08\0\0\0\0\0\0empty.txt\0", 20);
  EXPECT_EQ(packed.substr(0, 20), head);
  // An empty final deflate block, then CRC-32 0 and length 0.
  EXPECT_EQ(packed.substr(20), std::string("\x03\x00\0\0\0\0\0\0\0\0", 10));
  EXPECT_EQ(GunzipWithZlib(dir.File("empty.gz")), "");
  EXPECT_TRUE(Exists(dir.File("empty.txt")));  // DeleteSource is off by default
}

TEST(Gzip, HeaderVariantsAndStrategies) {
  TempDir dir;
  const std::string data = ReportText(50000) + Random(40000, 1);
  WriteFile(dir.File("in.dat"), data);
  struct Case {
    TGzipHeader header;
    TCompressionType type;
    int level;
    std::string expectedHead;
  } cases[] = {
      {{}, TCompressionType::Standard, 1, std::string("\x1F\x8B\x08\0\0\0\0\0\0\0", 10)},
      {{TGzipHeaderItem::filename, TGzipHeaderItem::comment}, TCompressionType::Filtered, 6,
       std::string("\x1F\x8B\x08\x18\0\0\0\0\0\0in.dat\0note\0", 22)},
      {{TGzipHeaderItem::comment}, TCompressionType::HuffmanOnly, 9,
       std::string("\x1F\x8B\x08\x10\0\0\0\0\0\0note\0", 15)},
      {{TGzipHeaderItem::filename}, TCompressionType::Standard, 0, std::string("\x1F\x8B\x08\x08\0\0\0\0\0\0in.dat\0", 17)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expectedHead.size());
    TGzip gz;
    gz.FileSource = dir.File("in.dat");
    gz.FileDestination = dir.File("out.gz");
    gz.GzipHeader = c.header;
    gz.Comments = "note";
    gz.CompressionType = c.type;
    gz.CompressionLevel = c.level;
    ASSERT_EQ(gz.Execute(), TGzipResult::Ok);
    const std::string packed = ReadFile(dir.File("out.gz"));
    EXPECT_EQ(packed.substr(0, c.expectedHead.size()), c.expectedHead);
    EXPECT_EQ(GunzipWithZlib(dir.File("out.gz")), data);
  }
}

TEST(Gzip, OpenFailuresGiveOneAndTwoAndKeepTheSource) {
  TempDir dir;
  WriteFile(dir.File("src.txt"), "report");
  std::vector<std::string> shown;
  TGzip gz;
  gz.OnError = [&](const std::string& text) { shown.push_back(text); };
  gz.DeleteSource = true;

  gz.FileSource = dir.File("missing.txt");
  gz.FileDestination = dir.File("out.gz");
  EXPECT_EQ(gz.Execute(), TGzipResult::CantOpenSource);
  EXPECT_FALSE(Exists(dir.File("out.gz")));

  gz.FileSource = dir.File("src.txt");
  gz.FileDestination = dir.File("no/such/folder/out.gz");
  EXPECT_EQ(gz.Execute(), TGzipResult::CantCreateDestination);
  EXPECT_TRUE(Exists(dir.File("src.txt")));
  EXPECT_EQ(shown, (std::vector<std::string>{"Can't open: " + dir.File("missing.txt"),
                                             "Can't open: " + dir.File("no/such/folder/out.gz")}));

  // Without WindowOnError nothing is shown.
  gz.WindowOnError = false;
  EXPECT_EQ(gz.Execute(), TGzipResult::CantCreateDestination);
  EXPECT_EQ(shown.size(), 2u);
}

TEST(Gzip, ReadWriteAndFinishErrors) {
  TempDir dir;
  // Reading a folder fails after it was opened: 101, and nothing is deleted.
  ::mkdir(dir.File("folder").c_str(), 0700);
  TGzip gz;
  gz.DeleteSource = true;
  gz.FileSource = dir.File("folder");
  gz.FileDestination = dir.File("out.gz");
  EXPECT_EQ(gz.Execute(), TGzipResult::ReadError);
  EXPECT_TRUE(Exists(dir.File("folder")));
  EXPECT_FALSE(Exists(dir.File("out.gz")));  // a cut-off file is not left behind

  // A full device fails the first write: 102, the source stays.
  WriteFile(dir.File("src.txt"), ReportText(1000));
  gz.FileSource = dir.File("src.txt");
  gz.FileDestination = "/dev/full";
  EXPECT_EQ(gz.Execute(), TGzipResult::CompressError);
  EXPECT_TRUE(Exists(dir.File("src.txt")));
  EXPECT_TRUE(Exists("/dev/full"));

  // A file-size limit lets the header through but not the stream's end: 103,
  // whether or not an earlier write failed too.
  WriteFile(dir.File("small.bin"), Random(5000, 2));
  WriteFile(dir.File("large.bin"), Random(300000, 3));
  auto old = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit tiny = saved;
  tiny.rlim_cur = 100;
  setrlimit(RLIMIT_FSIZE, &tiny);
  gz.FileSource = dir.File("small.bin");
  gz.FileDestination = dir.File("small.gz");
  const TGzipResult small = gz.Execute();
  gz.FileSource = dir.File("large.bin");
  gz.FileDestination = dir.File("large.gz");
  const TGzipResult large = gz.Execute();
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old);
  EXPECT_EQ(small, TGzipResult::FinishError);
  EXPECT_EQ(large, TGzipResult::FinishError);
  EXPECT_TRUE(Exists(dir.File("small.bin")));
  EXPECT_TRUE(Exists(dir.File("large.bin")));
}
