// The update check's two texts: the tagged report the client uploads and the
// tagged answer the update server returns, merged into the driver records.
#pragma once

#include "core/uDrvTypes.h"
#include "scan/uScanEnd.h"

#include <cstdint>
#include <stdexcept>
#include <functional>
#include <string>
#include <string_view>

// An answer the merge cannot read (a non-decimal "<id>" or "<errcode>": kind
// Malformed), or a scratch file that cannot be written (LocalFile): the scan
// ends as failed.
class EExchangeError : public std::runtime_error {
 public:
  explicit EExchangeError(const std::string& message, TCauseKind kind = TCauseKind::LocalFile)
      : std::runtime_error(message), Kind(kind) {}
  TCauseKind Kind;
};

// Told to the user when no response came back at all: the drivers were not
// checked, and the scan must not pass for a check that found everything up to date.
// NoAnswerNotice adds the cause.
extern const char* const NoAnswerText;

// The upload: the packed report as this multipart form field.
constexpr const char* UploadFieldName = "drvlist";
constexpr const char* UploadContentType = "application/x-www-form-urlencoded";

// The report: "<os>", "<partner>", an empty line, then one "<dev>" block per
// record 1..drvCount. Values are inserted unchanged; lines end in "\r\n".
std::u16string ComposeScanReport(const std::string& osShortName, const std::string& partnerID,
                                 const TDrvList& drvList, int32_t drvCount);
// The same report in the code page, handed to sink a piece at a time (some tens of
// KiB each), so that a report of many devices is never held whole.
void ComposeScanReportText(const std::string& osShortName, const std::string& partnerID,
                           const TDrvList& drvList, int32_t drvCount,
                           const std::function<void(std::string_view)>& sink);

// Text of the element open...close in text, both tags searched from the start of
// text: empty when open is missing, or when close is missing or comes first.
std::u16string_view ExtractElement(std::u16string_view text, std::u16string_view open,
                                   std::u16string_view close);

// Reading of a decimal field of the answer.
enum class TDecimalKind { Ok, NotDecimal, OutOfRange };
// Optional leading blanks, an optional sign, then one or more digits and nothing else.
// OutOfRange: decimal, but beyond 32 bits.
TDecimalKind ParseDecimal(std::u16string_view text, int32_t& value);

// What the merge leaves behind.
struct TAnswerMerge {
  std::string ErrMsg;
  int32_t ErrCode = 0;
  int32_t tDrivers = 0;
  int32_t udDrivers = 0;
  int32_t odDrivers = 0;
  bool IsSysUpdated = false;
  int32_t DevBlocks = 0;      // blocks that named a record
  int32_t SkippedBlocks = 0;  // blocks whose id named no record
};

// Merges a non-empty answer: error elements, then every "<dev>" block in order.
// Each block's elements are read only up to its own "</dev>"; a block without
// "</dev>" is the last one read. A decimal id outside 1..drvCount is skipped.
// Records named get their four answer fields (cut to short text) and their class
// (the first catalogue entry with that description) gets HasUpdates.
// Throws EExchangeError on a non-decimal id or error code; out then holds what was
// merged so far.
void MergeUpdateAnswer(std::u16string_view answer, TDrvList& drvList, int32_t drvCount, TGUIDList& guidList,
                       int32_t guidCount, TAnswerMerge& out);
