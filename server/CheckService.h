// The update check itself: the packed report in, the tagged answer out.
//
// Answer (1252 text, "\r\n" lines):
//   <errcode>0</errcode>
//   <dev><id>N</id><date>..</date><vers>..</vers><vendor>..</vendor><url>..</url></dev>
//   ...one line per out-of-date device, in report order
// A refused upload is "<errcode>2</errcode><errmsg>sentence</errmsg>".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "server/Catalogue.h"
#include "server/Report.h"

namespace updsrv {

// The largest unpacked report: a real one is tens of KiB (4,096 devices with
// long ID lists stay below it).
constexpr uint64_t kMaxReportBytes = 8u * 1024 * 1024;

struct TCheckOptions {
  uint64_t MaxReportBytes = kMaxReportBytes;
  size_t MaxReportDevices = kMaxReportDevices;
  std::string PackageBase;  // prefix of package URLs, ends with '/'
  // Forced answers (command line); they win over the catalogue's directives.
  std::optional<int> ForceErrCode;
  std::optional<std::string> ForceErrMsg;
};

// Inflates one gzip member. False with a sentence in error when the data is
// not gzip, is damaged or truncated, has data after its end, or unpacks to
// more than limit bytes.
bool Gunzip(const std::string& packed, uint64_t limit, std::string& out, std::string& error);

std::string ErrorAnswer(int code, const std::string& message);

// The answer to a parsed report.
std::string AnswerReport(const TReport& report, const TCatalogue& catalogue,
                         const TCheckOptions& options);

// The answer to the uploaded gzip file: gunzip, parse, match. Never throws
// for bad input: every fault of the upload is an errcode 2 answer.
std::string AnswerUpload(const std::string& packed, const TCatalogue& catalogue,
                         const TCheckOptions& options);

// The answer to the whole check request: its Content-Type and body (a
// multipart form whose field "drvlist" holds the packed report). Never
// throws for bad input.
std::string AnswerCheckRequest(std::string_view contentType, std::string_view body,
                               const TCatalogue& catalogue, const TCheckOptions& options);

}  // namespace updsrv
