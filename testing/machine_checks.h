// What tests ask of the simulated machine after a run of the program.
#pragma once

#include <span>
#include <vector>

#include "image/firmware_image.h"
#include "platform/resource.h"
#include "platform/sim/device_tree.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/sim.h"
#include "platform/sim/touchpad.h"

namespace fwu::testing {

// The touchpad's flash holds every region of the image the program carries.
inline bool flash_holds_shipped_image() {
  std::span<const char> text = platform::firmware_resource();
  FirmwareImage image(text.data(), text.size());
  if (image.parse() != 0 || image.region_count() == 0) return false;
  for (size_t i = 0; i < image.region_count(); ++i) {
    std::span<const uint8_t> bytes = image.region_bytes(i);
    if (!sim::flash_equals(image.region_address(i), {bytes.begin(), bytes.end()})) return false;
  }
  return true;
}

// Every handle, list, path and preparsed data the platform handed out has been given back.
inline bool everything_released() {
  const sim::HidWorld& hid = sim::hid_world();
  return hid.open_handles == 0 && hid.preparsed_data == 0 && hid.interface_lists == 0 &&
         hid.interface_paths == 0 && sim::device_tree().device_lists == 0 &&
         sim::file_security().open_files == 0 && sim::run_mutex().open_handles == 0 &&
         sim::run_mutex().holders == 0;
}

}  // namespace fwu::testing
