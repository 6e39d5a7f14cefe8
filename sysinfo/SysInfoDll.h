// The system-information library (libSysInfoDll.so, target SysInfoDll): the
// computer name and memory figures the start page shows. The program links it.
// On a machine folder the values come from its sysinfo.json as given; on the
// live host from the kernel. Byte counts above 4294967295 are reported as
// 4294967295 rather than wrapped.
#pragma once

#include <cstdint>

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
