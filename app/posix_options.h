// The command line in the usual POSIX form, for the program built for Linux: the same settings as
// the Windows switches give, named by options instead of found by substring search.
#pragma once

#include <string>

#include "app/settings.h"

namespace fwu {

enum class OptionsAction {
  kRun,         // run with the settings
  kHelp,        // print the usage and end with 0
  kVersion,     // print the version and end with 0
  kUsageError,  // print the error and the usage hint and end without touching anything
};

struct ParsedOptions {
  OptionsAction action = OptionsAction::kRun;
  ProgramSettings settings;
  std::string error;  // for kUsageError: what was wrong, in one line
};

// Reads the arguments after the program's name (argv[1] to argv[argc - 1]), left to right:
//   -s, --silent       silent mode (no question, no notice; the notice flag goes off)
//   --log FILE, --log=FILE
//                      append the log to FILE, the path taken whole as given
//   -h, --help         usage;  --version: version
//   --                 ends the options
// The first --help, --version or error met ends the reading. Any other argument, an empty FILE, a
// FILE longer than kMaxLogPath and a --log without FILE are usage errors; a later --log replaces
// an earlier one.
ParsedOptions parse_posix_options(int argc, const char* const* argv);

// The exit status that stands for a result code: a POSIX parent sees only the low 8 bits of a
// status, so each code is given as those, which keeps every code apart (1001 is 233, 1003 235,
// 1004 236, 1005 237, 1007 239; 0 and 1 stay) and apart from the usage error's 2.
int posix_exit_status(int result_code);

// The usage text that --help prints.
const char* posix_usage();

}  // namespace fwu
