// Configuration manager of the platform layer.
#pragma once

#include "minwindef.h"

typedef DWORD RETURN_TYPE;
typedef RETURN_TYPE CONFIGRET;
typedef DWORD DEVNODE;
typedef DWORD DEVINST;

#define CR_SUCCESS 0x00000000
#define CR_DEFAULT 0x00000001
#define CR_OUT_OF_MEMORY 0x00000002
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_FAILURE 0x00000013
#define CR_BUFFER_SMALL 0x0000001A
#define CR_REGISTRY_ERROR 0x0000001D
#define CR_INVALID_DATA 0x0000001F
#define CR_NO_SUCH_VALUE 0x00000025

// The installed device setup class with that index; CR_NO_SUCH_VALUE past the last one.
CONFIGRET WINAPI CM_Enumerate_Classes(ULONG ulClassIndex, LPGUID ClassGuid, ULONG ulFlags);
