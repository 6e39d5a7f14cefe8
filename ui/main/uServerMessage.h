// The server's message of the day: which message of an answer to show, and
// the local copy "kvnlmsg.txt" that keeps a message from showing twice. No Qt:
// the main window calls this from the fetch's completion.
#pragma once

#include <string>

// Name of the local copy in the temporary folder.
constexpr const char* LocalMessageFileName = "kvnlmsg.txt";
// The UInfoTimer intervals: first fetch, and the retry after an answer without a message.
constexpr unsigned MessageFirstFetchMs = 30000;
constexpr unsigned MessageRetryMs = 300000;
// The wait before the first fetch of a run: MessageFirstFetchMs, unless the
// environment's KORVANE_MESSAGE_FIRST_FETCH_MS gives another (whole-program
// tests end the program during the fetch without waiting half a minute).
unsigned MessageFirstFetchDelayMs();
// The fetch's read time-out.
constexpr unsigned MessageReadTimeout = 30000;

// Text without leading and trailing blanks and control characters (codes up to 32).
std::string TrimBlanks(const std::string& text);

struct TServerMessageDecision {
  bool HasMessages = false;  // the answer holds "<msg>"; else the fetch is retried later
  bool Examined = false;     // at least one block was looked at (Url is then its msgurl)
  bool Show = false;         // a balloon is due
  std::string Text;          // msgtext of the message shown
  std::string Url;           // msgurl of the last block looked at
};

// Decides on a trimmed answer against the trimmed previous copy. Each block's
// tags are read inside the block only ("<msg>" to the next "</msg>", or the end
// of the answer); a pair missing either tag is empty. A message applies to
// programVersion when its sver/fver range holds it; a message without either
// bound, or with a bound or program version that does not convert, never applies.
TServerMessageDecision DecideServerMessage(const std::string& answer, const std::string& previous,
                                           const std::string& programVersion);

// The whole completion: trims body, reads tempFolder + "kvnlmsg.txt", decides,
// and (for an answer with "<msg>") writes the trimmed answer to the copy, with
// nothing added. A copy that cannot be read counts as none; one that cannot be
// written is left as it was.
TServerMessageDecision ProcessServerAnswer(const std::string& body, const std::string& tempFolder,
                                           const std::string& programVersion);
