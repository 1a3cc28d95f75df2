// setupapi.dll: the device and interface lists of the world's device tree and HID interfaces.
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "platform/sim/hid_world.h"
#include "testing/wine/standins/device_lists.h"
#include "testing/wine/standins/standins.h"
#include "testing/wine/standins/world.h"

namespace {

using e2e::DeviceList;

constexpr GUID kHidInterfaceClass = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr GUID kHidDeviceClass = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

std::set<DeviceList*>& given_out() {
  static std::set<DeviceList*>* made = new std::set<DeviceList*>;
  return *made;
}

bool same_guid(const GUID* a, const GUID& b) {
  return a != nullptr && std::memcmp(a, &b, sizeof b) == 0;
}

// The byte size of an SP_DEVICE_INTERFACE_DETAIL_DATA_W record that holds `path`: the size
// field, then the path and its terminating zero.
DWORD detail_size(const std::u16string& path) {
  return static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                            sizeof(char16_t) * (path.size() + 1));
}

HDEVINFO give_out(DeviceList* list) {
  given_out().insert(list);
  return reinterpret_cast<HDEVINFO>(list);
}

HDEVINFO present_interfaces(PCWSTR enumerator, HWND parent, DWORD flags) {
  const char* function = "SetupDiGetClassDevsW (HID interfaces)";
  e2e::require(enumerator == nullptr, function, "an enumerator");
  e2e::require(parent == nullptr, function, "a parent window");
  e2e::require_value(function, "the flags", flags, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  platform::hid::InterfaceList interfaces = platform::hid::InterfaceList::present();
  if (!interfaces.is_valid()) {
    SetLastError(ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  DeviceList* list = new DeviceList;
  list->interfaces = std::move(interfaces);
  // The same interfaces the simulated list holds, to size their detail records before reading.
  for (const sim::HidInterface& each : sim::hid_world().interfaces) {
    if (each.present) list->device_paths.push_back(e2e::device_path_for(each.path));
  }
  return give_out(list);
}

HDEVINFO present_acpi_hid_devices(PCWSTR enumerator, HWND parent, DWORD flags) {
  const char* function = "SetupDiGetClassDevsW (HID-class devices)";
  e2e::require(enumerator != nullptr && lstrcmpW(enumerator, L"ACPI") == 0, function,
               "the enumerator must be \"ACPI\"");
  e2e::require(parent == nullptr, function, "a parent window");
  e2e::require_value(function, "the flags", flags, DIGCF_PRESENT);
  platform::devnode::AcpiHidDevices devices = platform::devnode::AcpiHidDevices::present();
  if (!devices.is_valid()) {
    SetLastError(ERROR_GEN_FAILURE);
    return INVALID_HANDLE_VALUE;
  }
  DeviceList* list = new DeviceList;
  list->kind = DeviceList::Kind::kAcpiHidDevices;
  list->devices = std::move(devices);
  return give_out(list);
}

void select_interface(DeviceList* list, const SP_DEVICE_INTERFACE_DATA* data,
                      const char* function) {
  e2e::require(data != nullptr, function, "no SP_DEVICE_INTERFACE_DATA");
  e2e::require_value(function, "SP_DEVICE_INTERFACE_DATA.cbSize", data->cbSize, 32);
  e2e::require(data->Reserved != 0, function,
               "an SP_DEVICE_INTERFACE_DATA that SetupDiEnumDeviceInterfaces did not fill");
  if (data->Reserved == list->selected) return;
  list->interfaces.select(static_cast<uint32_t>(data->Reserved - 1));
  list->selected = data->Reserved;
  list->reported_detail_size = 0;
}

BOOL size_query(DeviceList* list, DWORD size, PDWORD required_size) {
  const char* function = "SetupDiGetDeviceInterfaceDetailW (size query)";
  e2e::require_value(function, "the buffer size", size, 0);
  e2e::require(required_size != nullptr, function, "no place for the size");
  if (list->interfaces.detail_size() == 0) {
    // A fault of the world, as no Windows answers a size query: it succeeds without a buffer
    // and gives no size.
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  e2e::require(list->selected <= list->device_paths.size(), "SetupDiGetDeviceInterfaceDetailW",
               "the list holds fewer interfaces than it enumerated");
  list->reported_detail_size = detail_size(list->device_paths[list->selected - 1]);
  *required_size = list->reported_detail_size;
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return FALSE;
}

BOOL read_detail(DeviceList* list, PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size,
                 PDWORD required_size) {
  const char* function = "SetupDiGetDeviceInterfaceDetailW";
  e2e::require_value(function, "SP_DEVICE_INTERFACE_DETAIL_DATA_W.cbSize (its fixed part on x64)",
                     detail->cbSize, 8);
  e2e::require(list->reported_detail_size != 0, function,
               "the detail is read before a size query for this interface");
  e2e::require_value(function, "the buffer size (the size the query reported)", size,
                     list->reported_detail_size);
  platform::hid::InterfacePath path;
  // Any size the simulated list takes: the record it makes is not the one handed out here.
  if (!list->interfaces.read_detail(UINT32_MAX, &path)) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  std::u16string device_path = e2e::device_path_for(path.device_path());
  e2e::require(detail_size(device_path) <= size, function, "the interface changed its path");
  std::memcpy(detail->DevicePath, device_path.c_str(), sizeof(char16_t) * (device_path.size() + 1));
  if (required_size != nullptr) *required_size = detail_size(device_path);
  e2e::remember(std::move(path));
  return TRUE;
}

}  // namespace

namespace e2e {

DeviceList* device_list(HDEVINFO handle, DeviceList::Kind kind, const char* function) {
  DeviceList* list = reinterpret_cast<DeviceList*>(handle);
  require(given_out().count(list) != 0, function,
          "a list that SetupDiGetClassDevsW did not give out, or that is destroyed");
  require(list->kind == kind, function,
          kind == DeviceList::Kind::kInterfaces ? "a list of HID interfaces is needed"
                                                : "a list of HID-class devices is needed");
  return list;
}

void select_device(DeviceList* list, const SP_DEVINFO_DATA* device, const char* function) {
  require(device != nullptr, function, "no SP_DEVINFO_DATA");
  require_value(function, "SP_DEVINFO_DATA.cbSize", device->cbSize, 32);
  require(device->Reserved != 0, function,
          "an SP_DEVINFO_DATA that SetupDiEnumDeviceInfo did not fill");
  if (device->Reserved == list->selected) return;
  platform::devnode::DevNode node = 0;
  list->devices.select(static_cast<uint32_t>(device->Reserved - 1), &node);
  list->selected = device->Reserved;
}

}  // namespace e2e

HDEVINFO WINAPI standin_SetupDiGetClassDevsW(const GUID* class_guid, PCWSTR enumerator, HWND parent,
                                             DWORD flags) {
  e2e::ensure_world();
  // A disable that follows must see only the handles the program still holds.
  e2e::forget_closed_handles();
  if (same_guid(class_guid, kHidInterfaceClass)) {
    return present_interfaces(enumerator, parent, flags);
  }
  e2e::require(same_guid(class_guid, kHidDeviceClass), "SetupDiGetClassDevsW",
               "a class other than the HID interfaces and the HID-class devices");
  return present_acpi_hid_devices(enumerator, parent, flags);
}

BOOL WINAPI standin_SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
  e2e::ensure_world();
  DeviceList* list = reinterpret_cast<DeviceList*>(handle);
  e2e::require(given_out().count(list) != 0, "SetupDiDestroyDeviceInfoList",
               "a list that SetupDiGetClassDevsW did not give out, or that is destroyed");
  given_out().erase(list);
  delete list;
  return TRUE;
}

BOOL WINAPI standin_SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA device,
                                                const GUID* interface_class, DWORD index,
                                                PSP_DEVICE_INTERFACE_DATA data) {
  e2e::ensure_world();
  const char* function = "SetupDiEnumDeviceInterfaces";
  DeviceList* list = e2e::device_list(handle, DeviceList::Kind::kInterfaces, function);
  e2e::require(device == nullptr, function, "a device filter");
  e2e::require(same_guid(interface_class, kHidInterfaceClass), function,
               "an interface class other than HID");
  e2e::require(data != nullptr, function, "no SP_DEVICE_INTERFACE_DATA");
  e2e::require_value(function, "SP_DEVICE_INTERFACE_DATA.cbSize", data->cbSize, 32);
  if (!list->interfaces.select(index)) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  list->selected = index + 1;
  list->reported_detail_size = 0;
  data->InterfaceClassGuid = kHidInterfaceClass;
  data->Flags = SPINT_ACTIVE;
  data->Reserved = list->selected;
  return TRUE;
}

BOOL WINAPI standin_SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle,
                                                     PSP_DEVICE_INTERFACE_DATA data,
                                                     PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                     DWORD size, PDWORD required_size,
                                                     PSP_DEVINFO_DATA device) {
  e2e::ensure_world();
  const char* function = "SetupDiGetDeviceInterfaceDetailW";
  DeviceList* list = e2e::device_list(handle, DeviceList::Kind::kInterfaces, function);
  e2e::require(device == nullptr, function, "an SP_DEVINFO_DATA to fill");
  select_interface(list, data, function);
  return detail == nullptr ? size_query(list, size, required_size)
                           : read_detail(list, detail, size, required_size);
}

BOOL WINAPI standin_SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD index, PSP_DEVINFO_DATA device) {
  e2e::ensure_world();
  const char* function = "SetupDiEnumDeviceInfo";
  DeviceList* list = e2e::device_list(handle, DeviceList::Kind::kAcpiHidDevices, function);
  e2e::require(device != nullptr, function, "no SP_DEVINFO_DATA");
  e2e::require_value(function, "SP_DEVINFO_DATA.cbSize", device->cbSize, 32);
  platform::devnode::DevNode node = 0;
  if (!list->devices.select(index, &node)) {
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
  }
  list->selected = index + 1;
  device->ClassGuid = kHidDeviceClass;
  device->DevInst = node;
  device->Reserved = list->selected;
  return TRUE;
}

BOOL WINAPI standin_SetupDiGetDeviceRegistryPropertyW(HDEVINFO handle, PSP_DEVINFO_DATA device,
                                                      DWORD property, PDWORD type, PBYTE buffer,
                                                      DWORD size, PDWORD required_size) {
  e2e::ensure_world();
  const char* function = "SetupDiGetDeviceRegistryPropertyW";
  DeviceList* list = e2e::device_list(handle, DeviceList::Kind::kAcpiHidDevices, function);
  e2e::select_device(list, device, function);
  e2e::require_value(function, "the property", property, SPDRP_SERVICE);
  e2e::require(buffer != nullptr, function, "no buffer");
  e2e::require_value(function, "the buffer size", size, 260);
  e2e::require(type == nullptr && required_size == nullptr, function,
               "a type or size out-value, which the program does not ask for");
  std::u16string name;
  if (!list->devices.service_name(&name)) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  size_t bytes = sizeof(char16_t) * (name.size() + 1);
  if (bytes > size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, name.c_str(), bytes);
  return TRUE;
}

BOOL WINAPI standin_SetupDiCallClassInstaller(DI_FUNCTION function_code, HDEVINFO handle,
                                              PSP_DEVINFO_DATA device) {
  e2e::ensure_world();
  const char* function = "SetupDiCallClassInstaller";
  e2e::require_value(function, "the installer function", function_code, DIF_REMOVE);
  DeviceList* list = e2e::device_list(handle, DeviceList::Kind::kAcpiHidDevices, function);
  e2e::select_device(list, device, function);
  list->devices.remove();
  return TRUE;
}
