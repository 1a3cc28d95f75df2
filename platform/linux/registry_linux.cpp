// The registry's stand-in: one store file under /var/lib that holds each key below the
// local-machine root with its default value (platform/linux/logic/value_store.h). A value is set
// by writing the whole store anew beside the old one and renaming it over it: a crash leaves the
// old store or the new one, never a mix.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/linux/logic/unique_fd.h"
#include "platform/linux/logic/value_store.h"
#include "platform/registry.h"

namespace platform {

namespace {

constexpr char kStoreDirectory[] = "/var/lib/talvex-fwupdate";
constexpr char kStoreName[] = "registry";
constexpr char kNewStoreName[] = "registry.new";
constexpr size_t kMaxStoreSize = 1 << 20;

struct Key {
  std::string path;
};

// The store's directory, made by root for root alone when it is missing, and never a link.
UniqueFd open_store_directory() {
  if (mkdir(kStoreDirectory, 0700) != 0 && errno != EEXIST) return UniqueFd();
  UniqueFd directory(open(kStoreDirectory, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!directory.valid() || fstat(directory.get(), &info) != 0 || info.st_uid != geteuid() ||
      (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return UniqueFd();
  }
  return directory;
}

// The store's text; an empty text when there is no store yet.
bool read_store(int directory, std::string* text) {
  UniqueFd file(openat(directory, kStoreName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!file.valid()) return errno == ENOENT;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(file.get(), buffer, sizeof buffer)) > 0) {
    text->append(buffer, static_cast<size_t>(got));
    if (text->size() > kMaxStoreSize) return false;
  }
  return got == 0;
}

bool write_all(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

bool replace_store(int directory, const std::string& text) {
  unlinkat(directory, kNewStoreName, 0);
  UniqueFd file(
      openat(directory, kNewStoreName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!file.valid()) return false;
  if (!write_all(file.get(), text) || fsync(file.get()) != 0) {
    unlinkat(directory, kNewStoreName, 0);
    return false;
  }
  file.reset();
  if (renameat(directory, kNewStoreName, directory, kStoreName) != 0) {
    unlinkat(directory, kNewStoreName, 0);
    return false;
  }
  return fsync(directory) == 0;
}

}  // namespace

void RegistryKey::close() {
  delete static_cast<Key*>(handle_);
  handle_ = nullptr;
}

// The key comes into the store with its first value; the rights do not apply to a file of root's.
RegistryKey RegistryKey::create(const char* path, uint32_t) {
  if (!store::is_storable(path)) return RegistryKey();
  return RegistryKey(new Key{path});
}

bool RegistryKey::set_default_value(const char* data, uint32_t size) {
  if (handle_ == nullptr) return false;
  // A string value's size counts its terminating zero.
  std::string value(data, size);
  if (!value.empty() && value.back() == '\0') value.pop_back();
  UniqueFd directory = open_store_directory();
  std::string text;
  std::string updated;
  return directory.valid() && read_store(directory.get(), &text) &&
         store::set_default_value(text, static_cast<Key*>(handle_)->path, value, &updated) &&
         replace_store(directory.get(), updated);
}

}  // namespace platform
