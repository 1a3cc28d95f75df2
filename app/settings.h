// The program settings: fixed once from the command line, read-only afterwards.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace fwu {

// The longest log path the program accepts (a 260-byte buffer with its terminating zero).
constexpr size_t kMaxLogPath = 259;

struct ProgramSettings {
  bool silent = false;       // no box of any kind; questions count as answered Yes
  bool notice = true;        // the background notice may run (never in silent mode)
  std::string log_path;      // at most kMaxLogPath characters
  bool log_enabled = false;  // exactly when a non-empty log path was cut
};

// The process-wide settings.
const ProgramSettings& settings();

// Sets the settings from the argument text (the command line after the program's name). Called
// once, before anything else runs. Both switches are found by case-sensitive substring search:
// "/S", "-S", "/s" or "-s" anywhere makes the run silent; "/vLOGFILE=" (or, only when that is
// absent, "/v LOGFILE=") names the log path. A path longer than kMaxLogPath leaves the log off.
void read_command_line(std::string_view argument_text);

// Fixes the settings from another reading of the command line (the POSIX options of the Linux
// program). Called once, before anything else runs, instead of read_command_line.
void use_settings(const ProgramSettings& settings);

// The argument text of a complete command line: what follows the program's name (a quoted name
// is skipped as a whole, an unquoted one ends at the first blank or tab) and the blanks and tabs
// after it.
std::string_view argument_text(std::string_view command_line);

// Puts the settings back to their initial values. For tests; the program never calls it.
void reset_settings_for_test();

}  // namespace fwu
