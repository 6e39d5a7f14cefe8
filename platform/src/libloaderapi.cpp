// Module look-up: "kernel32.dll" and the optional entry points the machine has.
#include <windows.h>

#include "korvane_file.h"
#include "osfacts.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <unistd.h>

extern "C" BOOL WINAPI KvGetProductInfo(DWORD, DWORD, DWORD, DWORD, PDWORD);
extern "C" void WINAPI KvGetNativeSystemInfo(LPSYSTEM_INFO);

namespace {

HINSTANCE__ g_kernel32{};

// Through void(*)(), the one function type every other converts to without a warning.
template <typename F>
FARPROC AsFarProc(F* fn) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(fn));
}

std::string LowerAscii(const char* s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

}  // namespace

HMODULE WINAPI GetModuleHandleA(LPCSTR name) {
  if (name) {
    const std::string n = LowerAscii(name);
    if (n == "kernel32.dll" || n == "kernel32") return &g_kernel32;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  // A value below 0x10000 is an ordinal, which this layer does not number.
  if (module != &g_kernel32 || !name || reinterpret_cast<uintptr_t>(name) < 0x10000) {
    SetLastError(module != &g_kernel32 ? ERROR_INVALID_HANDLE : ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  const std::string n(name);
  if (n == "GetVersionExA") return AsFarProc(&GetVersionExA);
  if (n == "GetProductInfo" || n == "GetNativeSystemInfo") {
    const KvOsFacts f = KvReadOsFacts();
    if (n == "GetProductInfo" && f.hasProductInfo) return AsFarProc(&KvGetProductInfo);
    if (n == "GetNativeSystemInfo" && f.hasNativeSystemInfo)
      return AsFarProc(&KvGetNativeSystemInfo);
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  if (hModule) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  const std::string path = KorvaneModuleFileName();
  if (path.empty()) return 0;
  if (!lpFilename || nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= nSize) {
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

std::string KorvaneModuleFileName() {
  std::string path(4096, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return {};
    }
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      SetLastError(ERROR_SUCCESS);
      return path;
    }
    path.resize(path.size() * 2);  // cut short: the path is longer than the buffer
  }
}
