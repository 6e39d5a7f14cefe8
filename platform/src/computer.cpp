// The computer's name and memory as the live host gives them. Self-contained (only
// the last error besides), so that the system-information library can carry it too.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
  if (!nSize) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  std::string name = host;
  name = name.substr(0, name.find('.'));
  const DWORD need = static_cast<DWORD>(name.size() + 1);
  if (!lpBuffer || *nSize < need) {
    *nSize = need;
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return FALSE;
  }
  std::memcpy(lpBuffer, name.c_str(), need);
  *nSize = need - 1;
  return TRUE;
}

BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX lpBuffer) {
  if (!lpBuffer || lpBuffer->dwLength != sizeof(MEMORYSTATUSEX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::ifstream in("/proc/meminfo");
  if (!in) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  std::string line;
  uint64_t total = 0, free = 0, available = 0, swapTotal = 0, swapFree = 0;
  bool haveAvailable = false;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string key;
    uint64_t kib = 0;
    if (!(s >> key >> kib)) continue;
    if (key == "MemTotal:") {
      total = kib;
    } else if (key == "MemFree:") {
      free = kib;
    } else if (key == "MemAvailable:") {
      available = kib;
      haveAvailable = true;
    } else if (key == "SwapTotal:") {
      swapTotal = kib;
    } else if (key == "SwapFree:") {
      swapFree = kib;
    }
  }
  if (!haveAvailable) available = free;
  if (available > total) available = total;
  lpBuffer->dwMemoryLoad = static_cast<DWORD>(total ? ((total - available) * 100 + total / 2) / total : 0);
  lpBuffer->ullTotalPhys = total * 1024;
  lpBuffer->ullAvailPhys = available * 1024;
  lpBuffer->ullTotalPageFile = (total + swapTotal) * 1024;
  lpBuffer->ullAvailPageFile = (available + swapFree) * 1024;
  // The address space of a 64-bit process: far more than any machine holds.
  lpBuffer->ullTotalVirtual = 128ull << 40;
  lpBuffer->ullAvailVirtual = lpBuffer->ullTotalVirtual;
  lpBuffer->ullAvailExtendedVirtual = 0;
  return TRUE;
}
