// newdev.dll for the program's runs on the virtual touchpad: DiUninstallDevice, which Wine 8 lacks
// (calling it ends the process). The device is found through Wine's own SetupAPI and uninstalled
// by the virtual touchpad's bus driver (bus_client.h), which owns the device's state. Wine's other
// newdev.dll functions live in Wine's newdev.dll itself, where a DLL of the same name cannot reach
// them; the program calls none of them.
#include <windows.h>

// After windows.h.
#include <cfgmgr32.h>
#include <newdev.h>
#include <setupapi.h>

#include "testing/wine/touchpad_driver/bus_client.h"

BOOL WINAPI DiUninstallDevice(HWND /*parent*/, HDEVINFO list, PSP_DEVINFO_DATA device, DWORD flags,
                              PBOOL need_reboot) {
  namespace control = touchpad_control;
  if (flags != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return FALSE;
  }
  wchar_t id[MAX_DEVICE_ID_LEN] = {};
  if (!SetupDiGetDeviceInstanceIdW(list, device, id, MAX_DEVICE_ID_LEN, nullptr)) return FALSE;
  control::NodeAnswer answer;
  if (!control::node_call(id, control::NodeCall::kUninstall, &answer)) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  if (answer.result != control::NodeResult::kDone) {
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
  }
  if (need_reboot != nullptr) *need_reboot = FALSE;
  // Windows returns once the device is gone.
  constexpr uint32_t kSettleMs = 30000;
  return control::wait_until_settled(kSettleMs) == control::Settled::kSettled ? TRUE : FALSE;
}
