// The program's whole top level.
#pragma once

#include <string_view>

namespace fwu {

// Exit codes of the program (and result codes of the update sequence).
constexpr int kExitUpdated = 0;
constexpr int kExitUpdatedRestart = 1;
constexpr int kExitUpdateFailed = 1001;
constexpr int kExitNoDevice = 1003;
constexpr int kExitSameVersion = 1004;
constexpr int kExitNewerVersion = 1005;
constexpr int kExitDeclined = 1007;

// Runs the program once: reads the settings from `argument_text`, frames the run in the log
// (with `command_line`, the complete command line, in its header), makes sure the touchpad is
// present (with one repair attempt when it is not), runs the update, writes the inventory record
// after a successful one, and returns the exit code. A run that another run still keeps out after
// 10 minutes leaves the touchpad alone and ends with kExitNoDevice.
int run_program(std::string_view argument_text, const char* command_line);

}  // namespace fwu
