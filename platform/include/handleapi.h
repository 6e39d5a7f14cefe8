// Kernel object handles of the platform layer (mutexes).
#pragma once

#include "minwindef.h"

// Closes a handle returned by the layer; FALSE and ERROR_INVALID_HANDLE for anything else.
BOOL WINAPI CloseHandle(HANDLE hObject);
