// The process's environment as a block.
#pragma once

#include "minwindef.h"

// This process's environment as one block "NAME=value\0...NAME=value\0\0" (the
// form CreateProcessA's lpEnvironment takes), or NULL; freed with
// FreeEnvironmentStringsA.
LPCH WINAPI GetEnvironmentStringsA(void);
BOOL WINAPI FreeEnvironmentStringsA(LPCH penv);
