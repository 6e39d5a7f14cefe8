// Umbrella header of the platform layer: includes every header that exists.
#pragma once

#include "minwindef.h"
#include "winerror.h"
#include "errhandlingapi.h"
#include "winreg.h"
#include "stringapiset.h"
#include "winbase.h"
#include "fileapi.h"

#if __has_include("sysinfoapi.h")
#include "sysinfoapi.h"
#endif
#if __has_include("libloaderapi.h")
#include "libloaderapi.h"
#endif
#if __has_include("winnls.h")
#include "winnls.h"
#endif
#if __has_include("winuser.h")
#include "winuser.h"
#endif
#if __has_include("winver.h")
#include "winver.h"
#endif
#if __has_include("synchapi.h")
#include "synchapi.h"
#endif
#if __has_include("shellapi.h")
#include "shellapi.h"
#endif
#if __has_include("processthreadsapi.h")
#include "processthreadsapi.h"
#endif
#if __has_include("handleapi.h")
#include "handleapi.h"
#endif
#if __has_include("windef.h")
#include "windef.h"
#endif
#if __has_include("wingdi.h")
#include "wingdi.h"
#endif
