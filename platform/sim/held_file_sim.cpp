// Files held open to be judged, and what the simulated machine knows of their security.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
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
  facts->volume = static_cast<uint64_t>(info.st_dev);
  facts->index = static_cast<uint64_t>(info.st_ino);
  return true;
}

bool file_security_of(int fd, platform::Security* security) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return false;
  const FileModel& model = model_of(info);
  if (model.unreadable || (model.granted & kReadControl) == 0) return false;
  *security = model.security;
  return true;
}

std::string leads_to(int directory_fd, const char* name) {
  struct stat info {};
  if (::fstatat(directory_fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return {};
  return model_of(info).leads_to;
}

void before_step(const std::string& step) {
  // Taken out first: the test may do what makes the program take this step again.
  std::function<void(const std::string&)> hook = files().before_step;
  if (hook) hook(step);
}

bool may_open(int directory_fd, const char* name, uint32_t rights, bool completes_at_once,
              platform::OpenResult* result) {
  struct stat info {};
  if (::fstatat(directory_fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return true;
  const FileModel& model = model_of(info);
  bool allowed = !model.not_allowed && (rights & ~model.granted) == 0;
  if (allowed && model.oplocked && !completes_at_once) {
    // The break is never acknowledged: Windows would wait for ever; the virtual clock gives up
    // after an hour, which no test lets pass unseen.
    platform::sleep_ms(3'600'000);
  }
  if (allowed && !model.oplocked) return true;
  *result = platform::OpenResult::kNotAllowed;
  return false;
}

namespace {

// Whether an open that uses and shares as `added` may join one that uses and shares as `there`.
bool compatible(const Sharing& there, const Sharing& added) {
  return (added.uses & ~there.shares) == 0 && (there.uses & ~added.shares) == 0;
}

int enter_open(std::pair<uint64_t, uint64_t> file, Sharing sharing) {
  for (const auto& [id, open] : g_file_security.opens) {
    if (open.file == file && !compatible(open.sharing, sharing)) return -1;
  }
  int id = g_file_security.next_open++;
  g_file_security.opens[id] = {file, sharing};
  return id;
}

}  // namespace

int hold_file(int fd, Sharing sharing) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return -1;
  int id = enter_open(file_key(info), sharing);
  if (id >= 0) ++g_file_security.open_files;
  return id;
}

void release_file(int open_id) {
  if (g_file_security.opens.erase(open_id) != 0) --g_file_security.open_files;
}

int open_by_another_process(const std::string& path, Sharing sharing) {
  struct stat info {};
  if (::lstat(host_path(path.c_str()).c_str(), &info) != 0) return -1;
  return enter_open(file_key(info), sharing);
}

void close_by_another_process(int id) {
  g_file_security.opens.erase(id);
}

namespace {

// Whether an open in a held directory takes `name` at all, as NTFS takes one name: as it is, a
// trailing dot or space and a device's name included, but never "." or "..", and none of the
// characters no name may hold. A backslash would make it a path below the directory, which the
// program never asks for; a colon would name a stream, which this machine does not have.
bool is_nt_name(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 ||
        std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool begin_step(const platform::HeldFile::Impl* parent, const char* verb, const char* name,
                std::string* path, platform::OpenResult* result) {
  if (parent == nullptr || !is_nt_name(name)) {
    *result = platform::OpenResult::kFailed;
    return false;
  }
  *path = child_path(parent->path, name);
  before_step(std::string(verb) + " " + *path);
  return true;
}

std::string child_path(const std::string& directory, const char* name) {
  if (directory == ".") return name;
  char last = directory.empty() ? '\\' : directory.back();
  return directory + (last == '\\' || last == '/' || last == ':' ? "" : "\\") + name;
}

bool rename_by_another_process(const std::string& from, const std::string& to) {
  // A rename opens the file for deleting, sharing everything: refused while any open of it does
  // not share its deletion.
  int id = open_by_another_process(from, {kShareDelete, kShareRead | kShareWrite | kShareDelete});
  if (id < 0) return false;
  close_by_another_process(id);
  return ::rename(host_path(from.c_str()).c_str(), host_path(to.c_str()).c_str()) == 0;
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

namespace platform {

namespace {

OpenResult open_failure() {
  if (errno == ENOENT) return OpenResult::kNotFound;
  if (errno == EACCES || errno == EPERM) return OpenResult::kNotAllowed;
  return OpenResult::kFailed;
}

// Whether Windows takes the last name of an ordinary path for a device, as every version up to
// Windows 10 does: whatever follows a dot and spaces before it left out, in any case.
bool names_a_device(std::string_view name) {
  name = name.substr(0, name.find('.'));
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  std::string upper(name);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const char* device : {"NUL", "CON", "AUX", "PRN"}) {
    if (upper == device) return true;
  }
  return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

// What Windows opens for a whole path it is given, as far as the simulated machine tells the
// difference: a path in the "\\?\" form as it is, with its prefix left out ("\\?\UNC\" is a
// share); any other with a single trailing dot dropped from each directory's name and every
// trailing dot and space from the last name; false when that last name is a device. ("." and
// ".." the host resolves alike, slashes it takes as separators.)
bool win32_path(std::string_view path, std::string* meant) {
  if (path.substr(0, 4) == "\\\\?\\") {
    *meant = path.substr(4, 4) == "UNC\\" ? "\\\\" + std::string(path.substr(8))
                                          : std::string(path.substr(4));
    return true;
  }
  bool device_form = path.substr(0, 4) == "\\\\.\\";
  if (device_form) path.remove_prefix(4);
  meant->clear();
  size_t begin = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
    std::string_view name = path.substr(begin, i - begin);
    bool dots = name == "." || name == "..";  // the host resolves them alike
    if (!dots && i == path.size()) {
      while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
      bool share = path.substr(0, 2) == "\\\\" || path.substr(0, 2) == "//";
      if (!device_form && !share && names_a_device(name)) return false;
    } else if (!dots && name.size() >= 2 && name.back() == '.' && name[name.size() - 2] != '.') {
      name.remove_suffix(1);
    }
    *meant += name;
    if (i < path.size()) *meant += '\\';
    begin = i + 1;
  }
  return true;
}

// The owner of a descriptor just opened, entered among the opens with `sharing`; none, with
// kNotAllowed, when an open already there refuses it.
HeldFile::Impl* held(int fd, std::string path, sim::Sharing sharing, OpenResult* result) {
  int id = sim::hold_file(fd, sharing);
  if (id < 0) {
    ::close(fd);
    *result = OpenResult::kNotAllowed;
    return nullptr;
  }
  return new HeldFile::Impl{fd, std::move(path), id};
}

// As the Windows backend opens them: a directory shared for reading and writing, never deleting;
// a file to read shared for reading; a name held for anyone's reading and writing.
constexpr sim::Sharing kDirectorySharing{sim::kShareRead, sim::kShareRead | sim::kShareWrite};
constexpr sim::Sharing kReadSharing{sim::kShareRead, sim::kShareRead};
constexpr sim::Sharing kNameSharing{sim::kShareRead, sim::kShareRead | sim::kShareWrite};

// Opens `name` in the directory `directory_fd` as `flags` say, or, when it is a link and is not
// to be followed, the link itself, as Windows opens a reparse point. Every open completes at once
// under an oplock, as the Windows backend's do.
int open_at(int directory_fd, const char* name, int flags, bool follow, uint32_t rights,
            OpenResult* result) {
  if (!sim::may_open(directory_fd, name, rights, true, result)) return -1;
  struct stat info {};
  if (!follow && ::fstatat(directory_fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(info.st_mode)) {
    flags = O_PATH | O_NOFOLLOW;
  } else if (!follow) {
    flags |= O_NOFOLLOW;
  }
  int fd = ::openat(directory_fd, name, flags | O_CLOEXEC, 0644);
  *result = fd >= 0 ? OpenResult::kOpened : open_failure();
  return fd;
}

}  // namespace

HeldFile HeldFile::open_start(const char* name, OpenResult* result) {
  sim::before_step(std::string("open ") + name);
  std::string meant;
  if (!win32_path(name, &meant)) {
    *result = OpenResult::kFailed;  // a device, which is no directory of this machine
    return HeldFile();
  }
  // Every drive and every share is there on the simulated machine, as directories below its
  // root: a path that starts at one never finds it missing.
  std::string host = sim::host_path(meant.c_str());
  if (meant != "." && meant != ".." && !meant.empty() && meant != "\\" && meant != "/") {
    std::error_code error;
    std::filesystem::create_directories(host, error);
  }
  if (!sim::may_open(AT_FDCWD, host.c_str(), sim::kRightsDirectory, true, result)) {
    return HeldFile();
  }
  int fd = ::open(host.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *result = open_failure();
    return HeldFile();
  }
  *result = OpenResult::kOpened;
  return HeldFile(held(fd, name, kDirectorySharing, result));
}

HeldFile HeldFile::open_directory(const char* name, bool follow, OpenResult* result) const {
  std::string path;
  if (!sim::begin_step(impl_, "open", name, &path, result)) return HeldFile();
  int fd = open_at(impl_->fd, name, O_PATH | O_DIRECTORY, follow, sim::kRightsDirectory, result);
  if (fd < 0) return HeldFile();  // a file where a directory is asked for fails (ENOTDIR)
  return HeldFile(held(fd, std::move(path), kDirectorySharing, result));
}

HeldFile HeldFile::create_directory(const char* name, OpenResult* result) const {
  std::string path;
  if (!sim::begin_step(impl_, "create", name, &path, result)) return HeldFile();
  sim::files().directory_attempts.push_back(path);
  // Made, or found made meanwhile, and opened in one step, as one NtCreateFile does it.
  if (::mkdirat(impl_->fd, name, 0755) != 0 && errno != EEXIST) {
    *result = open_failure();
    return HeldFile();
  }
  int fd = open_at(impl_->fd, name, O_PATH | O_DIRECTORY, false, sim::kRightsDirectory, result);
  if (fd < 0) return HeldFile();
  return HeldFile(held(fd, std::move(path), kDirectorySharing, result));
}

namespace {

// A file in `parent` opened as `flags` say, as the program opens a file to read or holds its name.
HeldFile::Impl* open_file(const HeldFile::Impl* parent, const char* verb, const char* name,
                          int flags, bool follow, uint32_t rights, sim::Sharing sharing,
                          OpenResult* result) {
  std::string path;
  if (!sim::begin_step(parent, verb, name, &path, result)) return nullptr;
  struct stat info {};
  if (::fstatat(parent->fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) {
    *result = OpenResult::kFailed;  // a directory opened as a file
    return nullptr;
  }
  int fd = -1;
  std::string leads_to = follow ? sim::leads_to(parent->fd, name) : std::string();
  if (leads_to.empty()) {
    fd = open_at(parent->fd, name, flags, follow, rights, result);
  } else if (sim::may_open(parent->fd, name, rights, true, result)) {
    fd = ::open(leads_to.c_str(), flags | O_CLOEXEC);
    *result = fd >= 0 ? OpenResult::kOpened : open_failure();
  }
  if (fd < 0) return nullptr;
  return held(fd, std::move(path), sharing, result);
}

}  // namespace

HeldFile HeldFile::open_file_to_read(const char* name, OpenResult* result) const {
  return HeldFile(
      open_file(impl_, "open", name, O_RDONLY, false, sim::kRightsRead, kReadSharing, result));
}

HeldFile HeldFile::open_file_to_read_through_reparse_point(const char* name,
                                                           OpenResult* result) const {
  return HeldFile(
      open_file(impl_, "open", name, O_RDONLY, true, sim::kRightsRead, kReadSharing, result));
}

HeldFile HeldFile::hold_name(const char* name, OpenResult* result) const {
  return HeldFile(
      open_file(impl_, "hold", name, O_RDONLY, false, sim::kRightsHoldName, kNameSharing, result));
}

void HeldFile::close() {
  if (impl_ == nullptr) return;
  sim::release_file(impl_->open_id);
  ::close(impl_->fd);
  delete impl_;
  impl_ = nullptr;
}

bool HeldFile::facts(FileFacts* facts) const {
  return impl_ != nullptr && sim::file_facts(impl_->fd, facts);
}

bool HeldFile::security(Security* security) const {
  return impl_ != nullptr && sim::file_security_of(impl_->fd, security);
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
