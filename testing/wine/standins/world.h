// The world behind the stand-in system DLLs: one emulated touchpad, one device tree and one set
// of HID interfaces in the process, the same ones the simulated machine has (platform/sim), here
// reached through the Windows calls of hid.dll, setupapi.dll, cfgmgr32.dll and newdev.dll.
//
// The world is made on the first stand-in call, from two environment variables of the process:
//   FWU_E2E_DIR      a Windows directory of the test's own whose parent exists (required; made
//                    if need be). The world puts one file per HID interface in the folder
//                    "devices" below it: the device paths that SetupDiGetDeviceInterfaceDetailW
//                    gives out name these files, so Wine's own CreateFileW opens them with no
//                    access rights, as Windows opens a HID interface. When the process ends the
//                    world writes record.txt there (the touchpad, the device nodes, what the
//                    program left open) and flash.bin (the flash from its lowest programmed
//                    address to its highest, 0xFF where nothing is programmed).
//   FWU_E2E_MACHINE  machine options in the syntax of fwupdate-sim (tools/sim_options.h), words
//                    separated by blanks; empty or unset: the default machine.
//
// Time is the real time of the process: Wine's Sleep really waits, and the touchpad is busy for
// as long as the real device would be.
#pragma once

#include <windows.h>

#include <string>

#include "platform/hid.h"

namespace e2e {

// The exit status of a process in which a stand-in found an argument the program must not pass,
// or a world it cannot make.
constexpr UINT kCheckFailed = 77;

// Unless `holds`: writes "fwu-e2e: FUNCTION: WHAT" to stderr and to the record, and ends the
// process with kCheckFailed.
void require(bool holds, const char* function, const char* what);
// The same for a value that must be exactly `expected`: "WHAT: ACTUAL, must be EXPECTED".
void require_value(const char* function, const char* what, unsigned long long actual,
                   unsigned long long expected);

// Makes the world if it is not made yet (see above); every stand-in calls this first.
void ensure_world();

// The device path that the stand-ins give out for the simulated interface path `sim_path`.
std::u16string device_path_for(const std::u16string& sim_path);
// Keeps the simulated path of an interface whose device path was given out, so that later calls
// naming that device path (an open handle, the interface property) find the interface again.
void remember(platform::hid::InterfacePath path);
// The simulated path behind a device path that was given out; null for any other path.
const platform::hid::InterfacePath* remembered(const wchar_t* device_path);

// The simulated device behind a handle that the program opened on a device path given out: bound
// to the interface as it is when the stand-ins first see the handle. Null when the handle is not
// open on such a path. A handle opened with access rights ends the process loudly: the program
// must open HID interfaces with none.
const platform::hid::Device* device_for(HANDLE handle);
// Lets go of the devices whose handles the program has closed, so the device tree sees only
// the handles still held (an open handle vetoes the disable of the device above it).
void forget_closed_handles();

}  // namespace e2e
