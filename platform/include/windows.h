// Umbrella header of the platform layer: the Windows headers the program uses.
#pragma once

#include "minwindef.h"
#include "winerror.h"
#include "errhandlingapi.h"
#include "winreg.h"
#include "stringapiset.h"
#include "winbase.h"
#include "fileapi.h"

#include "sysinfoapi.h"
#include "libloaderapi.h"
#include "winnls.h"
#include "winuser.h"
#include "winver.h"
#include "synchapi.h"
#include "shellapi.h"
#include "processthreadsapi.h"
#include "processenv.h"
#include "handleapi.h"
#include "consoleapi.h"
#include "windef.h"
