// Temporary bodies while the platform layer is being filled in.
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
#include <korvane_machine.h>
#include <korvane_text.h>

#include <cstdlib>
#include <cstring>

static thread_local DWORD g_lastError = 0;
DWORD WINAPI GetLastError() { return g_lastError; }
void WINAPI SetLastError(DWORD e) { g_lastError = e; }

LSTATUS WINAPI RegOpenKeyExA(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) { return ERROR_FILE_NOT_FOUND; }
LSTATUS WINAPI RegCreateKeyExA(HKEY, LPCSTR, DWORD, LPSTR, DWORD, REGSAM, const LPSECURITY_ATTRIBUTES,
                               PHKEY, LPDWORD) { return ERROR_ACCESS_DENIED; }
LSTATUS WINAPI RegQueryValueExA(HKEY, LPCSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD) { return ERROR_FILE_NOT_FOUND; }
LSTATUS WINAPI RegSetValueExA(HKEY, LPCSTR, DWORD, DWORD, const BYTE*, DWORD) { return ERROR_ACCESS_DENIED; }
LSTATUS WINAPI RegDeleteValueA(HKEY, LPCSTR) { return ERROR_FILE_NOT_FOUND; }
LSTATUS WINAPI RegCloseKey(HKEY) { return ERROR_SUCCESS; }
LSTATUS WINAPI RegEnumKeyExA(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPSTR, LPDWORD, PFILETIME) { return ERROR_NO_MORE_ITEMS; }
LSTATUS WINAPI RegEnumValueA(HKEY, DWORD, LPSTR, LPDWORD, LPDWORD, LPDWORD, LPBYTE, LPDWORD) { return ERROR_NO_MORE_ITEMS; }
LSTATUS WINAPI RegDeleteKeyA(HKEY, LPCSTR) { return ERROR_FILE_NOT_FOUND; }

int WINAPI MultiByteToWideChar(UINT, DWORD, LPCCH, int, LPWSTR, int) { return 0; }
int WINAPI WideCharToMultiByte(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL) { return 0; }
int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) { return std::strcmp(a ? a : "", b ? b : ""); }
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return std::strcmp(a ? a : "", b ? b : ""); }
int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }
DWORD WINAPI GetTempPathA(DWORD, LPSTR) { SetLastError(ERROR_PATH_NOT_FOUND); return 0; }

CONFIGRET WINAPI CM_Enumerate_Classes(ULONG, LPGUID, ULONG) { return CR_NO_SUCH_VALUE; }
BOOL WINAPI SetupDiGetClassDescriptionA(const GUID*, PSTR, DWORD, PDWORD) { return FALSE; }
HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID*, PCSTR, HWND, DWORD) { return INVALID_HANDLE_VALUE; }
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO, DWORD, PSP_DEVINFO_DATA) { SetLastError(ERROR_NO_MORE_ITEMS); return FALSE; }
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD) {
  SetLastError(ERROR_INVALID_DATA);
  return FALSE;
}
BOOL WINAPI SetupDiLoadClassIcon(const GUID*, HICON*, PINT) { return FALSE; }
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO) { return TRUE; }
bool KorvaneIconClass(HICON, GUID*) { return false; }

std::string KorvaneMachineRoot() { const char* m = std::getenv("KORVANE_MACHINE"); return m ? m : ""; }
bool KorvaneMachineIsHost() { const char* m = std::getenv("KORVANE_MACHINE"); return !m || !*m || std::strcmp(m, "host") == 0; }
std::string KorvaneMachineFile(const std::string& name) { return KorvaneMachineRoot() + "/" + name; }
void KorvaneResetMachine() {}

std::u16string AnsiToWide(std::string_view t) { return std::u16string(t.begin(), t.end()); }
std::string WideToAnsi(std::u16string_view t) { std::string r; for (char16_t c : t) r += c < 256 ? char(c) : '?'; return r; }
std::string AnsiToUtf8(std::string_view t) { return std::string(t); }
std::string Utf8ToAnsi(std::string_view t) { return std::string(t); }
