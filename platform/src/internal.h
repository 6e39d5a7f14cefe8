// Shared internals of the platform layer (not part of its public headers).
#pragma once

#include <minwindef.h>

#include <korvane_cp1252.h>

#include <memory>
#include <string>
#include <string_view>

namespace kvp {

// Code pages.
inline char16_t Cp1252ToWide(unsigned char c) { return korvane_cp1252::ToWide(c); }
inline int WideToCp1252(char16_t w) { return korvane_cp1252::FromWide(w); }  // -1: none
std::u16string Utf8ToWide(std::string_view s, bool* bad);
std::string WideToUtf8(std::u16string_view w);
void AppendUtf8(std::string& out, char32_t cp);

// Machine selection (machine.cpp).
struct MachineInfo {
  std::string root;  // no trailing '/'
  bool host = false;
};
MachineInfo CurrentMachine();
// A machine folder must exist and be a folder, and the device inventory needs its
// system.reg (the driver keys): otherwise the code the call fails with (the reason is
// reported once and kept for KorvaneFaultText). ERROR_SUCCESS for the live host and a
// sound folder. The registry alone takes a missing system.reg as an empty hive.
DWORD CheckMachine(bool needSystemHive);
// Creates a folder and its parents (mode for the ones created); false on failure.
bool MakeDirs(const std::string& path, unsigned mode);
// Files (fileapi.cpp): the Windows code for an errno value; the descriptor behind a
// file handle (-1 for anything else); fsync of the folder holding path.
DWORD ErrnoToWinError(int e);
int FileDescriptor(HANDLE h);
bool FlushFolderOf(const std::string& path);
// One line on stderr, prefixed "korvane: ".
void ReportError(const std::string& message);

// Records why the calling thread's failing call returns code (a machine file at fault),
// for KorvaneFaultText.
void SetFault(DWORD code, const std::string& text);

// Reset hooks of the cached states, called by KorvaneResetMachine.
void ResetRegistry();
// Writes every hive's unwritten registry changes (at exit, before the machine is forgotten).
void FlushRegistry();
void ResetDevices();
void ResetIcons();

struct RegKey;
// The live host's synthesised HKEY_LOCAL_MACHINE keys, laid over system.reg when read.
void SetMachineOverlay(std::shared_ptr<const RegKey> overlay);
// On the live host, reads the devices once so that their driver keys exist.
void EnsureHostOverlay();

}  // namespace kvp
