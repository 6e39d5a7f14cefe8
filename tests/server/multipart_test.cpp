// The update check's multipart parser and the whole request-to-answer path
// without networking.
#include <gtest/gtest.h>

#include "server/CheckService.h"
#include "server/GzipHelper.h"
#include "server/Multipart.h"

using namespace updsrv;

namespace {

const std::string kB = "--------120926072235123";
const std::string kType = "multipart/form-data; boundary=" + kB;

// The client's upload layout, byte for byte.
std::string ClientBody(const std::string& data,
                       const std::string& path = "C:\\Documents and Settings\\u\\Temp\\scanres.log.gz") {
  return "--" + kB + "\r\nContent-Disposition: form-data; name=\"drvlist\"; filename=\"" + path +
         "\"\r\nContent-Type: application/x-www-form-urlencoded\r\n\r\n" + data + "\r\n--" + kB + "--\r\n";
}

}  // namespace

TEST(ServerMultipart, TheClientsUpload) {
  std::vector<TFormPart> parts;
  std::string err;
  const std::string data("\x1f\x8b\x08\r\n--not a delimiter\0tail", 27);
  ASSERT_TRUE(ParseMultipartForm(kType, ClientBody(data), parts, err)) << err;
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].Name, "drvlist");
  EXPECT_TRUE(parts[0].HasFileName);
  EXPECT_EQ(parts[0].FileName, "C:\\Documents and Settings\\u\\Temp\\scanres.log.gz");
  EXPECT_EQ(parts[0].ContentType, "application/x-www-form-urlencoded");
  EXPECT_EQ(parts[0].Data, data);
  EXPECT_EQ(MultipartBoundary("Multipart/Form-Data; charset=x; boundary=\"a b\""), "a b");
  EXPECT_TRUE(IsMultipartFormData("MULTIPART/form-data;boundary=x"));
  EXPECT_FALSE(IsMultipartFormData("multipart/mixed; boundary=x"));
}

TEST(ServerMultipart, SeveralPartsPreambleAndEmptyData) {
  const std::string body =
      "preamble\r\n--XX\r\nContent-Disposition: form-data; name=a\r\n\r\n"
      "\r\n--XX  \r\ncontent-disposition: FORM-DATA; name=\"b\"\r\n\r\nbee\r\n"
      "--XX--\r\nepilogue";
  std::vector<TFormPart> parts;
  std::string err;
  ASSERT_TRUE(ParseMultipartForm("multipart/form-data; boundary=XX", body, parts, err)) << err;
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].Name, "a");
  EXPECT_EQ(parts[0].Data, "");
  EXPECT_FALSE(parts[0].HasFileName);
  EXPECT_EQ(parts[1].Name, "b");
  EXPECT_EQ(parts[1].Data, "bee");
}

TEST(ServerMultipart, BrokenBodiesAreRefused) {
  const std::string ok = ClientBody("abc");
  std::string many;
  for (size_t i = 0; i <= kMaxFormParts; ++i)
    many += "--XX\r\nContent-Disposition: form-data; name=\"p\"\r\n\r\nx\r\n";
  many += "--XX--\r\n";
  const struct {
    const char* name;
    std::string type, body;
  } cases[] = {
      {"no boundary parameter", "multipart/form-data", ok},
      {"boundary too long", "multipart/form-data; boundary=" + std::string(71, 'b'), ok},
      {"not multipart", "application/x-gzip", ok},
      {"no delimiter", kType, "no boundary here at all"},
      {"no closing delimiter", kType, ok.substr(0, ok.size() - 6)},
      {"truncated data", kType, ok.substr(0, ok.size() - 30)},
      {"unterminated part headers", kType, "--" + kB + "\r\nContent-Disposition: form-data; name=x\r\n"},
      {"part headers too long", kType,
       "--" + kB + "\r\nX: " + std::string(kMaxPartHeaderBytes, 'a') + "\r\n\r\nx\r\n--" + kB + "--"},
      {"no disposition", kType, "--" + kB + "\r\nContent-Type: a/b\r\n\r\nx\r\n--" + kB + "--"},
      {"no name", kType, "--" + kB + "\r\nContent-Disposition: form-data\r\n\r\nx\r\n--" + kB + "--"},
      {"attachment", kType,
       "--" + kB + "\r\nContent-Disposition: attachment; name=x\r\n\r\nx\r\n--" + kB + "--"},
      {"junk after delimiter", kType, "--" + kB + "junk\r\n\r\nx\r\n--" + kB + "--"},
      {"too many parts", "multipart/form-data; boundary=XX", many},
  };
  for (const auto& c : cases) {
    std::vector<TFormPart> parts;
    std::string err;
    EXPECT_FALSE(ParseMultipartForm(c.type, c.body, parts, err)) << c.name;
    EXPECT_FALSE(err.empty()) << c.name;
    EXPECT_TRUE(parts.empty()) << c.name;
  }
}

TEST(ServerMultipart, WholeCheckRequest) {
  TCatalogue cat = TCatalogue::Parse("PCI\\VEN_8086&DEV_100E | 6-1-2024 | 8.4 | Intel | e.zip\n");
  TCheckOptions o;
  o.PackageBase = "http://h/packages/";
  const std::string packed = GzipPack(MakeReport({{"PCI\\VEN_8086&DEV_100E", "", "1-1-2001"}}));
  EXPECT_EQ(AnswerCheckRequest(kType, ClientBody(packed), cat, o),
            "<errcode>0</errcode>\r\n<dev><id>1</id><date>6-1-2024</date><vers>8.4</vers>"
            "<vendor>Intel</vendor><url>http://h/packages/e.zip</url></dev>\r\n");
  for (const auto& [type, body] : std::vector<std::pair<std::string, std::string>>{
           {"text/plain", packed},
           {kType, "garbage"},
           {"multipart/form-data; boundary=XX",
            "--XX\r\nContent-Disposition: form-data; name=\"other\"\r\n\r\nx\r\n--XX--\r\n"},
           {kType, ClientBody("not gzip")}}) {
    EXPECT_EQ(AnswerCheckRequest(type, body, cat, o).rfind("<errcode>2</errcode><errmsg>", 0), 0u) << body;
  }
}
