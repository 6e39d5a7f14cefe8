// Per-thread last error of the platform layer.
#pragma once

#include "minwindef.h"
#include "winerror.h"

DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD dwErrCode);
