#include "testing/wine/touchpad_driver/touchpad_interfaces.h"

#include <windows.h>

// After windows.h; hidsdi.h brings hidusage.h and hidpi.h in the order they need. MinGW's
// hidsdi.h declares hid.dll's functions without C linkage.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include "platform/sim/touchpad.h"

namespace touchpad_control {

namespace {

std::wstring device_path(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* data) {
  DWORD size = 0;
  SetupDiGetDeviceInterfaceDetailW(list, data, nullptr, 0, &size, nullptr);
  if (size <= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return L"";
  std::vector<BYTE> record(size + sizeof(wchar_t), 0);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.data());
  detail->cbSize = sizeof *detail;
  if (!SetupDiGetDeviceInterfaceDetailW(list, data, detail, size, nullptr, nullptr)) return L"";
  return detail->DevicePath;
}

}  // namespace

std::vector<TouchpadInterface> touchpad_interfaces() {
  std::vector<TouchpadInterface> found;
  GUID hid_guid;
  HidD_GetHidGuid(&hid_guid);
  HDEVINFO list =
      SetupDiGetClassDevsW(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list == INVALID_HANDLE_VALUE) return found;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(list, nullptr, &hid_guid, i, &data); ++i) {
    std::wstring path = device_path(list, &data);
    HANDLE device = path.empty() ? INVALID_HANDLE_VALUE
                                 : CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) continue;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    if (HidD_GetAttributes(device, &attributes) && attributes.VendorID == sim::kTouchpadVendorId) {
      found.push_back({path, attributes.ProductID});
    }
    CloseHandle(device);
  }
  SetupDiDestroyDeviceInfoList(list);
  return found;
}

}  // namespace touchpad_control
