// The machine the platform layer shows: a machine folder (KORVANE_MACHINE=path) or the
// live host (unset or "host").
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

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
// The system's text for an error code the layer returns, as Windows words it, with its
// final full stop ("The configuration registry database is corrupt."); empty for a
// code the layer never returns.
std::string KorvaneErrorText(DWORD code);
// Every code KorvaneErrorText has a text for.
std::vector<DWORD> KorvaneErrorCodes();
// How long a walk of the live host's devices serves the device sets opened after it (a
// scan opens one per class); a set opened later walks the host again. Two seconds unless
// set; returns the previous value.
std::chrono::milliseconds KorvaneSetHostInventoryLifetime(std::chrono::milliseconds lifetime);
