// Platform errors raised as exceptions.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

class EOSError : public std::runtime_error {
 public:
  EOSError(DWORD code, const std::string& message) : std::runtime_error(message), ErrorCode(code) {}
  DWORD ErrorCode;
};

// The platform's text for an error code, without a final full stop
// ("Access is denied").
std::string OSErrorText(DWORD code);

// Raises the calling thread's last platform error.
[[noreturn]] void RaiseLastOSError();
[[noreturn]] void RaiseOSError(DWORD code);
