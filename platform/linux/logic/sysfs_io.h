// Reading and writing the kernel's sysfs attributes, one small call each. Paths are absolute
// sysfs paths; every write is checked whole.
#pragma once

#include <string>

namespace platform::sysfs {

// Where the kernel shows its devices on a running system.
inline constexpr char kRoot[] = "/sys";

// The attribute's text, at most `limit` bytes of it; false when it cannot be read or is longer.
bool read_attribute(const std::string& path, std::string* text, size_t limit = 4096);
// Writes `text` to the attribute in one write; false unless the kernel took all of it.
bool write_attribute(const std::string& path, const std::string& text);
// The path with every link resolved; false when it does not exist.
bool resolve(const std::string& path, std::string* resolved);
// The last name of a path.
std::string base_name(const std::string& path);
// Whether the path exists (a link is followed).
bool exists(const std::string& path);

}  // namespace platform::sysfs
