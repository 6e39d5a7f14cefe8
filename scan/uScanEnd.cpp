#include "scan/uScanEnd.h"

#include "core/uOSError.h"
#include "core/uSettings.h"
#include "scan/uExchange.h"

#include <stdexcept>

namespace {

// A cause reads as a sentence of its own after the notice's first one.
std::string AsSentence(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
    text.pop_back();
  if (text.empty()) return text;
  const char last = text.back();
  if (last != '.' && last != '!' && last != '?') text += '.';
  return text;
}

}  // namespace

const char* ScanEndName(TScanEnd end) {
  switch (end) {
    case TScanEnd::Checked: return "checked";
    case TScanEnd::DevicesOnly: return "devices-only";
    case TScanEnd::Cancelled: return "cancelled";
    case TScanEnd::NoAnswer: return "no-answer";
    case TScanEnd::Failed: return "failed";
  }
  return "failed";
}

const char* CauseKindName(TCauseKind kind) {
  switch (kind) {
    case TCauseKind::None: return "none";
    case TCauseKind::Resolve: return HttpErrorKindName(THttpErrorKind::Resolve);
    case TCauseKind::Connect: return HttpErrorKindName(THttpErrorKind::Connect);
    case TCauseKind::Tls: return HttpErrorKindName(THttpErrorKind::Tls);
    case TCauseKind::Timeout: return HttpErrorKindName(THttpErrorKind::Timeout);
    case TCauseKind::Status: return HttpErrorKindName(THttpErrorKind::Status);
    case TCauseKind::Malformed: return HttpErrorKindName(THttpErrorKind::Malformed);
    case TCauseKind::TooLarge: return HttpErrorKindName(THttpErrorKind::TooLarge);
    case TCauseKind::LocalFile: return HttpErrorKindName(THttpErrorKind::LocalFile);
    case TCauseKind::Aborted: return HttpErrorKindName(THttpErrorKind::Aborted);
    case TCauseKind::Url: return HttpErrorKindName(THttpErrorKind::Url);
    case TCauseKind::NoCertificate: return "no-certificate";
    case TCauseKind::TempFolder: return "temp-folder";
    case TCauseKind::Platform: return "platform";
    case TCauseKind::Other: return "other";
  }
  return "other";
}

TCauseKind CauseKindOf(THttpErrorKind kind) {
  switch (kind) {
    case THttpErrorKind::Resolve: return TCauseKind::Resolve;
    case THttpErrorKind::Connect: return TCauseKind::Connect;
    case THttpErrorKind::Tls: return TCauseKind::Tls;
    case THttpErrorKind::Timeout: return TCauseKind::Timeout;
    case THttpErrorKind::Status: return TCauseKind::Status;
    case THttpErrorKind::Malformed: return TCauseKind::Malformed;
    case THttpErrorKind::TooLarge: return TCauseKind::TooLarge;
    case THttpErrorKind::LocalFile: return TCauseKind::LocalFile;
    case THttpErrorKind::Aborted: return TCauseKind::Aborted;
    case THttpErrorKind::Url: return TCauseKind::Url;
  }
  return TCauseKind::Other;
}

TScanCause CurrentExceptionCause() {
  TScanCause cause;
  try {
    throw;
  } catch (const EHttpError& e) {
    cause = {CauseKindOf(e.Kind), e.what()};
  } catch (const EExchangeError& e) {
    cause = {e.Kind, e.what()};
  } catch (const EOSError& e) {
    cause = {TCauseKind::Platform, e.what()};
  } catch (const std::exception& e) {
    cause = {TCauseKind::Other, e.what()};
  } catch (...) {
    cause = {TCauseKind::Other, "Unknown error."};
  }
  return cause;
}

std::string NoAnswerNotice(const TScanCause& cause) {
  const std::string second = AsSentence(cause.Text);
  return second.empty() ? std::string(NoAnswerText) : std::string(NoAnswerText) + " " + second;
}
