// What a HID report descriptor declares, read the way the HID class counts an interface's
// capabilities: the Linux backend reads the descriptor of a hidraw node and gives the core the
// report IDs it would get from the preparsed data on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::hidraw {

// The report ID of every feature value capability the descriptor declares, in the order of the
// descriptor. A Feature main item that is data (not constant), a variable (not an array) and wider
// than one bit is a value; one capability per usage or usage range given for it, and one when it
// has none. A descriptor that declares no report ID puts everything in report 0. False when the
// descriptor is malformed: an item running past the end, report ID 0, a Pop without a Push, too
// many Pushes, an End Collection without its Collection, or a collection left open.
bool feature_value_report_ids(const uint8_t* descriptor, size_t size,
                              std::vector<uint8_t>* report_ids);

}  // namespace platform::hidraw
