#include "log/log_file.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "app/settings.h"
#include "platform/file_system.h"

namespace fwu {

namespace {

// Creates every directory named by the path up to one of its backslashes, left to right. The
// first character is never taken as a directory (a path may start with a backslash), and
// failures are ignored: the directory may exist, or be a drive name.
void create_directories(const std::string& path) {
  for (size_t i = path.find('\\', 1); i != std::string::npos; i = path.find('\\', i + 1)) {
    platform::create_directory(path.substr(0, i).c_str());
  }
}

void append_line(const std::string& path, const char* text) {
  platform::AppendOpen result;
  platform::AppendFile file = platform::AppendFile::open(path.c_str(), &result);
  if (!file.is_open() && result == platform::AppendOpen::kMissingDirectory) {
    create_directories(path);
    file = platform::AppendFile::open(path.c_str(), &result);
  }
  if (file.is_open()) file.write_line(text);
}

}  // namespace

void log_line(const char* format, ...) {
  const ProgramSettings& s = settings();
  if (!s.log_enabled || s.log_path.empty()) return;

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

std::string format_stamp(const platform::UtcTime& time) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", time.year, time.month, time.day,
                time.hour, time.minute, time.second);
  return text;
}

}  // namespace fwu
