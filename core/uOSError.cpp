#include "core/uOSError.h"

#include <korvane_machine.h>

#include <string>

namespace {

const char* ErrorText(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS: return "The operation completed successfully";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified";
    case ERROR_ACCESS_DENIED: return "Access is denied";
    case ERROR_INVALID_HANDLE: return "The handle is invalid";
    case ERROR_INVALID_DATA: return "The data is invalid";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect";
    case ERROR_INSUFFICIENT_BUFFER: return "The data area passed to a system call is too small";
    case ERROR_MORE_DATA: return "More data is available";
    case ERROR_NO_MORE_ITEMS: return "No more data is available";
    case ERROR_BADDB: return "The configuration registry database is corrupt";
    default: return "Unknown error";
  }
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
