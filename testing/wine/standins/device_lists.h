// The device information lists that the setupapi.dll stand-in gives out as HDEVINFO, shared with
// the newdev.dll stand-in that uninstalls an entry of one.
#pragma once

#include <windows.h>

#include <setupapi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/devnode.h"
#include "platform/hid.h"

namespace e2e {

struct DeviceList {
  enum class Kind { kInterfaces, kAcpiHidDevices };
  Kind kind = Kind::kInterfaces;
  // kInterfaces: the present HID interfaces, and the device paths given out for them, in the
  // same order.
  platform::hid::InterfaceList interfaces;
  std::vector<std::u16string> device_paths;
  // kAcpiHidDevices: the present HID-class devices enumerated by ACPI.
  platform::devnode::AcpiHidDevices devices;
  // The entry selected last, as index + 1 (0: none), which the Reserved field of the
  // SP_DEVICE_INTERFACE_DATA or SP_DEVINFO_DATA filled for it carries too.
  ULONG_PTR selected = 0;
  // The detail size that the last size query reported for the selected interface (0: none yet).
  DWORD reported_detail_size = 0;
};

// The list behind `handle`, which must be one of `kind` that the stand-ins gave out and did not
// destroy yet (otherwise the process ends loudly).
DeviceList* device_list(HDEVINFO handle, DeviceList::Kind kind, const char* function);
// Makes the entry that `device` was filled for the selected one of `list` (a kAcpiHidDevices
// list); `device` must be an SP_DEVINFO_DATA of size field 32 that SetupDiEnumDeviceInfo filled.
void select_device(DeviceList* list, const SP_DEVINFO_DATA* device, const char* function);

}  // namespace e2e
