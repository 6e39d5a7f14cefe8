// The offline check in two steps. The scanned machine exports its packed report;
// any machine with a network posts it as the update check does and keeps the answer
// behind one header line naming the report's SHA-256; the scanned machine scans
// again and merges the answer only when its report is still the same.
#include "tools/korvane-check/CheckTool.h"

#include "net/uGzip.h"
#include "net/uHttpClient.h"
#include "net/uPemCertificate.h"
#include "scan/uExchange.h"
#include "scan/uExchangeLog.h"
#include "scan/uSSLRequest.h"
#include "scan/uServerUrls.h"

#include "core/uOSError.h"

#include <korvane_file.h>
#include <korvane_text.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeaderStart = "korvane-answer sha256=";
// A packed report larger than this unpacked is refused before anything is sent.
constexpr std::size_t kMaxReportBytes = 256u << 20;

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  if (in.bad()) return false;
  bytes = s.str();
  return true;
}

// Replaces path with bytes in one step, so a reader never sees half a file. Empty
// on success, else the reason.
std::string WriteFileReplacing(const std::string& path, const std::string& bytes) {
  if (KorvaneReplaceFile(path, bytes)) return std::string();
  return OSErrorText(GetLastError());
}

void Fail(TCheckResult& result, TCheckError kind, const std::string& text) {
  result.Error = kind;
  result.ErrorText = text;
}

// A private scratch folder for one submit, removed when it goes.
class TScratchFolder {
 public:
  // A new folder of a name nobody can guess, only the user may enter (mkdir fails
  // on a name taken, so a planted folder or link is never used).
  TScratchFolder() {
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec) return;
    std::random_device random;
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      std::string name = "korvane-submit-";
      for (int i = 0; i < 12; ++i) name += kDigits[random() % 36];
      const fs::path folder = temp / name;
      if (!fs::create_directory(folder, ec)) {
        if (ec) return;
        continue;  // taken
      }
      fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
      if (ec) {
        fs::remove(folder, ec);
        return;
      }
      path_ = folder.string();
    }
  }
  ~TScratchFolder() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

std::string ReportBytes(const TKorvaneState& state) {
  return WideToAnsi(
      ComposeScanReport(state.OsShortName, state.PartnerID, state.DrvList, state.DrvCount));
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
  static const char* const hex = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 15];
  }
  return out;
}

std::string AnswerHeader(const std::string& reportSha256) {
  return std::string(kHeaderStart) + reportSha256 + "\n";
}

bool ParseAnswerFile(const std::string& file, std::string& reportSha256, std::string& answer) {
  const std::size_t eol = file.find('\n');
  if (eol == std::string::npos) return false;
  std::string line = file.substr(0, eol);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::size_t start = std::strlen(kHeaderStart);
  if (line.compare(0, start, kHeaderStart) != 0 || line.size() != start + 64) return false;
  for (std::size_t i = start; i < line.size(); ++i)
    if (!std::isxdigit(static_cast<unsigned char>(line[i]))) return false;
  reportSha256 = line.substr(start);
  for (char& c : reportSha256) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  answer = file.substr(eol + 1);
  return true;
}

bool UnpackReport(const std::string& packed, std::string& report, std::string& why) {
  report.clear();
  z_stream zs{};
  if (inflateInit2(&zs, 16 + MAX_WBITS) != Z_OK) {
    why = "zlib cannot start";
    return false;
  }
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  zs.avail_in = static_cast<uInt>(packed.size());
  char buf[65536];
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    report.append(buf, sizeof buf - zs.avail_out);
    if (report.size() > kMaxReportBytes) {
      inflateEnd(&zs);
      why = "it unpacks to more than 256 MiB";
      return false;
    }
    if (rc == Z_BUF_ERROR && zs.avail_in == 0) break;
  }
  const bool complete = rc == Z_STREAM_END && zs.avail_in == 0;
  inflateEnd(&zs);
  if (!complete) {
    why = "it is no complete gzip file";
    return false;
  }
  if (report.rfind("<os>", 0) != 0) {
    why = "it holds no Korvane report";
    return false;
  }
  return true;
}

void ExportReport(TKorvaneState& state, const std::string& file, TCheckResult& result,
                  std::ostream& err) {
  if (state.TempFolder.empty()) {
    Fail(result, TCheckError::File,
         state.TempFolderError.empty() ? "No temporary folder is available." : state.TempFolderError);
    err << "korvane-check: " << result.ErrorText << std::endl;
    return;
  }
  // The same files and packing as the update check, so the bytes are the upload's.
  const std::string reportPath = state.TempFolder + ReportFileName;
  const std::string packedPath = state.TempFolder + PackedReportFileName;
  const std::string report = ReportBytes(state);
  std::string packed;
  try {
    WriteScratchFile(reportPath, report);
    RemoveScratchFile(packedPath);
    TGzip gzip;
    gzip.FileSource = reportPath;
    gzip.FileDestination = packedPath;
    gzip.CompressionLevel = 9;
    gzip.DeleteSource = true;
    gzip.OnError = [&err](const std::string& text) { err << "korvane-check: " << text << std::endl; };
    const TGzipResult packResult = gzip.Execute();
    if (packResult != TGzipResult::Ok)
      throw EExchangeError("The report could not be packed: " +
                           GzipResultText(packResult, reportPath, packedPath));
    if (!ReadWholeFile(packedPath, packed))
      throw EExchangeError("Cannot read the file \"" + packedPath + "\".");
  } catch (const std::exception& e) {
    Fail(result, TCheckError::File, e.what());
    err << "korvane-check: " << result.ErrorText << std::endl;
    return;
  }
  const std::string why = WriteFileReplacing(file, packed);
  if (!why.empty()) {
    Fail(result, TCheckError::File, "Cannot write " + file + ": " + why);
    err << "korvane-check: " << result.ErrorText << std::endl;
    return;
  }
  err << "korvane-check: wrote the packed report of " << state.DrvCount
      << (state.DrvCount == 1 ? " device" : " devices") << " to " << file << " (report SHA-256 "
      << Sha256Hex(report) << ")" << std::endl;
}

int SubmitReport(const TCheckOptions& options, std::ostream& err, unsigned readTimeoutMs) {
  auto failed = [&err](const std::string& text) {
    err << "korvane-check: " << text << std::endl;
    return kExitFailed;
  };
  std::string packed;
  if (!ReadWholeFile(options.SubmitFile, packed))
    return failed("Cannot read " + options.SubmitFile + ": " + std::strerror(errno));
  std::string report, why;
  if (!UnpackReport(packed, report, why))
    return failed(options.SubmitFile + " is not a packed report from korvane-check --export: " + why);

  UseCheckServers(options);
  // As the update check goes: the probe, the root certificate, then the TLS upload.
  if (!IsInternetAvailable(readTimeoutMs))
    return failed("The update server " + UpdateURL() + " could not be reached.");
  TScratchFolder scratch;
  if (scratch.Path().empty()) return failed("Cannot make a scratch folder: " + std::string(std::strerror(errno)));
  std::string cert;
  try {
    cert = FirstPemCertificate(GetShortText(CACertAddress(), readTimeoutMs));  // the certificate alone
  } catch (const std::exception&) {
    cert.clear();
  }
  if (cert.empty())
    return failed("No root certificate could be fetched from " + UpdateURL() + "; nothing was sent.");
  const std::string certPath = scratch.Path() + "/" + CACertFileName;
  const std::string uploadPath = scratch.Path() + "/" + PackedReportFileName;
  if (!WriteFileReplacing(certPath, cert).empty() || !WriteFileReplacing(uploadPath, packed).empty())
    return failed("Cannot write in " + scratch.Path());

  std::string body;
  try {
    TSSLIOHandler ssl;
    ssl.RootCertFile = certPath;
    THttpClient http;
    http.IOHandler = &ssl;
    http.ReadTimeout = readTimeoutMs;
    http.Deadline = httpdefaults::kOperationDeadlineMs;
    http.MaxBody = httpdefaults::kMaxAnswerBodyBytes;
    body = http.PostFile(UpdateCheckAddress(), UploadFieldName, uploadPath, UploadContentType);
  } catch (const std::exception& e) {
    return failed("The update server " + SecureUpdateURL() + " sent no answer to the report: " +
                  e.what());
  }

  const std::string sha = Sha256Hex(report);
  const std::string writeWhy = WriteFileReplacing(options.AnswerOut, AnswerHeader(sha) + body);
  if (!writeWhy.empty()) return failed("Cannot write " + options.AnswerOut + ": " + writeWhy);
  err << "korvane-check: wrote the answer to " << options.AnswerOut << " (report SHA-256 " << sha
      << ")" << std::endl;

  // The verdict is --import's; a refusal is worth knowing here already.
  const std::u16string answer = AnsiToWide(body);
  int32_t code = 0;
  const std::u16string_view codeText = ExtractElement(answer, u"<errcode>", u"</errcode>");
  if (ParseDecimal(codeText, code) == TDecimalKind::Ok && code > 1) {
    err << "korvane-check: Korvane error notice: "
        << TerminalText(AnsiToUtf8(WideToAnsi(ExtractElement(answer, u"<errmsg>", u"</errmsg>"))))
        << std::endl;
    return kExitFailed;
  }
  return kExitOk;
}

void ImportAnswer(TKorvaneState& state, const std::string& file, TCheckResult& result,
                  std::ostream& err) {
  std::string bytes, sha, body;
  if (!ReadWholeFile(file, bytes)) {
    Fail(result, TCheckError::File, "Cannot read " + file + ": " + std::strerror(errno));
  } else if (!ParseAnswerFile(bytes, sha, body)) {
    Fail(result, TCheckError::File, file + " is not an answer from korvane-check --submit.");
  } else if (sha != Sha256Hex(ReportBytes(state))) {
    Fail(result, TCheckError::AnswerMismatch,
         "This answer is for another report: the devices of this machine have changed since "
         "the export. Export, submit and import again.");
  }
  if (result.Error == TCheckError::None && state.TempFolder.empty()) {
    Fail(result, TCheckError::File,
         state.TempFolderError.empty() ? "No temporary folder is available." : state.TempFolderError);
  }
  if (result.Error != TCheckError::None) {
    err << "korvane-check: " << result.ErrorText << std::endl;
    return;
  }

  // From here as the update check goes once the response has arrived.
  TAnswerMerge merge;
  merge.tDrivers = merge.udDrivers = state.DrvCount;
  bool verdict = false;
  const auto publish = [&] {
    TSettings& s = state.Settings;
    s.tDrivers = merge.tDrivers;
    s.udDrivers = merge.udDrivers;
    s.odDrivers = merge.odDrivers;
    if (verdict) s.IsSysUpdated = merge.IsSysUpdated;
  };
  const std::u16string answer = AnsiToWide(body);
  try {
    WriteScratchText(state.TempFolder + AnswerFileName, answer);
    if (!answer.empty()) {
      verdict = true;
      try {
        MergeUpdateAnswer(answer, state.DrvList, state.DrvCount, state.GUIDList, state.GUIDCount,
                          merge);
      } catch (...) {
        // What was merged is kept; the error itself ends the check as failed.
        result.ErrMsg = merge.ErrMsg;
        result.ErrCode = merge.ErrCode;
        publish();
        throw;
      }
      result.ErrMsg = merge.ErrMsg;
      result.ErrCode = merge.ErrCode;
    }
    publish();
    result.End = TScanEnd::Checked;
  } catch (...) {
    result.End = TScanEnd::Failed;
    result.Cause = CurrentExceptionCause();
    Fail(result, TCheckError::Scan, AnsiToUtf8(result.Cause.Text));
    err << "korvane-check: check failed: " << result.ErrorText << std::endl;
  }
  ConcludeCheck(state, result);
}
