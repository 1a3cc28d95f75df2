// The functions that e2e_world.dll exports for the stand-in system DLLs. Each hid.dll,
// setupapi.dll, cfgmgr32.dll and newdev.dll stand-in is only a table of forwarders (the .def file
// of the same name) to these, so the four share the one world of world.h.
//
// Each stands for the Windows function after "standin_" for the arguments the program passes. An
// argument that the program must not pass (a size field, flags, a buffer size, a property, a
// list or preparsed data the stand-ins never gave out) ends the process loudly (e2e::require);
// what the device world refuses comes back as the Windows function reports a failure.
#pragma once

#include <windows.h>

// After windows.h; hidsdi.h brings hidusage.h and hidpi.h in the order they need.
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <hidsdi.h>
#include <setupapi.h>

#define FWU_STANDIN extern "C" __declspec(dllexport)

// hid.dll
FWU_STANDIN void WINAPI standin_HidD_GetHidGuid(LPGUID hid_guid);
FWU_STANDIN BOOLEAN WINAPI standin_HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);
FWU_STANDIN BOOLEAN WINAPI standin_HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* data);
FWU_STANDIN BOOLEAN WINAPI standin_HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data);
FWU_STANDIN BOOLEAN WINAPI standin_HidD_SetFeature(HANDLE device, PVOID report, ULONG length);
FWU_STANDIN BOOLEAN WINAPI standin_HidD_GetFeature(HANDLE device, PVOID report, ULONG length);
FWU_STANDIN NTSTATUS WINAPI standin_HidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps);
FWU_STANDIN NTSTATUS WINAPI standin_HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps,
                                                      PUSHORT count, PHIDP_PREPARSED_DATA data);

// setupapi.dll
FWU_STANDIN HDEVINFO WINAPI standin_SetupDiGetClassDevsW(const GUID* class_guid, PCWSTR enumerator,
                                                         HWND parent, DWORD flags);
FWU_STANDIN BOOL WINAPI standin_SetupDiDestroyDeviceInfoList(HDEVINFO list);
FWU_STANDIN BOOL WINAPI standin_SetupDiEnumDeviceInterfaces(HDEVINFO list, PSP_DEVINFO_DATA device,
                                                            const GUID* interface_class,
                                                            DWORD index,
                                                            PSP_DEVICE_INTERFACE_DATA data);
FWU_STANDIN BOOL WINAPI standin_SetupDiGetDeviceInterfaceDetailW(
    HDEVINFO list, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
    DWORD size, PDWORD required_size, PSP_DEVINFO_DATA device);
FWU_STANDIN BOOL WINAPI standin_SetupDiEnumDeviceInfo(HDEVINFO list, DWORD index,
                                                      PSP_DEVINFO_DATA device);
FWU_STANDIN BOOL WINAPI standin_SetupDiGetDeviceRegistryPropertyW(HDEVINFO list,
                                                                  PSP_DEVINFO_DATA device,
                                                                  DWORD property, PDWORD type,
                                                                  PBYTE buffer, DWORD size,
                                                                  PDWORD required_size);
FWU_STANDIN BOOL WINAPI standin_SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO list,
                                                          PSP_DEVINFO_DATA device);

// cfgmgr32.dll
FWU_STANDIN CONFIGRET WINAPI standin_CM_Get_Device_Interface_PropertyW(LPCWSTR interface_path,
                                                                       const DEVPROPKEY* key,
                                                                       DEVPROPTYPE* type,
                                                                       PBYTE buffer, PULONG size,
                                                                       ULONG flags);
FWU_STANDIN CONFIGRET WINAPI standin_CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W instance_id,
                                                        ULONG flags);
FWU_STANDIN CONFIGRET WINAPI standin_CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG flags);
FWU_STANDIN CONFIGRET WINAPI standin_CM_Disable_DevNode(DEVINST node, ULONG flags);
FWU_STANDIN CONFIGRET WINAPI standin_CM_Enable_DevNode(DEVINST node, ULONG flags);
FWU_STANDIN CONFIGRET WINAPI standin_CM_Reenumerate_DevNode(DEVINST node, ULONG flags);
FWU_STANDIN CONFIGRET WINAPI standin_CM_Get_DevNode_Status(PULONG status, PULONG problem,
                                                           DEVINST node, ULONG flags);

// newdev.dll
FWU_STANDIN BOOL WINAPI standin_DiUninstallDevice(HWND parent, HDEVINFO list,
                                                  PSP_DEVINFO_DATA device, DWORD flags,
                                                  PBOOL need_reboot);
