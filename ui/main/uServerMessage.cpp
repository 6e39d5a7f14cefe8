#include "ui/main/uServerMessage.h"

#include "core/uScratchFile.h"
#include "sysinfo/VersionInfo.h"

#include <cstdlib>
#include <iterator>

std::string TrimBlanks(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
  return text.substr(b, e - b);
}

namespace {

// The text between <tag> and </tag> inside block; empty when either is missing.
std::string TagValue(const std::string& block, const std::string& tag) {
  const std::string open = "<" + tag + ">", close = "</" + tag + ">";
  const size_t o = block.find(open);
  if (o == std::string::npos) return {};
  const size_t start = o + open.size();
  const size_t c = block.find(close, start);
  if (c == std::string::npos) return {};
  return block.substr(start, c - start);
}

bool Applies(const std::string& sver, const std::string& fver, const std::string& programVersion) {
  if (sver.empty() && fver.empty()) return false;
  try {
    const int32_t p = VersionToNumber(programVersion);
    if (!sver.empty() && p < VersionToNumber(sver)) return false;
    if (!fver.empty() && p > VersionToNumber(fver)) return false;
    return true;
  } catch (const std::exception&) {
    return false;  // a range that cannot be compared does not apply
  }
}

}  // namespace

TServerMessageDecision DecideServerMessage(const std::string& answer, const std::string& previous,
                                           const std::string& programVersion) {
  TServerMessageDecision d;
  d.HasMessages = answer.find("<msg>") != std::string::npos;
  if (!d.HasMessages) return d;
  const bool changed = answer != previous;
  size_t pos = 0;
  while (true) {
    const size_t open = answer.find("<msg>", pos);
    if (open == std::string::npos) break;
    const size_t close = answer.find("</msg>", open + 5);
    const std::string block =
        answer.substr(open + 5, close == std::string::npos ? std::string::npos : close - open - 5);
    d.Examined = true;
    d.Url = TagValue(block, "msgurl");
    if (changed && Applies(TagValue(block, "sver"), TagValue(block, "fver"), programVersion)) {
      d.Show = true;
      d.Text = TagValue(block, "msgtext");
      break;
    }
    if (close == std::string::npos) break;  // a block without its end is the last
    pos = close + 6;
  }
  return d;
}

TServerMessageDecision ProcessServerAnswer(const std::string& body, const std::string& tempFolder,
                                           const std::string& programVersion) {
  const std::string answer = TrimBlanks(body);
  if (answer.find("<msg>") == std::string::npos) return TServerMessageDecision{};
  const std::string path = tempFolder + LocalMessageFileName;
  // The copy is compared as it was written: reading it as lines would turn
  // LF line ends into CR LF and show an unchanged message again every run.
  std::string previous;
  ReadScratchBytes(path, previous);  // none yet: empty
  TServerMessageDecision d = DecideServerMessage(answer, TrimBlanks(previous), programVersion);
  if (!tempFolder.empty()) WriteScratchBytes(path, answer);
  return d;
}

unsigned MessageFirstFetchDelayMs() {
  const char* text = std::getenv("KORVANE_MESSAGE_FIRST_FETCH_MS");
  if (!text || !*text) return MessageFirstFetchMs;
  char* end = nullptr;
  const unsigned long ms = std::strtoul(text, &end, 10);
  // Anything but a plain number of at most a day keeps the program's wait.
  if (*end != '\0' || ms > 86400000UL) return MessageFirstFetchMs;
  return static_cast<unsigned>(ms);
}
