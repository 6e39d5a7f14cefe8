// A machine folder's sysinfo.json, hand-edited: any bytes end in a computer
// name and memory figures, or in the library's refusal, never a crash.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sysinfo/SysInfoDll.h"
#include "fuzz/FuzzMachine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  korvane::fuzz::WriteMachineFile("sysinfo.json", data, size);
  try {
    volatile std::size_t n = std::strlen(GetCompName());
    volatile uint32_t sum = GetRAM() + GetFreeRAM() + GetMemUse() + GetVirtual() + GetFreeVirtual();
    (void)n;
    (void)sum;
  } catch (const ESysInfoRefused& e) {
    if (e.File.empty() || e.Reason.empty()) __builtin_trap();
  }
  return 0;
}
