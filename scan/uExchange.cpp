#include "scan/uExchange.h"

#include <korvane_text.h>

#include <algorithm>
#include <functional>
#include <limits>

const char* const NoAnswerText = "The update server could not be reached, so your drivers were not checked.";

namespace {

constexpr std::u16string_view kDevOpen = u"<dev>";
constexpr std::u16string_view kDevClose = u"</dev>";

void AppendElement(std::u16string& out, std::u16string_view tag, std::u16string_view value) {
  out += u'<';
  out += tag;
  out += u'>';
  out += value;
  out += u"</";
  out += tag;
  out += u">\r\n";
}

void AppendShort(std::u16string& out, std::u16string_view tag, std::string_view value) {
  AppendElement(out, tag, AnsiToWide(value));
}

// Slots 1..count that exist: a count larger than its array never reads past it.
int32_t UsableCount(int32_t count, std::size_t length) {
  const int64_t available = static_cast<int64_t>(length) - 1;
  return static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(count, available)));
}

std::string ShortText(std::u16string_view wide) { return CutShortText(WideToAnsi(wide)); }

std::string Quoted(std::u16string_view wide) {
  std::string text = WideToAnsi(wide.substr(0, 40));
  return "\"" + text + (wide.size() > 40 ? "...\"" : "\"");
}

}  // namespace

namespace {

// The report into out; flush (when given) is called whenever out has grown past a
// piece's worth and takes what is there.
void ComposeReport(const std::string& osShortName, const std::string& partnerID, const TDrvList& drvList,
                   int32_t drvCount, std::u16string& out, const std::function<void()>& flush) {
  constexpr std::size_t kPiece = 32 * 1024;
  const int32_t count = UsableCount(drvCount, drvList.size());
  out.reserve(flush ? kPiece + 4096 : 64 + static_cast<std::size_t>(count) * 256);
  AppendShort(out, u"os", osShortName);
  AppendShort(out, u"partner", partnerID);
  out += u"\r\n";
  for (int32_t n = 1; n <= count; ++n) {
    const TDrvRec& rec = drvList[static_cast<std::size_t>(n)];
    out += u"<dev>\r\n";
    AppendShort(out, u"id", std::to_string(n));
    AppendShort(out, u"cguid", rec.ClassGUID);
    AppendElement(out, u"hwid", rec.HardwareIDs);
    AppendElement(out, u"compid", rec.CompatibleIDs);
    AppendShort(out, u"date", rec.DriverDate);
    AppendShort(out, u"devname", rec.DevName);
    out += u"</dev>\r\n\r\n";
    if (flush && out.size() >= kPiece) flush();
  }
  if (flush) flush();
}

}  // namespace

std::u16string ComposeScanReport(const std::string& osShortName, const std::string& partnerID,
                                 const TDrvList& drvList, int32_t drvCount) {
  std::u16string out;
  ComposeReport(osShortName, partnerID, drvList, drvCount, out, nullptr);
  return out;
}

void ComposeScanReportText(const std::string& osShortName, const std::string& partnerID,
                           const TDrvList& drvList, int32_t drvCount,
                           const std::function<void(std::string_view)>& sink) {
  std::u16string piece;
  ComposeReport(osShortName, partnerID, drvList, drvCount, piece, [&] {
    // The code page has one byte per character, so pieces convert alone.
    if (!piece.empty()) sink(WideToAnsi(piece));
    piece.clear();
  });
}

std::u16string_view ExtractElement(std::u16string_view text, std::u16string_view open,
                                   std::u16string_view close) {
  const std::size_t a = text.find(open);
  if (a == std::u16string_view::npos) return {};
  const std::size_t b = text.find(close);
  if (b == std::u16string_view::npos || b <= a + open.size()) return {};
  return text.substr(a + open.size(), b - a - open.size());
}

TDecimalKind ParseDecimal(std::u16string_view text, int32_t& value) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    negative = text[i] == u'-';
    ++i;
  }
  if (i == text.size()) return TDecimalKind::NotDecimal;
  int64_t magnitude = 0;
  bool overflow = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c < u'0' || c > u'9') return TDecimalKind::NotDecimal;
    if (!overflow) {
      magnitude = magnitude * 10 + (c - u'0');
      if (magnitude > int64_t{std::numeric_limits<int32_t>::max()} + 1) overflow = true;
    }
  }
  const int64_t signedValue = negative ? -magnitude : magnitude;
  if (overflow || signedValue > std::numeric_limits<int32_t>::max() ||
      signedValue < std::numeric_limits<int32_t>::min())
    return TDecimalKind::OutOfRange;
  value = static_cast<int32_t>(signedValue);
  return TDecimalKind::Ok;
}

void MergeUpdateAnswer(std::u16string_view answer, TDrvList& drvList, int32_t drvCount, TGUIDList& guidList,
                       int32_t guidCount, TAnswerMerge& out) {
  out.tDrivers = drvCount;
  out.udDrivers = drvCount;
  out.odDrivers = 0;
  out.ErrMsg.clear();
  out.ErrCode = 0;

  if (answer.find(u"<errmsg>") != std::u16string_view::npos)
    out.ErrMsg = ShortText(ExtractElement(answer, u"<errmsg>", u"</errmsg>"));  // cut as every field
  if (answer.find(u"<errcode>") != std::u16string_view::npos) {
    const std::u16string_view code = ExtractElement(answer, u"<errcode>", u"</errcode>");
    int32_t value = 0;
    if (!code.empty() && ParseDecimal(code, value) != TDecimalKind::Ok)
      throw EExchangeError("The update answer's error code " + Quoted(code) + " is not a number.",
                           TCauseKind::Malformed);
    out.ErrCode = code.empty() ? 0 : value;
  }

  out.IsSysUpdated = true;
  const int32_t lastRecord = UsableCount(drvCount, drvList.size());
  std::size_t p = 0;
  for (;;) {
    const std::size_t d = answer.find(kDevOpen, p);
    if (d == std::u16string_view::npos) break;
    const std::size_t start = d + kDevOpen.size();
    const std::size_t close = answer.find(kDevClose, start);
    const bool lastBlock = close == std::u16string_view::npos;
    const std::u16string_view block = answer.substr(start, (lastBlock ? answer.size() : close) - start);

    const std::u16string_view idText = ExtractElement(block, u"<id>", u"</id>");
    int32_t id = 0;
    const TDecimalKind kind = ParseDecimal(idText, id);
    if (kind == TDecimalKind::NotDecimal)
      throw EExchangeError(
          "The update answer names a device by " + Quoted(idText) + ", which is not a number.",
          TCauseKind::Malformed);
    if (kind == TDecimalKind::Ok && id >= 1 && id <= lastRecord) {
      TDrvRec& rec = drvList[static_cast<std::size_t>(id)];
      rec.NewDate = drvList.Keep(ShortText(ExtractElement(block, u"<date>", u"</date>")));
      rec.NewVersion = drvList.Keep(ShortText(ExtractElement(block, u"<vers>", u"</vers>")));
      rec.NewVendor = drvList.Keep(ShortText(ExtractElement(block, u"<vendor>", u"</vendor>")));
      rec.NewURL = drvList.Keep(ShortText(ExtractElement(block, u"<url>", u"</url>")));
      if (rec.NewURL.empty()) out.IsSysUpdated = false;
      const int32_t lastClass = UsableCount(guidCount, guidList.size());
      for (int32_t i = 1; i <= lastClass; ++i) {
        TGUIDRec& cls = guidList[static_cast<std::size_t>(i)];
        if (cls.Description == rec.ClassDesc) {
          cls.HasUpdates = true;
          break;
        }
      }
      --out.udDrivers;
      ++out.odDrivers;
      ++out.DevBlocks;
    } else {
      ++out.SkippedBlocks;
    }
    if (lastBlock) break;
    p = close + kDevClose.size();
  }
}
