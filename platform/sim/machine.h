// The simulated machine's device world as a whole: the default machine that sim::reset() builds
// and the scenarios that tests and fwupdate-sim set up on top of it.
//
// The default machine, in the HID interface order:
//   keyboard      vendor 0x2E5D, product 0x0401, feature report 1; under an ACPI HID-class
//                 device of service "hidspi"
//   touchscreen   vendor 0x4D21, product 0x1042 (another vendor, the touchpad's product ID), a
//                 feature value capability for report 7; under an ACPI "hidi2c" device
//   touchpad      vendor 0x3A7C, product 0x1042 (firmware) / 0xD0C0 (bootloader), version
//                 0x0100, three collections: COL01 feature reports 1 and 3, COL02 none, COL03
//                 report 7 (the emulated touchpad); each collection a HID node under the
//                 transport device "ACPI\TPD0001\1", an ACPI HID-class device of service "hidi2c"
//   mouse         vendor 0x5E11, product 0x0002, feature report 2; under a USB HID-class device
//                 (outside the ACPI list)
// The touchpad runs firmware 16 with a valid image, protocol 9, erase delay 50, write rate 10.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/device_tree.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/touchpad.h"

namespace sim {

enum class DeviceStart {
  kNormal,      // running its firmware
  kBootloader,  // stuck in its bootloader: the image is not valid
  kNone,        // no touchpad at all (its transport device is not present)
  kAfterRepair  // its transport device has a problem and its interfaces are absent; a disable
                // and enable of that device repairs it
};
enum class Stale {
  kNone,      // no HID device with a problem
  kRepaired,  // a second hidi2c device with a problem that a disable and enable repairs
  kStays      // a second hidi2c device whose problem stays after the enable
};

// Faults of the device world that no other option makes: the program's answer to each is a road
// of its own.
enum class Breakage {
  kRestartNotDisableable,  // the transport's first disable answers not disableable; the class
                           // installer's removal reinstalls it
  kRestartEnable,          // the transport's first enable is refused; a re-enumeration starts it
  kRestartDisable,         // every disable of the transport fails
  kInstanceId,             // the touchpad interface's instance ID cannot be read
  kInstanceIdType,         // it comes back as another type than a string
  kLocate,                 // CM_Locate_DevNodeW fails for every node
  kStaleNotDisableable,    // the stale device's first disable answers not disableable; its
                           // uninstall reinstalls it
  kStaleService,           // the stale device's service cannot be read
  kReopen,                 // the collection with report 7 opens once; every later open fails
  // Every such call fails for the touchpad's first collection (COL01), which the program must
  // pass over on its way to the collection with report 7.
  kDetailSize,
  kDetailRead,
  kCaps,
  kValueCaps,
};

struct CommandFailure {
  Command command = Command::kStatus;
  uint32_t from_nth = 1;  // this HID call of the command and every later one fail
};
struct BusyReads {
  Command command = Command::kStatus;
  uint32_t reads = 0;  // from the first command on, this many status reads report busy
};

struct MachineSetup {
  DeviceStart device = DeviceStart::kNormal;
  uint16_t firmware_version = 16;
  uint16_t new_version = 17;
  bool big_endian_info = false;
  uint32_t info_length = kInfoLength;
  uint8_t protocol = 9;
  uint8_t erase_delay = 50;
  uint8_t write_rate = 10;
  uint16_t firmware_signature = 0x5AC3;
  uint32_t boot_ms = kBootMs;  // after reset and invoke bootloader
  uint32_t format_image_ms = kFormatImageMs;
  uint32_t flush_ms = kFlushMs;
  uint32_t validate_ms = kValidateMs;
  std::vector<CommandFailure> failures;
  std::vector<BusyReads> busy;
  bool image_never_valid = false;
  bool restart_fails = false;  // the transport device has a problem after an enable and refuses
                               // re-enumeration
  Stale stale = Stale::kNone;
  std::vector<Breakage> breakages;
  // The touchpad's interfaces appear this long after its transport device is started again
  // (by the stale device removal's enable or the restart's): the system starts them in its own
  // time once the enable has returned.
  uint32_t appear_ms = 0;
};

// Makes the machine what `setup` says, from the default machine. sim::reset() calls it with a
// default MachineSetup.
void set_up_machine(const MachineSetup& setup);

// Handles of the default machine's nodes.
DevNode touchpad_transport();
DevNode stale_device();  // 0 unless the setup asked for one
// True while the touchpad's interfaces are there as far as the device tree goes: its transport
// device is started, and the time its interfaces take to appear after a start has passed.
bool touchpad_interfaces_started();
// How long until they appear: 0 when they are there, or when nothing is coming (the transport
// device is not started); at least 1 while they are still to appear.
uint64_t touchpad_interfaces_due_in_ms();

}  // namespace sim
