// The program's entry: single instance, the windows in their order, the
// message loop, and the orderly end.
#pragma once

#include <string>

// The name of the single-instance mutex ("\" replaced by "_").
const char* KorvaneMutexName();

// Why no window system can be reached ("" when one can, or when
// QT_QPA_PLATFORM chooses the platform).
std::string MissingDisplayReason();

// Runs the program; returns its exit code.
int KorvaneMain(int argc, char** argv);
