// The machine of an end-to-end run, given as one line of fwupdate-sim's machine options: the
// stand-ins' world reads it from FWU_E2E_MACHINE, the virtual touchpad's bus driver from its
// control device.
#pragma once

#include <string>

#include "platform/sim/machine.h"

namespace e2e {

// Parses blank-separated machine options. False, with the reason in *error, for an option that
// fwupdate-sim refuses, and for the options of the program's own side (its answers, image,
// registry, clock and command line), which are real under Wine.
bool machine_from_text(const std::string& text, sim::MachineSetup* setup, std::string* error);

}  // namespace e2e
