#include "core/uOSError.h"

#include <korvane_machine.h>

#include <string>

namespace {

// The layer's system text without its final full stop, as the program's messages
// join it into their own sentences.
std::string ErrorText(DWORD code) {
  std::string text = KorvaneErrorText(code);
  if (text.empty()) return "Unknown error";
  if (text.back() == '.') text.pop_back();
  return text;
}

}  // namespace

std::string OSErrorText(DWORD code) { return ErrorText(code); }

void RaiseOSError(DWORD code) {
  std::string text = "System Error.  Code: " + std::to_string(code) + ".\r\n" + ErrorText(code);
  // A damaged machine file is named with its line, so the user can find the fault.
  const std::string fault = KorvaneFaultText(code);
  if (!fault.empty()) text += ": " + fault;
  throw EOSError(code, text);
}

void RaiseLastOSError() { RaiseOSError(GetLastError()); }
