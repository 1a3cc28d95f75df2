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

bool is_separator(char c) {
  return c == '\\' || c == '/';
}

// Where a path starts, as the user gave it: "\\?\UNC\server\share\", "\\?\C:\",
// "\\server\share\", "C:\", "C:" (that drive's current directory) or "\" (the current
// drive's root). 0 for a path relative to the current directory.
size_t start_length(std::string_view path) {
  auto after_separator = [&](size_t from, int names) {
    for (size_t i = from; i < path.size(); ++i) {
      if (is_separator(path[i]) && --names == 0) return i + 1;
    }
    return path.size();
  };
  if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    bool local = path.size() >= 4 && (path[2] == '?' || path[2] == '.') && is_separator(path[3]);
    if (!local) return after_separator(2, 2);  // \\server\share\ .
    if (path.substr(4, 4) == "UNC\\") return after_separator(8, 2);
    return after_separator(4, 1);  // \\?\C:\ , or a device's name
  }
  if (path.size() >= 2 && path[1] == ':') return path.size() >= 3 && is_separator(path[2]) ? 3 : 2;
  return !path.empty() && is_separator(path[0]) ? 1 : 0;
}

// The log path as the walk takes it: where it starts, and the names below, the last one the
// file's. "." and ".." are taken as Windows takes them, by the names alone, before any lookup;
// ".." at the front of a relative path belongs to the start, chosen by whoever started the
// program, like the current directory itself.
struct LogPath {
  std::string start;
  std::vector<std::string> names;
};

LogPath split(const std::string& path) {
  size_t length = start_length(path);
  LogPath parts{length == 0 ? "." : path.substr(0, length), {}};
  size_t begin = length;
  for (size_t i = length; i <= path.size(); ++i) {
    if (i < path.size() && !is_separator(path[i])) continue;
    std::string name = path.substr(begin, i - begin);
    begin = i + 1;
    if (name.empty() || name == ".") continue;
    if (name != "..") {
      parts.names.push_back(std::move(name));
    } else if (!parts.names.empty()) {
      parts.names.pop_back();
    } else if (length == 0) {
      parts.start = parts.start == "." ? ".." : parts.start + "\\..";
    }
  }
  return parts;
}

enum class Step {
  kOpened,
  kRefused,  // something a standard user may have planted is on the path
  kFailed,   // it cannot be opened or judged now: this line is lost
};

// A link on the path leads on only when no account but the trusted ones can change it: anyone
// who may write to a directory may turn it into a mount point, whoever owns it. `Held` is a held
// directory or file.
template <typename Held>
Step judge_link(const Held& link, const platform::HeldFile& directory, ObjectKind kind) {
  platform::Security security;
  if (!link.security(&security)) return Step::kFailed;
  TrustedAccounts accounts = TrustedAccounts::of_this_process();
  FileVerdict verdict = judge_security(security, kind, accounts);
  if (verdict != FileVerdict::kTrusted) return Step::kRefused;
  // Holding a POSIX link keeps nobody from replacing it, and it is followed by its name: whoever
  // may change the directory it sits in decides where it leads.
  if (!security.has_posix) return Step::kOpened;
  platform::Security around;
  if (!directory.security(&around)) return Step::kFailed;
  verdict = judge_security(around, ObjectKind::kDirectory, accounts);
  return verdict == FileVerdict::kTrusted ? Step::kOpened : Step::kRefused;
}

// Opens the directory `name` in the last held one, creating it there when it is missing, and
// holds it. A link there is held itself and followed only when trusted; a reparse point of
// another kind (a cloud file placeholder folder) is an ordinary directory.
Step step_into(const std::string& name, std::vector<platform::HeldFile>* held) {
  const platform::HeldFile& parent = held->back();
  platform::OpenResult result;
  platform::HeldFile directory = parent.open_directory(name.c_str(), false, &result);
  if (result == platform::OpenResult::kNotFound) {
    directory = parent.create_directory(name.c_str(), &result);
  }
  platform::FileFacts facts;
  if (!directory.is_open() || !directory.facts(&facts)) return Step::kFailed;
  if (!facts.reparse_point || !platform::is_link(facts.reparse_tag)) {
    held->push_back(std::move(directory));
    return Step::kOpened;
  }
  Step judged = judge_link(directory, parent, ObjectKind::kDirectory);
  if (judged != Step::kOpened) return judged;
  // The link stays held, so that nobody replaces it while the program goes on through it.
  platform::HeldFile target = parent.open_directory(name.c_str(), true, &result);
  if (!target.is_open()) return Step::kFailed;
  held->push_back(std::move(directory));
  held->push_back(std::move(target));
  return Step::kOpened;
}

bool same_object(const platform::FileFacts& a, const platform::FileFacts& b) {
  return a.volume == b.volume && a.index == b.index;
}

// The log file, and the link it was reached through, held until the line is written.
struct LogFile {
  platform::AppendFile file;
  platform::AppendFile link;
};

// Opens the log file in the last held directory. A link there is followed only when trusted, as
// on the rest of the path, and never creates its target. A reparse point of another kind is
// opened again through it, since only its filter shows the file's bytes as they are, and must
// still be the same file. The file at the end must have one name: another name could be a file
// that a standard user chose.
Step open_log_file(const std::string& name, const std::vector<platform::HeldFile>& held,
                   LogFile* log) {
  platform::OpenResult result;
  platform::AppendFile& file = log->file;
  file = platform::AppendFile::open(held.back(), name.c_str(), &result);
  platform::FileFacts facts;
  if (!file.is_open() || !file.facts(&facts)) return Step::kFailed;
  if (facts.reparse_point) {
    bool link = platform::is_link(facts.reparse_tag);
    if (link) {
      Step judged = judge_link(file, held.back(), ObjectKind::kFile);
      if (judged != Step::kOpened) return judged;
      // Held, so that nobody replaces it while the program goes on through it.
      log->link = std::move(file);
    }
    platform::FileFacts reparse_point = facts;
    file = platform::AppendFile();
    file = platform::AppendFile::open_through_reparse_point(held.back(), name.c_str(), &result);
    if (!file.is_open() || !file.facts(&facts)) return Step::kFailed;
    if (!link && !same_object(facts, reparse_point)) return Step::kRefused;
  }
  return facts.links == 1 ? Step::kOpened : Step::kRefused;
}

// Walks the path by handle: the start by its name, each name below it in the directory held
// before it, so that after the start nothing is looked up by its whole name again. Everything
// stays held until the line is written: while held, nothing on the path can be renamed, moved or
// deleted.
Step append_line(const std::string& path, const char* text) {
  LogPath parts = split(path);
  if (parts.names.empty()) return Step::kFailed;  // no file name
  std::vector<platform::HeldFile> held;
  platform::OpenResult result;
  held.push_back(platform::HeldFile::open_start(parts.start.c_str(), &result));
  if (!held.back().is_open()) return Step::kFailed;
  for (size_t i = 0; i + 1 < parts.names.size(); ++i) {
    Step step = step_into(parts.names[i], &held);
    if (step != Step::kOpened) return step;
  }
  LogFile log;
  Step step = open_log_file(parts.names.back(), held, &log);
  if (step == Step::kOpened) log.file.write_line(text);
  return step;
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
  if (append_line(s.log_path, text) == Step::kRefused) g_path_refused = true;
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
