// Setup API of the platform layer: device sets of one class and their properties.
#pragma once

#include "minwindef.h"
#include "winerror.h"

typedef PVOID HDEVINFO;

// Windows' layout: 28 bytes on 32-bit, 32 on 64-bit (Reserved is pointer-sized);
// cbSize must be set to sizeof(SP_DEVINFO_DATA).
// Packed to 1 byte on 32-bit, as the SDK declares the Setup API's structures there.
#if UINTPTR_MAX == 0xffffffffu
#pragma pack(push, 1)
#endif
typedef struct _SP_DEVINFO_DATA {
  DWORD cbSize;
  GUID ClassGuid;
  DWORD DevInst;
  ULONG_PTR Reserved;
} SP_DEVINFO_DATA, *PSP_DEVINFO_DATA;
#if UINTPTR_MAX == 0xffffffffu
#pragma pack(pop)
#endif
static_assert(sizeof(SP_DEVINFO_DATA) == (sizeof(void*) == 4 ? 28 : 32), "SP_DEVINFO_DATA has Windows' size");

#define DIBCI_NOINSTALLCLASS 0x00000001
#define DIBCI_NODISPLAYCLASS 0x00000002

#define DIGCF_DEFAULT 0x00000001
#define DIGCF_PRESENT 0x00000002
#define DIGCF_ALLCLASSES 0x00000004
#define DIGCF_PROFILE 0x00000008
#define DIGCF_DEVICEINTERFACE 0x00000010

#define SPDRP_DEVICEDESC 0x00000000
#define SPDRP_HARDWAREID 0x00000001
#define SPDRP_COMPATIBLEIDS 0x00000002
#define SPDRP_UNUSED0 0x00000003
#define SPDRP_SERVICE 0x00000004
#define SPDRP_UNUSED1 0x00000005
#define SPDRP_UNUSED2 0x00000006
#define SPDRP_CLASS 0x00000007
#define SPDRP_CLASSGUID 0x00000008
#define SPDRP_DRIVER 0x00000009
#define SPDRP_CONFIGFLAGS 0x0000000A
#define SPDRP_MFG 0x0000000B
#define SPDRP_FRIENDLYNAME 0x0000000C
#define SPDRP_LOCATION_INFORMATION 0x0000000D
#define SPDRP_PHYSICAL_DEVICE_OBJECT_NAME 0x0000000E
#define SPDRP_CAPABILITIES 0x0000000F
#define SPDRP_UI_NUMBER 0x00000010
#define SPDRP_UPPERFILTERS 0x00000011
#define SPDRP_LOWERFILTERS 0x00000012
#define SPDRP_BUSTYPEGUID 0x00000013
#define SPDRP_LEGACYBUSTYPE 0x00000014
#define SPDRP_BUSNUMBER 0x00000015
#define SPDRP_ENUMERATOR_NAME 0x00000016
#define SPDRP_SECURITY 0x00000017
#define SPDRP_SECURITY_SDS 0x00000018
#define SPDRP_DEVTYPE 0x00000019
#define SPDRP_EXCLUSIVE 0x0000001A
#define SPDRP_CHARACTERISTICS 0x0000001B
#define SPDRP_ADDRESS 0x0000001C
#define SPDRP_UI_NUMBER_DESC_FORMAT 0x0000001D
#define SPDRP_DEVICE_POWER_DATA 0x0000001E
#define SPDRP_REMOVAL_POLICY 0x0000001F
#define SPDRP_REMOVAL_POLICY_HW_DEFAULT 0x00000020
#define SPDRP_REMOVAL_POLICY_OVERRIDE 0x00000021
#define SPDRP_INSTALL_STATE 0x00000022
#define SPDRP_LOCATION_PATHS 0x00000023
#define SPDRP_BASE_CONTAINERID 0x00000024
#define SPDRP_MAXIMUM_PROPERTY 0x00000025

// Every installed setup class, in CM_Enumerate_Classes order. Two-call protocol: with
// too small a list it fails with ERROR_INSUFFICIENT_BUFFER and *RequiredSize set.
BOOL WINAPI SetupDiBuildClassInfoList(DWORD Flags, LPGUID ClassGuidList, DWORD ClassGuidListSize,
                                      PDWORD RequiredSize);
BOOL WINAPI SetupDiGetClassDescriptionA(const GUID* ClassGuid, PSTR ClassDescription,
                                        DWORD ClassDescriptionSize, PDWORD RequiredSize);
// Enumerator and hwndParent are ignored. With DIGCF_PRESENT only present devices.
HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR Enumerator, HWND hwndParent,
                                     DWORD Flags);
BOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex,
                                  PSP_DEVINFO_DATA DeviceInfoData);
// Two-call protocol: with no (or a too small) buffer it returns FALSE with
// ERROR_INSUFFICIENT_BUFFER, *RequiredSize and *PropertyRegDataType set. A property the
// device lacks fails with ERROR_INVALID_DATA.
BOOL WINAPI SetupDiGetDeviceRegistryPropertyA(HDEVINFO DeviceInfoSet,
                                              PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                              PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                              DWORD PropertyBufferSize, PDWORD RequiredSize);
// A non-null handle per known class; there are no pictures behind it (see KorvaneIconClass).
BOOL WINAPI SetupDiLoadClassIcon(const GUID* ClassGuid, HICON* LargeIcon, PINT MiniIconIndex);
BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);

// Not Windows: the class GUID an icon handle of SetupDiLoadClassIcon stands for.
bool KorvaneIconClass(HICON icon, GUID* classGuid);
