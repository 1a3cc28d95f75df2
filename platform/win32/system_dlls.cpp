#include "platform/win32/system_dlls.h"

#include <newdev.h>

namespace platform::win32::system_dll {

namespace {

// The DLL stays loaded for the rest of the process once it is found; one that is missing is
// looked for again on the next call, which costs nothing that matters on a road that fails anyway.
HMODULE load_from_system32(HMODULE* module, const wchar_t* name) {
  if (*module == nullptr) *module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return *module;
}

HMODULE hid() {
  static HMODULE module = nullptr;
  return load_from_system32(&module, L"hid.dll");
}

HMODULE cfgmgr32() {
  static HMODULE module = nullptr;
  return load_from_system32(&module, L"cfgmgr32.dll");
}

HMODULE newdev() {
  static HMODULE module = nullptr;
  return load_from_system32(&module, L"newdev.dll");
}

HMODULE ntdll() {
  static HMODULE module = nullptr;
  return load_from_system32(&module, L"ntdll.dll");
}

HMODULE winmm() {
  static HMODULE module = nullptr;
  return load_from_system32(&module, L"winmm.dll");
}

// The address of `name` in `module` as a pointer to `Fn`, or null with the last error telling
// which part is missing.
template <typename Fn>
Fn* find(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;  // LoadLibraryExW has set the last error
  FARPROC proc = GetProcAddress(module, name);
  // FARPROC is the type-erased function pointer of GetProcAddress; going through a plain
  // function pointer type tells the compiler that the cast to the real type is deliberate.
  return reinterpret_cast<Fn*>(reinterpret_cast<void (*)()>(proc));
}

// Not declared by MinGW's cfgmgr32.h; the signature is that of the Windows SDK.
using CmGetDeviceInterfacePropertyW = CONFIGRET WINAPI(LPCWSTR, const DEVPROPKEY*, DEVPROPTYPE*,
                                                       PBYTE, PULONG, ULONG);

constexpr NTSTATUS kHidpMissing = HIDP_STATUS_NOT_IMPLEMENTED;

}  // namespace

bool restrict_search_to_system32() {
  return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

bool refuse_remote_and_low_label_images() {
  PROCESS_MITIGATION_IMAGE_LOAD_POLICY policy{};
  policy.NoRemoteImages = 1;
  policy.NoLowMandatoryLabelImages = 1;
  policy.PreferSystem32Images = 1;
  return SetProcessMitigationPolicy(ProcessImageLoadPolicy, &policy, sizeof policy) != FALSE;
}

bool HidD_GetHidGuid(LPGUID hid_guid) {
  auto* fn = find<decltype(::HidD_GetHidGuid)>(hid(), "HidD_GetHidGuid");
  if (fn == nullptr) return false;
  fn(hid_guid);
  return true;
}

BOOLEAN HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
  auto* fn = find<decltype(::HidD_GetAttributes)>(hid(), "HidD_GetAttributes");
  return fn != nullptr ? fn(device, attributes) : FALSE;
}

BOOLEAN HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* data) {
  auto* fn = find<decltype(::HidD_GetPreparsedData)>(hid(), "HidD_GetPreparsedData");
  return fn != nullptr ? fn(device, data) : FALSE;
}

BOOLEAN HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
  auto* fn = find<decltype(::HidD_FreePreparsedData)>(hid(), "HidD_FreePreparsedData");
  return fn != nullptr ? fn(data) : FALSE;
}

BOOLEAN HidD_SetFeature(HANDLE device, PVOID report, ULONG length) {
  auto* fn = find<decltype(::HidD_SetFeature)>(hid(), "HidD_SetFeature");
  return fn != nullptr ? fn(device, report, length) : FALSE;
}

BOOLEAN HidD_GetFeature(HANDLE device, PVOID report, ULONG length) {
  auto* fn = find<decltype(::HidD_GetFeature)>(hid(), "HidD_GetFeature");
  return fn != nullptr ? fn(device, report, length) : FALSE;
}

NTSTATUS HidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
  auto* fn = find<decltype(::HidP_GetCaps)>(hid(), "HidP_GetCaps");
  return fn != nullptr ? fn(data, caps) : kHidpMissing;
}

NTSTATUS HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT count,
                           PHIDP_PREPARSED_DATA data) {
  auto* fn = find<decltype(::HidP_GetValueCaps)>(hid(), "HidP_GetValueCaps");
  return fn != nullptr ? fn(type, caps, count, data) : kHidpMissing;
}

CONFIGRET CM_Get_Device_Interface_PropertyW(LPCWSTR interface_path, const DEVPROPKEY* key,
                                            DEVPROPTYPE* type, PBYTE buffer, PULONG size,
                                            ULONG flags) {
  auto* fn = find<CmGetDeviceInterfacePropertyW>(cfgmgr32(), "CM_Get_Device_Interface_PropertyW");
  return fn != nullptr ? fn(interface_path, key, type, buffer, size, flags) : CR_FAILURE;
}

CONFIGRET CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W instance_id, ULONG flags) {
  auto* fn = find<decltype(::CM_Locate_DevNodeW)>(cfgmgr32(), "CM_Locate_DevNodeW");
  return fn != nullptr ? fn(node, instance_id, flags) : CR_FAILURE;
}

CONFIGRET CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG flags) {
  auto* fn = find<decltype(::CM_Get_Parent)>(cfgmgr32(), "CM_Get_Parent");
  return fn != nullptr ? fn(parent, node, flags) : CR_FAILURE;
}

CONFIGRET CM_Disable_DevNode(DEVINST node, ULONG flags) {
  auto* fn = find<decltype(::CM_Disable_DevNode)>(cfgmgr32(), "CM_Disable_DevNode");
  return fn != nullptr ? fn(node, flags) : CR_FAILURE;
}

CONFIGRET CM_Enable_DevNode(DEVINST node, ULONG flags) {
  auto* fn = find<decltype(::CM_Enable_DevNode)>(cfgmgr32(), "CM_Enable_DevNode");
  return fn != nullptr ? fn(node, flags) : CR_FAILURE;
}

CONFIGRET CM_Reenumerate_DevNode(DEVINST node, ULONG flags) {
  auto* fn = find<decltype(::CM_Reenumerate_DevNode)>(cfgmgr32(), "CM_Reenumerate_DevNode");
  return fn != nullptr ? fn(node, flags) : CR_FAILURE;
}

CONFIGRET CM_Get_DevNode_Status(PULONG status, PULONG problem, DEVINST node, ULONG flags) {
  auto* fn = find<decltype(::CM_Get_DevNode_Status)>(cfgmgr32(), "CM_Get_DevNode_Status");
  return fn != nullptr ? fn(status, problem, node, flags) : CR_FAILURE;
}

BOOL DiUninstallDevice(HWND parent, HDEVINFO list, PSP_DEVINFO_DATA device, DWORD flags,
                       PBOOL need_reboot) {
  auto* fn = find<decltype(::DiUninstallDevice)>(newdev(), "DiUninstallDevice");
  return fn != nullptr ? fn(parent, list, device, flags, need_reboot) : FALSE;
}

NTSTATUS NtCreateFile(PHANDLE file, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                      PIO_STATUS_BLOCK status, PLARGE_INTEGER allocation_size,
                      ULONG file_attributes, ULONG share_access, ULONG disposition, ULONG options,
                      PVOID ea_buffer, ULONG ea_length) {
  auto* fn = find<decltype(::NtCreateFile)>(ntdll(), "NtCreateFile");
  return fn != nullptr ? fn(file, access, attributes, status, allocation_size, file_attributes,
                            share_access, disposition, options, ea_buffer, ea_length)
                       : static_cast<NTSTATUS>(0xC0000002L);  // STATUS_NOT_IMPLEMENTED
}

ULONG RtlNtStatusToDosError(NTSTATUS status) {
  auto* fn = find<decltype(::RtlNtStatusToDosError)>(ntdll(), "RtlNtStatusToDosError");
  return fn != nullptr ? fn(status) : ERROR_INVALID_FUNCTION;
}

NTSTATUS NtQueryVolumeInformationFile(HANDLE file, PIO_STATUS_BLOCK status, PVOID information,
                                      ULONG length, FS_INFORMATION_CLASS information_class) {
  auto* fn =
      find<decltype(::NtQueryVolumeInformationFile)>(ntdll(), "NtQueryVolumeInformationFile");
  return fn != nullptr ? fn(file, status, information, length, information_class)
                       : static_cast<NTSTATUS>(0xC0000002L);  // STATUS_NOT_IMPLEMENTED
}

NTSTATUS RtlDosPathNameToNtPathName_U_WithStatus(PCWSTR dos_name, PUNICODE_STRING nt_name,
                                                 PWSTR* file_part, PVOID relative_name) {
  using Fn = NTSTATUS NTAPI(PCWSTR, PUNICODE_STRING, PWSTR*, PVOID);
  auto* fn = find<Fn>(ntdll(), "RtlDosPathNameToNtPathName_U_WithStatus");
  return fn != nullptr ? fn(dos_name, nt_name, file_part, relative_name)
                       : static_cast<NTSTATUS>(0xC0000002L);  // STATUS_NOT_IMPLEMENTED
}

void RtlFreeUnicodeString(PUNICODE_STRING string) {
  using Fn = VOID NTAPI(PUNICODE_STRING);
  auto* fn = find<Fn>(ntdll(), "RtlFreeUnicodeString");
  if (fn != nullptr) fn(string);
}

MMRESULT timeBeginPeriod(UINT period) {
  auto* fn = find<decltype(::timeBeginPeriod)>(winmm(), "timeBeginPeriod");
  return fn != nullptr ? fn(period) : TIMERR_NOCANDO;
}

MMRESULT timeEndPeriod(UINT period) {
  auto* fn = find<decltype(::timeEndPeriod)>(winmm(), "timeEndPeriod");
  return fn != nullptr ? fn(period) : TIMERR_NOCANDO;
}

}  // namespace platform::win32::system_dll
