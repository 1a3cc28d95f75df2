// newdev.dll: the uninstall of a device in a list the setupapi.dll stand-in gave out.
#include "testing/wine/standins/device_lists.h"
#include "testing/wine/standins/standins.h"
#include "testing/wine/standins/world.h"

BOOL WINAPI standin_DiUninstallDevice(HWND parent, HDEVINFO handle, PSP_DEVINFO_DATA device,
                                      DWORD flags, PBOOL need_reboot) {
  e2e::ensure_world();
  const char* function = "DiUninstallDevice";
  e2e::require(parent == nullptr, function, "a parent window");
  e2e::require_value(function, "the flags", flags, 0);
  e2e::require(need_reboot != nullptr, function, "no place for the reboot-needed value");
  e2e::DeviceList* list =
      e2e::device_list(handle, e2e::DeviceList::Kind::kAcpiHidDevices, function);
  e2e::select_device(list, device, function);
  list->devices.uninstall();
  *need_reboot = FALSE;
  return TRUE;
}
