// What record.txt tells of the emulated touchpad and the device nodes at the end of a run, the
// same for the stand-ins' world and for the virtual touchpad's bus driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/device_tree.h"

namespace e2e {

// The touchpad's mode, version, image state, counts and flash extent, then one line per device
// node of the simulated machine, or per node for which `shown` is true.
std::string touchpad_record_lines(bool (*shown)(const sim::Node&) = nullptr);

// The flash from its lowest programmed address (*base) to its highest, 0xFF where nothing is
// programmed; empty, with *base 0, when nothing is.
std::vector<uint8_t> programmed_flash(uint32_t* base);

}  // namespace e2e
