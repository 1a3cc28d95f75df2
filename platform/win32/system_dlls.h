// The functions of system DLLs that are not known DLLs.
//
// The program runs with administrator rights, often from a downloads folder. A DLL named in the
// import table, or loaded by a plain LoadLibrary, is looked for in the program's own folder
// first unless Windows keeps it among its known DLLs, so a hid.dll left beside the program would
// run with those rights. The import table therefore names only known DLLs (kernel32, user32,
// advapi32, setupapi, msvcrt; scripts/check-windows-exe.sh holds the list), and every other
// system function reaches the program through this file alone, loaded from the system directory.
//
// Each function below stands for the Windows function of the same name. When its DLL cannot be
// loaded from the system directory, or lacks the function, it fails as the Windows function
// reports failure (FALSE, CR_FAILURE, a failing NTSTATUS) with the last error set to why.
#pragma once

#include <windows.h>

// After windows.h; hidsdi.h brings hidusage.h and hidpi.h in the order they need.
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <hidsdi.h>
#include <mmsystem.h>
#include <setupapi.h>
#include <winternl.h>

namespace platform::win32::system_dll {

// Keeps the program's folder, the current directory and PATH out of every DLL search for the rest
// of the process, also for the DLLs that Windows' own DLLs load later (themes, input methods):
// only the system directory is searched. False when the system refuses; the program goes on, as
// the DLLs it loads itself come from the system directory in any case.
bool restrict_search_to_system32();

// The image load policy of the process, beside the limited search: no image is mapped from a
// remote location (a share, WebDAV) or with a low mandatory label (what a sandboxed or
// low-integrity process may write), and a DLL of the system directory is taken before one of the
// same name anywhere else, also where a path or the search would have found another first.
// Windows 10 and later honour it; false when the system refuses, and the program goes on: the
// search is limited to the system directory all the same.
bool refuse_remote_and_low_label_images();

// hid.dll
// HidD_GetHidGuid cannot fail on Windows; false here when hid.dll or the function is missing.
bool HidD_GetHidGuid(LPGUID hid_guid);
BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes);
BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* data);
BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data);
BOOLEAN HidD_SetFeature(HANDLE device, PVOID report, ULONG length);
BOOLEAN HidD_GetFeature(HANDLE device, PVOID report, ULONG length);
NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps);
NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT count,
                           PHIDP_PREPARSED_DATA data);

// cfgmgr32.dll
CONFIGRET CM_Get_Device_Interface_PropertyW(LPCWSTR interface_path, const DEVPROPKEY* key,
                                            DEVPROPTYPE* type, PBYTE buffer, PULONG size,
                                            ULONG flags);
CONFIGRET CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W instance_id, ULONG flags);
CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG flags);
CONFIGRET CM_Disable_DevNode(DEVINST node, ULONG flags);
CONFIGRET CM_Enable_DevNode(DEVINST node, ULONG flags);
CONFIGRET CM_Reenumerate_DevNode(DEVINST node, ULONG flags);
CONFIGRET CM_Get_DevNode_Status(PULONG status, PULONG problem, DEVINST node, ULONG flags);

// newdev.dll
BOOL DiUninstallDevice(HWND parent, HDEVINFO list, PSP_DEVINFO_DATA device, DWORD flags,
                       PBOOL need_reboot);

// ntdll.dll: in every process already; looked up here so that the import table keeps its list.
NTSTATUS NtCreateFile(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                      PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation_size,
                      ULONG file_attributes, ULONG share_access, ULONG disposition, ULONG options,
                      PVOID ea_buffer, ULONG ea_length);
// ERROR_INVALID_FUNCTION when ntdll lacks it.
ULONG RtlNtStatusToDosError(NTSTATUS status);
NTSTATUS NtQueryVolumeInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information,
                                      ULONG length, FS_INFORMATION_CLASS information_class);
// The system's name of a Win32 path, as CreateFile makes it; freed by RtlFreeUnicodeString.
NTSTATUS RtlDosPathNameToNtPathName_U_WithStatus(PCWSTR dos_name, PUNICODE_STRING nt_name,
                                                 PWSTR* file_part, PVOID relative_name);
void RtlFreeUnicodeString(PUNICODE_STRING string);

// winmm.dll
MMRESULT timeBeginPeriod(UINT period);
MMRESULT timeEndPeriod(UINT period);

}  // namespace platform::win32::system_dll
