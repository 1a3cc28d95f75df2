#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "platform/linux/logic/unique_fd.h"
#include "platform/process.h"

struct platform::RunMutex::Impl {
  UniqueFd fd;
};

namespace platform {

namespace {

// Under /run, which only root may write to: nobody else can make or replace the file first.
constexpr char kRunLockPath[] = "/run/talvex-fwupdate.lock";

uint64_t monotonic_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

}  // namespace

const char* command_line() {
  static std::string text;
  if (!text.empty()) return text.c_str();
  UniqueFd fd(open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC));
  char buffer[4096];
  ssize_t got = 0;
  while (fd.valid() && (got = read(fd.get(), buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<size_t>(got));
  }
  while (!text.empty() && text.back() == '\0') text.pop_back();
  for (char& c : text) {
    if (c == '\0') c = ' ';
  }
  return text.c_str();
}

bool is_wow64_process() {
  return false;
}

bool process_user(Sid* user) {
  *user = unix_user_sid(static_cast<uint32_t>(geteuid()));
  return true;
}

RunMutex RunMutex::create_or_open(MutexOpen* result) {
  int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  UniqueFd fd(open(kRunLockPath, flags | O_CREAT | O_EXCL, 0600));
  *result = MutexOpen::kCreated;
  if (!fd.valid() && errno == EEXIST) {
    fd = UniqueFd(open(kRunLockPath, flags));
    *result = MutexOpen::kExisting;
  }
  struct stat info {};
  if (!fd.valid() || fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    *result = MutexOpen::kFailed;
    return RunMutex();
  }
  return RunMutex(new Impl{std::move(fd)});
}

// The lock file's owner, as a SID and as a POSIX owner, and its mode.
bool RunMutex::security(Security* security) const {
  struct stat info {};
  if (impl_ == nullptr || fstat(impl_->fd.get(), &info) != 0) return false;
  *security = Security{};
  security->has_owner = true;
  security->owner = unix_user_sid(static_cast<uint32_t>(info.st_uid));
  security->has_posix = true;
  security->posix.owner = static_cast<uint32_t>(info.st_uid);
  security->posix.group = static_cast<uint32_t>(info.st_gid);
  security->posix.mode = static_cast<uint32_t>(info.st_mode & 07777);
  return true;
}

MutexWait RunMutex::wait(uint32_t timeout_ms) {
  if (impl_ == nullptr) return MutexWait::kFailed;
  // A lock is released by the kernel when its holder ends, however it ends: none is abandoned.
  uint64_t deadline = monotonic_ms() + timeout_ms;
  while (flock(impl_->fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return MutexWait::kFailed;
    if (monotonic_ms() >= deadline) return MutexWait::kTimedOut;
    usleep(100 * 1000);
  }
  acquired_ = true;
  return MutexWait::kAcquired;
}

void RunMutex::close() {
  if (impl_ == nullptr) return;
  if (acquired_) flock(impl_->fd.get(), LOCK_UN);
  acquired_ = false;
  delete impl_;
  impl_ = nullptr;
}

}  // namespace platform
