// The firmware image that the program carries.
#pragma once

#include <span>

namespace platform {

// The bytes of the program's own resource RCDATA 104: the firmware image as Intel HEX text. An
// empty span when the resource is missing. The bytes live as long as the process.
std::span<const char> firmware_resource();

}  // namespace platform
