// korvane_machine.h on Windows: the machine is always the running system, and the
// registry and Setup API report their own failures (no machine files to name).
#include <windows.h>

#include <korvane_machine.h>

std::string KorvaneMachineRoot() { return {}; }

bool KorvaneMachineIsHost() { return true; }

std::string KorvaneMachineFile(const std::string&) { return {}; }

void KorvaneResetMachine() {}

std::string KorvaneFaultText(DWORD) { return {}; }
