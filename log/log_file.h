// The optional log file: each line appended on its own (open, write, flush, close), with the
// run framed by UTC stamps. Nothing here ever fails the run or reports a failure.
#pragma once

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace fwu {

// Longest formatted log line; longer text is cut to it.
constexpr size_t kMaxLogLine = 16383;

// Formats printf-style and appends the text as one line (CR LF ends, also for "\n" inside it) to
// the log named on the command line; does nothing when no log is named. The path is walked by
// handle from where it starts, creating the directories that are missing. A link on it that an
// account other than the trusted ones can change, or a log file that is a link or has more than
// one name, turns the log off for the rest of the run: nothing is created or written. Any other
// failure (a directory that cannot be opened or made, a file another process writes to or has an
// oplock on) loses this line only; a reader that lets others write costs nothing.
void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "Executed " and the current UTC time.
void start_stamp();
// "Completed " and the current UTC time.
void end_stamp();

// The log path as the walk takes it: where it starts (opened by its name) and the names below it,
// the last one the file's, each opened in the directory before it. No names: the path names no
// file, and nothing is opened or created.
struct LogPath {
  std::string start;
  std::vector<std::string> names;
};
LogPath split_log_path(const std::string& path, platform::PathGrammar grammar);

// Turns the log back on after a refused path, as in a new process. For tests.
void reset_log_for_test();

// "YYYY/MM/DD hh:mm:ss".
std::string format_stamp(const platform::UtcTime& time);

}  // namespace fwu
