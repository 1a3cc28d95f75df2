// The command line of fwupdate-sim: machine options, then "--", then the program's argument text.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace fwu::tools {

struct SimOptions {
  sim::MachineSetup machine;
  std::vector<int> answers;  // IDYES / IDNO in order, the last one repeating
  std::string image_file;    // replaces the embedded image when set
  std::string registry_file = "registry.reg";
  bool fast = false;
  bool list_waits = false;    // print every wait the program asked for, in order
  std::string state_folder;   // where the touchpad's end state is written, when set
  std::string argument_text;  // everything after "--", joined with blanks
};

// Parses argv; false (with a reason in *error) on an unknown option or a bad value.
bool parse_sim_options(int argc, const char* const* argv, SimOptions* options, std::string* error);

// The usage text.
const char* sim_usage();

}  // namespace fwu::tools
