#include "platform/linux/logic/sysfs_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/linux/logic/unique_fd.h"

namespace platform::sysfs {

bool read_attribute(const std::string& path, std::string* text, size_t limit) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  std::string result(limit + 1, '\0');
  size_t total = 0;
  while (total <= limit) {
    ssize_t got = read(fd.get(), result.data() + total, result.size() - total);
    if (got < 0) return false;
    if (got == 0) break;
    total += static_cast<size_t>(got);
  }
  if (total > limit) return false;
  result.resize(total);
  *text = std::move(result);
  return true;
}

bool write_attribute(const std::string& path, const std::string& text) {
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (!fd.valid()) return false;
  ssize_t written = write(fd.get(), text.data(), text.size());
  return written >= 0 && static_cast<size_t>(written) == text.size();
}

bool resolve(const std::string& path, std::string* resolved) {
  char buffer[PATH_MAX];
  if (realpath(path.c_str(), buffer) == nullptr) return false;
  *resolved = buffer;
  return true;
}

std::string base_name(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

}  // namespace platform::sysfs
