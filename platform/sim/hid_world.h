// The simulated HID interfaces: what platform::hid lists, opens and queries. Every top-level
// collection of a device is an interface of its own, as on Windows. The interfaces of the
// touchpad are backed by the emulated touchpad (platform/sim/touchpad.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/devnode.h"
#include "platform/sim/fault.h"

namespace sim {

struct HidInterface {
  std::u16string path;  // the device path (CreateFileW opens it)
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;  // for the touchpad: decided each time it appears
  uint16_t version_number = 0;
  std::vector<uint8_t> feature_value_report_ids;  // one entry per feature value capability
  // The length of its feature reports, ID byte included (0: it has none). A set or get feature
  // of another length, or with an ID it does not declare, is refused.
  uint32_t feature_report_length = 0;
  // At most this many capabilities come back from HidP_GetValueCaps, even when more are asked.
  uint32_t value_caps_limit = UINT32_MAX;
  platform::devnode::DevNode node = 0;  // the HID device node it belongs to
  bool touchpad = false;                // backed by the emulated touchpad

  // Faults: SetupDiGetDeviceInterfaceDetailW size query (answers anything but
  // ERROR_INSUFFICIENT_BUFFER: detail_size() gives 0), the detail read, CreateFileW,
  // HidD_GetAttributes, HidD_GetPreparsedData, HidP_GetCaps, HidP_GetValueCaps.
  Fault detail_size;
  Fault detail_read;
  Fault open;
  Fault attributes;
  Fault preparsed;
  Fault caps;
  Fault value_caps;

  // State and record.
  bool present = false;     // kept up to date from the device tree
  uint32_t appearance = 0;  // counts appearances; a handle of an earlier one is dead
  uint32_t opens = 0;       // successful opens
  int handles = 0;          // handles of it that the program holds now
};

struct HidWorld {
  std::vector<HidInterface> interfaces;  // the platform's order; absent ones are skipped
  Fault list;                            // SetupDiGetClassDevsW fails

  // Resources the program holds now; each must be back to 0 when it has released everything.
  int open_handles = 0;
  int preparsed_data = 0;
  int interface_lists = 0;
  int interface_paths = 0;
};
HidWorld& hid_world();

// Index in hid_world().interfaces of the interface whose path is `path`; -1 when none.
int find_interface(const std::u16string& path);
// Index of the touchpad's collection that carries feature report 7.
int touchpad_interface();
// Re-reads each interface's presence from the device tree. An interface that was absent and is
// now present appears again: its appearance count goes up, and the touchpad's product ID is set
// from its mode (the touchpad boots when its transport device starts it). The device-tree
// functions call this after every change; tests call it after changing the tree by hand.
void refresh_interfaces();

}  // namespace sim
