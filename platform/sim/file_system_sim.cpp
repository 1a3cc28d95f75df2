#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>

#include "platform/file_system.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {
Files g_files;
}

Files& files() {
  return g_files;
}

void reset_files() {
  g_files = Files{};
}

std::string host_path(const char* path) {
  // The simulated machine's root directory is the current one.
  std::string result = path[0] == '\\' || path[0] == '/' ? "." : "";
  for (const char* p = path; *p != '\0'; ++p) result += *p == '\\' ? '/' : *p;
  return result;
}

}  // namespace sim

struct platform::AppendFile::Impl {
  int fd = -1;
  std::string path;
  int open_id = -1;  // its entry among the opens that share modes weigh
};

namespace platform {

// Linux has no redirection to switch off.
// The simulated machine is a Windows machine.
PathGrammar path_grammar() {
  return PathGrammar::kWindows;
}

FsRedirection disable_fs_redirection() {
  return {};
}

void revert_fs_redirection(const FsRedirection&) {}

void AppendFile::close() {
  if (impl_ == nullptr) return;
  sim::release_file(impl_->open_id);
  ::close(impl_->fd);
  delete impl_;
  impl_ = nullptr;
}

namespace {

// Opens `name` in `directory` for appending, as the Windows backend does: shared for reading
// only, so that a file another process writes to (or may delete) is refused, while readers are
// not. A link at the name is opened itself unless `follow`, and then nothing is created.
AppendFile::Impl* open_append(const HeldFile::Impl* directory, const char* name, bool follow,
                              OpenResult* result) {
  std::string path;
  if (!sim::begin_step(directory, "open", name, &path, result)) return nullptr;
  if (!sim::may_open(directory->fd, name, sim::kRightsAppend, true, result)) return nullptr;
  struct stat info {};
  int fd = -1;
  std::string leads_to = follow ? sim::leads_to(directory->fd, name) : std::string();
  if (!follow && ::fstatat(directory->fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(info.st_mode)) {
    fd = ::openat(directory->fd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  } else if (!leads_to.empty()) {
    fd = ::open(leads_to.c_str(), O_RDWR | O_APPEND | O_CLOEXEC);
  } else {
    int flags = follow ? O_RDWR | O_APPEND : O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW;
    fd = ::openat(directory->fd, name, flags | O_CLOEXEC, 0644);
  }
  if (fd < 0) {
    *result = errno == ENOENT ? OpenResult::kNotFound : OpenResult::kFailed;
    return nullptr;
  }
  int id = sim::hold_file(fd, {sim::kShareRead | sim::kShareWrite, sim::kShareRead});
  if (id < 0) {
    ::close(fd);
    *result = OpenResult::kNotAllowed;
    return nullptr;
  }
  *result = OpenResult::kOpened;
  return new AppendFile::Impl{fd, std::move(path), id};
}

}  // namespace

AppendFile AppendFile::open(const HeldFile& directory, const char* name, OpenResult* result) {
  return AppendFile(open_append(directory.impl_, name, false, result));
}

AppendFile AppendFile::open_through_reparse_point(const HeldFile& directory, const char* name,
                                                  OpenResult* result) {
  return AppendFile(open_append(directory.impl_, name, true, result));
}

bool AppendFile::facts(FileFacts* facts) const {
  return impl_ != nullptr && sim::file_facts(impl_->fd, facts);
}

bool AppendFile::security(Security* security) const {
  return impl_ != nullptr && sim::file_security_of(impl_->fd, security);
}

bool AppendFile::write_line(const char* text) {
  if (impl_ == nullptr) return false;
  sim::before_step("write " + impl_->path);
  sim::record_event(std::string("log ") + text);
  // Text mode on Windows writes every line feed as CR LF; the bytes must match.
  std::string bytes;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') bytes += '\r';
    bytes += *p;
  }
  bytes += "\r\n";
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(impl_->fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace platform
