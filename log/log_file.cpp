#include "log/log_file.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "log/trust.h"
#include "platform/file_system.h"

namespace fwu {

namespace {

// Set once the log path was found to lead through something a standard user may have planted:
// the log stays off for the rest of the run, silently, as for every other log failure.
bool g_path_refused = false;

// "C:" (or "\\?\C:") names a drive, or its current directory, not a directory on the path; a
// drive's root is never a reparse point.
bool names_a_drive(std::string_view prefix) {
  return !prefix.empty() && prefix.back() == ':';
}

// Opens every existing directory that the path names before `end` (up to each separator after
// the first character: backslashes, as create_directories takes them, and also slashes, which
// Windows takes alike) and keeps it open in `held`: while it is held it cannot be renamed or
// replaced. False when one of them is a reparse point whose owner is not trusted, or exists but
// may not be opened, so cannot be judged. A prefix that does not exist, or names no directory
// (a server name), has nothing to judge.
bool hold_directories(const std::string& path, size_t end, std::vector<platform::HeldFile>* held) {
  held->clear();
  for (size_t i = path.find_first_of("\\/", 1); i != std::string::npos && i < end;
       i = path.find_first_of("\\/", i + 1)) {
    std::string directory = path.substr(0, i);
    if (names_a_drive(directory)) continue;
    platform::OpenResult result;
    platform::HeldFile held_directory =
        platform::HeldFile::open_directory(directory.c_str(), &result);
    if (result == platform::OpenResult::kNotAllowed) return false;
    if (!held_directory.is_open()) continue;
    if (!is_trusted_directory(held_directory)) return false;
    held->push_back(std::move(held_directory));
  }
  return true;
}

// Creates every directory named by the path up to one of its backslashes, left to right. The
// first character is never taken as a directory (a path may start with a backslash), and
// failures are ignored: the directory may exist, or be a drive name. Before each one, the
// directories above it are judged and held, so that none is made through a planted link; at the
// end `held` holds the whole path. False when a directory on the path is refused.
bool create_directories(const std::string& path, std::vector<platform::HeldFile>* held) {
  for (size_t i = path.find('\\', 1); i != std::string::npos; i = path.find('\\', i + 1)) {
    if (!hold_directories(path, i, held)) return false;
    platform::create_directory(path.substr(0, i).c_str());
  }
  return hold_directories(path, path.size(), held);
}

// The file itself must be no link and have no other name: either could make the program append
// to a file that a standard user chose.
bool is_plain_file(const platform::AppendFile& file) {
  platform::FileFacts facts;
  return file.facts(&facts) && !facts.reparse_point && facts.links == 1;
}

// The directories stay held until the line is written. The file is opened without following a
// reparse point at its end and judged from that handle before a byte is written.
void append_line(const std::string& path, const char* text) {
  std::vector<platform::HeldFile> held;
  if (!hold_directories(path, path.size(), &held)) {
    g_path_refused = true;
    return;
  }
  platform::OpenResult result;
  platform::AppendFile file = platform::AppendFile::open(path.c_str(), &result);
  if (!file.is_open() && result == platform::OpenResult::kNotFound) {
    if (!create_directories(path, &held)) {
      g_path_refused = true;
      return;
    }
    file = platform::AppendFile::open(path.c_str(), &result);
  }
  if (!file.is_open()) return;
  if (!is_plain_file(file)) {
    g_path_refused = true;
    return;
  }
  file.write_line(text);
}

}  // namespace

void log_line(const char* format, ...) {
  const ProgramSettings& s = settings();
  if (!s.log_enabled || s.log_path.empty() || g_path_refused) return;

  char text[kMaxLogLine + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);

  platform::FsRedirection redirection = platform::disable_fs_redirection();
  append_line(s.log_path, text);
  platform::revert_fs_redirection(redirection);
}

void start_stamp() {
  log_line("Executed %s", format_stamp(platform::utc_now()).c_str());
}

void end_stamp() {
  log_line("Completed %s", format_stamp(platform::utc_now()).c_str());
}

void reset_log_for_test() {
  g_path_refused = false;
}

std::string format_stamp(const platform::UtcTime& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  return text;
}

}  // namespace fwu
