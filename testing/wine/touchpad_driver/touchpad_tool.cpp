// The test's hold on the virtual touchpad, run under Wine:
//
//   touchpad_tool install DIR      installs the drivers from DIR\fwu_e2e_touchpad.inf on a new
//                                  root device, as a Windows developer installs a driver package,
//                                  and waits until the bus answers
//   touchpad_tool set-up [OPTION...]
//                                  builds the machine the options describe (fwupdate-sim's
//                                  machine options) and waits until Wine shows the touchpad as
//                                  the machine has it
//   touchpad_tool wait             waits until Wine shows the touchpad as the machine has it now
//   touchpad_tool record DIR       writes DIR\record.txt and DIR\flash.bin (DIR is made)
//
// Exit status 0, or 1 with a line on stdout that says what failed.
#include <windows.h>

// After windows.h.
#include <newdev.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "testing/wine/standins/narrow.h"
#include "testing/wine/touchpad_driver/bus_client.h"
#include "testing/wine/touchpad_driver/touchpad_interfaces.h"

namespace {

namespace control = touchpad_control;

constexpr GUID kHidClass = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};
constexpr wchar_t kBusHardwareId[] = L"root\\fwu_e2e_bus";
constexpr DWORD kPollMs = 100;
// Wine starts drivers in a device host of its own; on a busy machine that takes a while.
constexpr DWORD kInstallWaitMs = 120000;
constexpr DWORD kSettleWaitMs = 60000;

int fail(const char* what, DWORD error = GetLastError()) {
  std::printf("FAILED: %s (error %lu)\n", what, error);
  return 1;
}

bool write_file(const std::wstring& path, const char* data, size_t size) {
  std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
  file.write(data, static_cast<std::streamsize>(size));
  return file.good();
}

// ---- install ----------------------------------------------------------------------------------

bool make_root_device() {
  HDEVINFO set = SetupDiCreateDeviceInfoList(&kHidClass, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  wchar_t hardware_ids[64] = {};
  lstrcpyW(hardware_ids, kBusHardwareId);
  bool ok = SetupDiCreateDeviceInfoW(set, L"fwu_e2e_bus", &kHidClass, nullptr, nullptr,
                                     DICD_GENERATE_ID, &device) &&
            SetupDiSetDeviceRegistryPropertyW(
                set, &device, SPDRP_HARDWAREID, reinterpret_cast<BYTE*>(hardware_ids),
                static_cast<DWORD>((lstrlenW(hardware_ids) + 2) * sizeof(wchar_t))) &&
            SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
  SetupDiDestroyDeviceInfoList(set);
  return ok;
}

int install(const std::wstring& directory) {
  if (control::bus_answers()) {
    std::printf("installed already\n");
    return 0;
  }
  std::wstring inf = directory + L"\\fwu_e2e_touchpad.inf";
  wchar_t copied[MAX_PATH];
  if (!SetupCopyOEMInfW(inf.c_str(), nullptr, SPOST_PATH, 0, copied, MAX_PATH, nullptr, nullptr)) {
    return fail("SetupCopyOEMInfW");
  }
  if (!make_root_device()) return fail("the root device");
  BOOL reboot = FALSE;
  if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, kBusHardwareId, inf.c_str(), INSTALLFLAG_FORCE,
                                          &reboot)) {
    return fail("UpdateDriverForPlugAndPlayDevicesW");
  }
  // The device host starts the bus driver on its own time.
  for (DWORD waited = 0; waited < kInstallWaitMs; waited += kPollMs) {
    if (control::bus_answers()) {
      std::printf("installed: %ls\n", copied);
      return 0;
    }
    Sleep(kPollMs);
  }
  return fail("the bus driver did not start");
}

// ---- waiting for Wine ---------------------------------------------------------------------

// Wine shows the touchpad's HID interface, with the product ID it appeared with, while the bus
// has its transport device, and none while it has not.
bool interface_shown(const control::TransportState& state) {
  std::vector<control::TouchpadInterface> seen = control::touchpad_interfaces();
  return state.plugged ? seen.size() == 1 && seen[0].product_id == state.product_id : seen.empty();
}

// Waits until Wine shows the touchpad as the machine has it now: its transport device removed or
// started, and the HID interface above it.
int wait_settled() {
  control::TransportState state;
  switch (control::wait_until_settled(kSettleWaitMs, interface_shown, &state)) {
    case control::Settled::kSettled:
      return 0;
    case control::Settled::kNoBus:
      return fail("the bus does not answer");
    case control::Settled::kTimedOut:
      break;
  }
  std::printf(
      "FAILED: the touchpad did not settle: plugged %u product 0x%04X settling %u, %zu "
      "interfaces\n",
      state.plugged, state.product_id, state.settling, control::touchpad_interfaces().size());
  return 1;
}

// ---- set-up and record ----------------------------------------------------------------------

int set_up(int argc, wchar_t** argv) {
  std::string options;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) options += ' ';
    options += e2e::narrow(reinterpret_cast<const char16_t*>(argv[i]));
  }
  bool accepted = false;
  std::string why;
  if (!control::set_up(options, &accepted, &why)) return fail("the bus does not answer");
  if (!accepted) {
    std::printf("FAILED: machine options \"%s\": %s\n", options.c_str(), why.c_str());
    return 1;
  }
  return wait_settled();
}

int record(const std::wstring& directory) {
  std::vector<char> text;
  std::vector<char> flash;
  // Far more than the flash of any image; a bigger flash fails the request.
  constexpr uint32_t kRoom = 16 << 20;
  if (!control::ask(control::kRecord, nullptr, 0, &text, kRoom) ||
      !control::ask(control::kFlash, nullptr, 0, &flash, kRoom) ||
      flash.size() < sizeof(control::FlashHeader)) {
    return fail("the bus does not answer");
  }
  CreateDirectoryW(directory.c_str(), nullptr);
  const size_t header = sizeof(control::FlashHeader);
  if (!write_file(directory + L"\\record.txt", text.data(), text.size()) ||
      !write_file(directory + L"\\flash.bin", flash.data() + header, flash.size() - header)) {
    return fail("cannot write the record");
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv);

int wmain(int argc, wchar_t** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"install" && argc == 3) return install(argv[2]);
  if (command == L"set-up") return set_up(argc - 2, argv + 2);
  if (command == L"wait" && argc == 2) return wait_settled();
  if (command == L"record" && argc == 3) return record(argv[2]);
  std::printf("usage: touchpad_tool install DIR | set-up [OPTION...] | wait | record DIR\n");
  return 2;
}
