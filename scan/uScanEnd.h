// How a scan ended, and why: one end state and the cause's kind and text,
// shared by the scan page, korvane-check and the tests.
#pragma once

#include "net/uHttpClient.h"

#include <exception>
#include <string>

enum class TScanEnd {
  Checked,      // the update server's answer was merged (an empty answer included)
  DevicesOnly,  // the scan was asked for the device phase alone
  Cancelled,    // the user (at the connection prompt) or the program stopped it
  NoAnswer,     // the update check got no answer; the drivers were not checked
  Failed,       // an error ended the scan
};

// The cause's kind: the transport's kinds one for one, then the scan's own.
enum class TCauseKind {
  None,
  Resolve,
  Connect,
  Tls,
  Timeout,
  Status,
  Malformed,  // a response, or an update answer the merge cannot read
  TooLarge,
  LocalFile,  // a scratch file (the packed report included) or another local file
  Aborted,    // stopped by the user or the program
  Url,
  NoCertificate,  // no root certificate file to upload with
  TempFolder,     // the temporary folder is not usable
  Platform,       // a platform call failed
  Other,
};

struct TScanCause {
  TCauseKind Kind = TCauseKind::None;
  std::string Text;  // one sentence, 8-bit text in the system code page
};

// Stable lower-case names ("checked", "no-answer"; "connect", "temp-folder", ...).
const char* ScanEndName(TScanEnd end);
const char* CauseKindName(TCauseKind kind);

TCauseKind CauseKindOf(THttpErrorKind kind);

// The cause of the exception being handled (call inside a catch block).
TScanCause CurrentExceptionCause();

// Told to the user when the update check got no answer: the fixed first
// sentence, then the cause's sentence when there is one.
std::string NoAnswerNotice(const TScanCause& cause);
