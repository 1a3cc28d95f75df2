// Files held open to be judged, and what the simulated machine knows of their security.
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

FileSecurity g_file_security;

std::pair<uint64_t, uint64_t> file_key(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// A file's security goes with the file, not with the name that reached it.
const FileModel& model_of(const struct stat& info) {
  auto found = g_file_security.by_file.find(file_key(info));
  return found != g_file_security.by_file.end() ? found->second : g_file_security.default_file;
}

}  // namespace

FileSecurity& file_security() {
  return g_file_security;
}

void reset_file_security() {
  g_file_security = FileSecurity{};
  // As Explorer leaves a file that an administrator unpacked into their own Downloads folder:
  // owned by that account, which holds full control beside SYSTEM and Administrators, all of it
  // inherited from the profile.
  platform::Security& security = g_file_security.default_file.security;
  security =
      locked_security(sid_administrator_user(), {allow(sid_administrator_user(), kAllRights)});
  for (platform::Ace& ace : security.dacl) ace.flags = kAceInherited;
}

bool file_facts(int fd, platform::FileFacts* facts) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || model_of(info).unreadable) return false;
  const FileModel& model = model_of(info);
  // A host link stands for a link-type reparse point; the model may give a plain file or
  // directory a reparse point of another kind.
  facts->reparse_tag = S_ISLNK(info.st_mode) && !platform::is_link(model.reparse_tag)
                           ? platform::kReparseTagSymlink
                           : model.reparse_tag;
  facts->reparse_point = facts->reparse_tag != 0;
  facts->links = static_cast<uint32_t>(info.st_nlink);
  facts->size = static_cast<uint64_t>(info.st_size);
  return true;
}

FileModel* file_model(const std::string& path) {
  struct stat info {};
  if (::lstat(host_path(path.c_str()).c_str(), &info) != 0) return nullptr;
  auto [entry, added] = g_file_security.by_file.try_emplace(file_key(info));
  if (added) entry->second = g_file_security.default_file;
  return &entry->second;
}

platform::Sid sid_system() {
  return {5, {18}};
}
platform::Sid sid_administrators() {
  return {5, {32, 544}};
}
platform::Sid sid_trusted_installer() {
  return {5, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}};
}
platform::Sid sid_users() {
  return {5, {32, 545}};
}
platform::Sid sid_authenticated_users() {
  return {5, {11}};
}
platform::Sid sid_standard_user() {
  return {5, {21, 1004336348, 1177238915, 682003330, 1001}};
}
platform::Sid sid_administrator_user() {
  return {5, {21, 1004336348, 1177238915, 682003330, 1000}};
}
platform::Sid sid_everyone() {
  return {1, {0}};
}
platform::Sid sid_creator_owner() {
  return {3, {0}};
}

platform::Ace allow(const platform::Sid& sid, uint32_t mask) {
  return {platform::AceType::kAllow, 0, mask, sid};
}

platform::Security locked_security(const platform::Sid& owner, std::vector<platform::Ace> more) {
  platform::Security security{true, owner, true, {}};
  security.dacl.push_back(allow(sid_system(), kAllRights));
  security.dacl.push_back(allow(sid_administrators(), kAllRights));
  for (platform::Ace& ace : more) security.dacl.push_back(std::move(ace));
  return security;
}

}  // namespace sim

struct platform::HeldFile::Impl {
  int fd = -1;  // the file, or the link itself (O_PATH) for a link
};

namespace platform {

namespace {

OpenResult open_failure() {
  if (errno == ENOENT || errno == ENOTDIR) return OpenResult::kNotFound;
  if (errno == EACCES || errno == EPERM) return OpenResult::kNotAllowed;
  return OpenResult::kFailed;
}

// Opens `path` as `flags` say, or, when it is a link, the link itself as Windows opens a reparse
// point.
HeldFile::Impl* open_held(const char* path, int flags, OpenResult* result) {
  std::string host = sim::host_path(path);
  struct stat info {};
  if (::lstat(host.c_str(), &info) != 0) {
    *result = open_failure();
    return nullptr;
  }
  // A directory opened as a file, as much as a file that its model keeps closed.
  if (sim::model_of(info).not_allowed || (flags == O_RDONLY && S_ISDIR(info.st_mode))) {
    *result = OpenResult::kNotAllowed;
    return nullptr;
  }
  if (S_ISLNK(info.st_mode)) flags = O_PATH;
  int fd = ::open(host.c_str(), flags | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    *result = open_failure();
    return nullptr;
  }
  *result = OpenResult::kOpened;
  ++sim::file_security().open_files;
  return new HeldFile::Impl{fd};
}

}  // namespace

HeldFile HeldFile::open_to_read(const char* name, OpenResult* result) {
  return HeldFile(open_held(name, O_RDONLY, result));
}

HeldFile HeldFile::open_directory(const char* path, OpenResult* result) {
  return HeldFile(open_held(path, O_PATH, result));
}

void HeldFile::close() {
  if (impl_ == nullptr) return;
  ::close(impl_->fd);
  --sim::file_security().open_files;
  delete impl_;
  impl_ = nullptr;
}

bool HeldFile::facts(FileFacts* facts) const {
  return impl_ != nullptr && sim::file_facts(impl_->fd, facts);
}

bool HeldFile::security(Security* security) const {
  struct stat info {};
  if (impl_ == nullptr || ::fstat(impl_->fd, &info) != 0) return false;
  const sim::FileModel& model = sim::model_of(info);
  if (model.unreadable) return false;
  *security = model.security;
  return true;
}

bool HeldFile::on_network_volume(bool* remote) const {
  struct stat info {};
  if (impl_ == nullptr || ::fstat(impl_->fd, &info) != 0) return false;
  *remote = sim::model_of(info).network_volume;
  return true;
}

bool HeldFile::read(char* data, size_t size) const {
  if (impl_ == nullptr) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(impl_->fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace platform
