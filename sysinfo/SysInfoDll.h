// The system-information library (libSysInfoDll.so, target SysInfoDll): the
// computer name and memory figures the start page shows. The program links it.
// On a machine folder the values come from its sysinfo.json as given; on the
// live host from the kernel. Byte counts above 4294967295 are reported as
// 4294967295 rather than wrapped.
//
// A machine folder's sysinfo.json that cannot be taken as it is (damaged, a count
// that is no whole number, a memory load above 100) is refused: every operation
// then raises ESysInfoRefused instead of passing off zeros as the machine's
// figures, and prints nothing itself. A missing sysinfo.json gives zeros and an
// empty name, as a library that measures nothing would.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

enum class TSysInfoFault {
  Damaged,     // not a JSON object
  WrongType,   // a value of the wrong type (a count that is no whole number of at least 0)
  OutOfRange,  // a value outside its range (a memory load above 100)
};

// What the library raises for a refused sysinfo.json: the file and the reason.
class __attribute__((visibility("default"))) ESysInfoRefused : public std::runtime_error {
 public:
  ESysInfoRefused(TSysInfoFault kind, const std::string& file, const std::string& reason)
      : std::runtime_error(file + ": " + reason), Kind(kind), File(file), Reason(reason) {}
  TSysInfoFault Kind;
  std::string File;
  std::string Reason;
};

extern "C" {
// Zero-terminated code-page text owned by the library, valid until the next call
// from the same thread; copy it at once.
const char* GetCompName(void);
uint32_t GetRAM(void);          // total physical memory, bytes
uint32_t GetFreeRAM(void);      // free physical memory, bytes
uint32_t GetMemUse(void);       // memory load in percent (only the low 8 bits count)
uint32_t GetVirtual(void);      // total virtual memory (RAM plus swap), bytes
uint32_t GetFreeVirtual(void);  // free virtual memory, bytes
}
