#include "server/CheckService.h"

#include <zlib.h>

#include <climits>

#include "server/Multipart.h"
#include "server/TextUtil.h"

namespace updsrv {

bool Gunzip(const std::string& packed, uint64_t limit, std::string& out, std::string& error) {
  out.clear();
  if (packed.size() < 18 || static_cast<unsigned char>(packed[0]) != 0x1F ||
      static_cast<unsigned char>(packed[1]) != 0x8B) {
    error = "The driver list is not a gzip file.";
    return false;
  }
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
    error = "The server could not unpack the driver list.";
    return false;
  }
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  size_t inLeft = packed.size();
  char buf[65536];
  int rc = Z_OK;
  bool tooLarge = false;
  while (rc != Z_STREAM_END) {
    if (z.avail_in == 0 && inLeft > 0) {
      uInt chunk = inLeft > UINT_MAX ? UINT_MAX : static_cast<uInt>(inLeft);
      z.avail_in = chunk;
      inLeft -= chunk;
    }
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    rc = inflate(&z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    size_t got = sizeof buf - z.avail_out;
    if (out.size() + got > limit) {
      tooLarge = true;
      break;
    }
    out.append(buf, got);
    if (rc == Z_OK && got == 0 && z.avail_in == 0 && inLeft == 0) {
      rc = Z_BUF_ERROR;  // input ended inside the stream
      break;
    }
  }
  const bool trailing = rc == Z_STREAM_END && (z.avail_in > 0 || inLeft > 0);
  inflateEnd(&z);
  if (tooLarge) {
    out.clear();
    error = "The driver list is larger than " + std::to_string(limit / (1024 * 1024)) +
            " MiB unpacked and was refused.";
    return false;
  }
  if (rc != Z_STREAM_END) {
    out.clear();
    error = "The driver list is a damaged or incomplete gzip file.";
    return false;
  }
  if (trailing) {
    out.clear();
    error = "The driver list has data after the end of its gzip stream.";
    return false;
  }
  return true;
}

std::string ErrorAnswer(int code, const std::string& message) {
  return "<errcode>" + std::to_string(code) + "</errcode><errmsg>" + message + "</errmsg>\r\n";
}

namespace {

std::string PackageUrl(const TCatalogueEntry& e, const TCheckOptions& options) {
  if (e.Package.empty()) return "";
  if (e.Package.rfind("http://", 0) == 0 || e.Package.rfind("https://", 0) == 0)
    return std::string(e.Package);
  return options.PackageBase + std::string(e.Package);
}

}  // namespace

std::string AnswerReport(const TReport& report, const TCatalogue& catalogue,
                         const TCheckOptions& options) {
  std::optional<int> code = options.ForceErrCode ? options.ForceErrCode : catalogue.ForcedErrCode;
  std::optional<std::string> msg = options.ForceErrMsg ? options.ForceErrMsg : catalogue.ForcedErrMsg;
  std::string answer = "<errcode>" + std::to_string(code.value_or(0)) + "</errcode>";
  if (msg) answer += "<errmsg>" + *msg + "</errmsg>";
  answer += "\r\n";
  // A forced refusal (code 2 and up) carries no devices, like a real one.
  if (code && *code >= 2) return answer;
  for (const auto& dev : report.Devices) {
    const TCatalogueEntry* e =
        catalogue.Match(SplitIdList(dev.HardwareIds), SplitIdList(dev.CompatibleIds), dev.Date);
    if (!e) continue;
    answer.append("<dev><id>").append(std::to_string(dev.Id)).append("</id><date>").append(e->Date);
    answer.append("</date><vers>").append(e->Version).append("</vers><vendor>").append(e->Vendor);
    answer.append("</vendor><url>").append(PackageUrl(*e, options)).append("</url></dev>\r\n");
  }
  return answer;
}

std::string AnswerUpload(const std::string& packed, const TCatalogue& catalogue,
                         const TCheckOptions& options) {
  std::string text, error;
  if (!Gunzip(packed, options.MaxReportBytes, text, error)) return ErrorAnswer(2, error);
  TReport report;
  if (!ParseReport(text, report, error, options.MaxReportDevices)) return ErrorAnswer(2, error);
  return AnswerReport(report, catalogue, options);
}

std::string AnswerCheckRequest(std::string_view contentType, std::string_view body,
                               const TCatalogue& catalogue, const TCheckOptions& options) {
  if (!IsMultipartFormData(contentType))
    return ErrorAnswer(2, "The update check expects a multipart form with the field drvlist.");
  std::vector<TFormPart> parts;
  std::string error;
  if (!ParseMultipartForm(contentType, body, parts, error)) return ErrorAnswer(2, error);
  for (const auto& part : parts)
    if (part.Name == "drvlist") return AnswerUpload(part.Data, catalogue, options);
  return ErrorAnswer(2, "The upload has no drvlist field.");
}

}  // namespace updsrv
