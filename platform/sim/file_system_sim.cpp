#include <fcntl.h>
#include <sys/file.h>
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
};

namespace platform {

// Linux has no redirection to switch off.
FsRedirection disable_fs_redirection() {
  return {};
}

void revert_fs_redirection(const FsRedirection&) {}

bool create_directory(const char* path) {
  sim::files().directory_attempts.push_back(path);
  return ::mkdir(sim::host_path(path).c_str(), 0755) == 0;
}

void AppendFile::close() {
  if (impl_ == nullptr) return;
  ::close(impl_->fd);
  delete impl_;
  impl_ = nullptr;
}

AppendFile AppendFile::open(const char* path, OpenResult* result) {
  std::string host = sim::host_path(path);
  int fd = ::open(host.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0 && errno == ELOOP) {
    // A link at the end of the path: opened itself, as Windows opens a reparse point.
    fd = ::open(host.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      *result = OpenResult::kOpened;
      return AppendFile(new Impl{fd});
    }
  }
  if (fd < 0) {
    *result = errno == ENOENT ? OpenResult::kNotFound : OpenResult::kFailed;
    return AppendFile();
  }
  // Stands for the Windows "no sharing" open: a file that another opener holds is refused.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    *result = OpenResult::kNotAllowed;
    return AppendFile();
  }
  *result = OpenResult::kOpened;
  return AppendFile(new Impl{fd});
}

bool AppendFile::facts(FileFacts* facts) const {
  return impl_ != nullptr && sim::file_facts(impl_->fd, facts);
}

bool AppendFile::write_line(const char* text) {
  if (impl_ == nullptr) return false;
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
