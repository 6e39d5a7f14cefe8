// The machine the platform layer shows: a machine folder (KORVANE_MACHINE=path) or the
// live host (unset or "host").
#pragma once

#include "minwindef.h"

#include <string>

// The machine folder, or the host's private folder ($XDG_DATA_HOME/korvane/host), without a
// trailing '/'.
std::string KorvaneMachineRoot();
bool KorvaneMachineIsHost();
// Path of a file of the machine, e.g. KorvaneMachineFile("os.json").
std::string KorvaneMachineFile(const std::string& name);
// Forgets every cached machine state and re-reads KORVANE_MACHINE.
void KorvaneResetMachine();
// What made the calling thread's last failing platform call fail with code, when a file
// of the machine is at fault ("/m/system.reg:12: bad hex byte"); empty otherwise.
std::string KorvaneFaultText(DWORD code);
