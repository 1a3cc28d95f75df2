// The emulated touchpad's end state in files, as the virtual touchpad's record under Wine gives
// it, so that every world's end state is compared in one form.
#pragma once

#include <string>

namespace fwu::tools {

// FOLDER/record.txt (mode, version, the flash's lowest programmed address) and FOLDER/flash.bin
// (the flash from its lowest programmed address to its highest). False when either cannot be
// written whole.
bool write_touchpad_state(const std::string& folder);

}  // namespace fwu::tools
