// Files by descriptor: every name is opened in the directory held before it (openat), a link is
// never followed unless asked, and a file held open is judged by that same descriptor.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_system.h"
#include "platform/linux/logic/unique_fd.h"

struct platform::HeldFile::Impl {
  UniqueFd fd;  // the object itself, or the link itself (O_PATH) when a link was not followed
};

struct platform::AppendFile::Impl {
  UniqueFd fd;
};

namespace platform {

namespace {

OpenResult result_of(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return OpenResult::kNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
    case ETXTBSY:
      return OpenResult::kNotAllowed;
    default:
      return OpenResult::kFailed;
  }
}

// Opens `name` in `directory` with `flags`; a link at `name` when O_NOFOLLOW is among them is held
// itself, by an O_PATH descriptor that can be judged but not read or written through.
UniqueFd open_at(int directory, const char* name, int flags, mode_t mode, OpenResult* result) {
  UniqueFd fd(openat(directory, name, flags | O_CLOEXEC, mode));
  int error = errno;
  if (!fd.valid() && (flags & O_NOFOLLOW) != 0 && (error == ELOOP || error == ENOTDIR)) {
    UniqueFd link(openat(directory, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (link.valid() && fstat(link.get(), &info) == 0 && S_ISLNK(info.st_mode)) {
      *result = OpenResult::kOpened;
      return link;
    }
  }
  *result = fd.valid() ? OpenResult::kOpened : result_of(error);
  return fd;
}

// A directory, a regular file or a link: nothing else (a device, a pipe, a socket) is a file the
// program reads or writes.
bool read_facts(int fd, FileFacts* facts) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return false;
  if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) return false;
  *facts = FileFacts{};
  facts->reparse_point = S_ISLNK(info.st_mode);
  facts->reparse_tag = facts->reparse_point ? kReparseTagSymlink : 0;
  facts->links = static_cast<uint32_t>(info.st_nlink);
  facts->size = static_cast<uint64_t>(info.st_size);
  facts->volume = static_cast<uint64_t>(info.st_dev);
  facts->index = static_cast<uint64_t>(info.st_ino);
  return true;
}

// The owner, group and mode of what `fd` holds, and whether it has an access list beyond its mode
// (which the kernel keeps only when it says more than the mode does). A link has none.
bool read_security(int fd, Security* security) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return false;
  *security = Security{};
  security->has_posix = true;
  PosixAccess& access = security->posix;
  access.owner = static_cast<uint32_t>(info.st_uid);
  access.group = static_cast<uint32_t>(info.st_gid);
  access.mode = static_cast<uint32_t>(info.st_mode & 07777);
  access.link = S_ISLNK(info.st_mode);
  if (access.link) return true;
  if (fgetxattr(fd, "system.posix_acl_access", nullptr, 0) >= 0) {
    access.extended_acl = true;
  } else if (errno != ENODATA && errno != ENOTSUP) {
    return false;
  }
  return true;
}

bool is_regular(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// File systems whose owners and modes a server decides.
bool is_network_file_system(int64_t type) {
  constexpr int64_t kRemote[] = {
      0x6969,      // NFS
      0x517B,      // SMB
      0xFF534D42,  // CIFS
      0xFE534D42,  // SMB2
      0x65735546,  // FUSE, where sshfs and the like live
      0x00C36400,  // Ceph
      0x5346414F,  // AFS
      0x01021997,  // 9P
      0x47504653,  // GPFS
  };
  for (int64_t remote : kRemote) {
    if (type == remote) return true;
  }
  return false;
}

}  // namespace

FsRedirection disable_fs_redirection() {
  return {};
}

void revert_fs_redirection(const FsRedirection&) {}

HeldFile HeldFile::open_start(const char* name, OpenResult* result) {
  // The start of a POSIX path is the root or the current directory, or a run of ".." above it.
  std::string start = name;
  for (char& c : start) {
    if (c == '\\') c = '/';
  }
  if (start != "/" && start != "." && !start.starts_with("..")) {
    *result = OpenResult::kFailed;
    return HeldFile();
  }
  UniqueFd fd(open(start.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  *result = fd.valid() ? OpenResult::kOpened : result_of(errno);
  return fd.valid() ? HeldFile(new Impl{std::move(fd)}) : HeldFile();
}

HeldFile HeldFile::open_directory(const char* name, bool follow, OpenResult* result) const {
  if (impl_ == nullptr) {
    *result = OpenResult::kFailed;
    return HeldFile();
  }
  int flags = O_RDONLY | O_DIRECTORY | (follow ? 0 : O_NOFOLLOW);
  UniqueFd fd = open_at(impl_->fd.get(), name, flags, 0, result);
  return fd.valid() ? HeldFile(new Impl{std::move(fd)}) : HeldFile();
}

HeldFile HeldFile::create_directory(const char* name, OpenResult* result) const {
  if (impl_ == nullptr) {
    *result = OpenResult::kFailed;
    return HeldFile();
  }
  // The process's umask makes the default: 0755 for root's usual 022.
  if (mkdirat(impl_->fd.get(), name, 0777) != 0 && errno != EEXIST) {
    *result = result_of(errno);
    return HeldFile();
  }
  return open_directory(name, false, result);
}

HeldFile HeldFile::open_file_to_read(const char* name, OpenResult* result) const {
  if (impl_ == nullptr) {
    *result = OpenResult::kFailed;
    return HeldFile();
  }
  // Never waits on a pipe that nobody writes to.
  UniqueFd fd = open_at(impl_->fd.get(), name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, result);
  return fd.valid() ? HeldFile(new Impl{std::move(fd)}) : HeldFile();
}

bool HeldFile::facts(FileFacts* facts) const {
  return impl_ != nullptr && read_facts(impl_->fd.get(), facts);
}

bool HeldFile::security(Security* security) const {
  return impl_ != nullptr && read_security(impl_->fd.get(), security);
}

bool HeldFile::on_network_volume(bool* remote) const {
  struct statfs info {};
  if (impl_ == nullptr || fstatfs(impl_->fd.get(), &info) != 0) return false;
  *remote = is_network_file_system(static_cast<int64_t>(info.f_type));
  return true;
}

bool HeldFile::read(char* data, size_t size) const {
  if (impl_ == nullptr || !is_regular(impl_->fd.get())) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t got = pread(impl_->fd.get(), data + done, size - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

void HeldFile::close() {
  delete impl_;
  impl_ = nullptr;
}

AppendFile AppendFile::open(const HeldFile& directory, const char* name, OpenResult* result) {
  if (directory.impl_ == nullptr) {
    *result = OpenResult::kFailed;
    return AppendFile();
  }
  // Write-only: a pipe at the name then fails at once instead of taking the log's lines.
  int flags = O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK;
  UniqueFd fd = open_at(directory.impl_->fd.get(), name, flags, 0644, result);
  return fd.valid() ? AppendFile(new Impl{std::move(fd)}) : AppendFile();
}

AppendFile AppendFile::open_through_reparse_point(const HeldFile& directory, const char* name,
                                                  OpenResult* result) {
  if (directory.impl_ == nullptr) {
    *result = OpenResult::kFailed;
    return AppendFile();
  }
  UniqueFd fd(
      openat(directory.impl_->fd.get(), name, O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC));
  *result = fd.valid() ? OpenResult::kOpened : result_of(errno);
  return fd.valid() ? AppendFile(new Impl{std::move(fd)}) : AppendFile();
}

bool AppendFile::facts(FileFacts* facts) const {
  return impl_ != nullptr && read_facts(impl_->fd.get(), facts);
}

bool AppendFile::security(Security* security) const {
  return impl_ != nullptr && read_security(impl_->fd.get(), security);
}

// One write per line: with O_APPEND the line lands whole at the end, whoever else appends.
bool AppendFile::write_line(const char* text) {
  if (impl_ == nullptr || !is_regular(impl_->fd.get())) return false;
  std::string line = std::string(text) + '\n';
  size_t done = 0;
  while (done < line.size()) {
    ssize_t wrote = write(impl_->fd.get(), line.data() + done, line.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

void AppendFile::close() {
  delete impl_;
  impl_ = nullptr;
}

}  // namespace platform
