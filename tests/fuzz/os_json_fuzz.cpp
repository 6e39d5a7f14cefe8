// A machine folder's os.json, hand-edited: any bytes end in version facts (or
// "version queries fail") and a Windows name, never a crash.
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "sysinfo/uWinVersion.h"
#include "fuzz/FuzzMachine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  korvane::fuzz::WriteMachineFile("os.json", data, size);
  OSVERSIONINFOEXA ex{};
  ex.dwOSVersionInfoSize = sizeof ex;
  GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&ex));
  OSVERSIONINFOA plain{};
  plain.dwOSVersionInfoSize = sizeof plain;
  GetVersionExA(&plain);
  TWindowsTypeEx info;
  GetWindowsTypeEx(info);
  return 0;
}
