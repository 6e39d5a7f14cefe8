// korvane_machine.h on Windows: the machine is always the running system, and the
// registry and Setup API report their own failures (no machine files to name).
#include <windows.h>

#include <korvane_machine.h>

std::string KorvaneMachineRoot() { return {}; }

bool KorvaneMachineIsHost() { return true; }

std::string KorvaneMachineFile(const std::string&) { return {}; }

void KorvaneResetMachine() {}

std::string KorvaneFaultText(DWORD) { return {}; }

// The system's own wording of the code, from its message table.
std::string KorvaneErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string out = n && text ? std::string(text, n) : std::string();
  if (text) LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  return out;
}

// The system has a text for every code: there is no list of the layer's own.
std::vector<DWORD> KorvaneErrorCodes() { return {}; }
