// Files: the log file appended line by line, directories, and files held open to be judged
// and read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "platform/security.h"

namespace platform {

// The state that `disable_fs_redirection` saved, for `revert_fs_redirection`.
struct FsRedirection {
  void* previous = nullptr;
  bool disabled = false;  // whether the switch-off succeeded
};

// Switches the file-system redirection of a 32-bit process on 64-bit Windows off for the calling
// thread. Where there is no such redirection, returns a state with `disabled` false.
FsRedirection disable_fs_redirection();
// Restores what `disable_fs_redirection` switched off; does nothing when it did not succeed.
void revert_fs_redirection(const FsRedirection& state);

// Creates one directory with default security. Returns false on any failure (it exists, the
// parent is missing, it is a drive name); callers that ignore failures may.
bool create_directory(const char* path);

// Why a file or directory is not open.
enum class OpenResult {
  kOpened,
  kNotFound,    // it, or a directory on its path, does not exist
  kNotAllowed,  // it exists but this process may not open it now: no access, or another
                // opener's sharing
  kFailed,      // anything else, such as a name that no file or directory can have
};

// What the core judges an open file or directory by, besides its security.
struct FileFacts {
  bool reparse_point = false;  // a symbolic link, junction, mount point or other reparse point
  uint32_t reparse_tag = 0;    // its kind, when it is one
  uint32_t links = 0;          // how many names (hard links) the file has
  uint64_t size = 0;
};

// Reparse tags of the kinds that stand for another name (mount points and junctions, symbolic
// links, and any later kind so marked) carry this bit; the others (a cloud file placeholder, a
// deduplicated file) keep the object where it is.
constexpr uint32_t kReparseTagNameSurrogate = 0x20000000;
constexpr uint32_t kReparseTagMountPoint = 0xA0000003;
constexpr uint32_t kReparseTagSymlink = 0xA000000C;

constexpr bool is_link(uint32_t reparse_tag) {
  return (reparse_tag & kReparseTagNameSurrogate) != 0;
}

// A file or directory held open: the object that its name names, never where a reparse point on
// it leads. Move-only owner.
class HeldFile {
 public:
  HeldFile() = default;
  HeldFile(HeldFile&& other) noexcept : impl_(std::exchange(other.impl_, nullptr)) {}
  HeldFile& operator=(HeldFile&& other) noexcept {
    if (this != &other) {
      close();
      impl_ = std::exchange(other.impl_, nullptr);
    }
    return *this;
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  ~HeldFile() { close(); }

  // Opens an existing file to read it and its security (relative names from the current
  // directory), shared for reading only: while it is held nobody writes, renames or deletes it.
  static HeldFile open_to_read(const char* name, OpenResult* result);
  // Opens a directory to look at it and its owner, shared for reading and writing but not for
  // deleting: while it is held it cannot be renamed, moved or deleted.
  static HeldFile open_directory(const char* path, OpenResult* result);

  bool is_open() const { return impl_ != nullptr; }
  // False when the system cannot tell.
  bool facts(FileFacts* facts) const;
  bool security(Security* security) const;
  // Whether the file lives on a volume that another computer serves.
  bool on_network_volume(bool* remote) const;
  // Reads `size` bytes from the start of a file just opened; false unless all of them came.
  bool read(char* data, size_t size) const;

  struct Impl;

 private:
  explicit HeldFile(Impl* impl) : impl_(impl) {}
  void close();
  Impl* impl_ = nullptr;
};

// A text file opened for appending with read access, creating it when absent, shared with no
// other opener for as long as it is open. Line ends are written as CR LF. Move-only owner.
class AppendFile {
 public:
  AppendFile() = default;
  AppendFile(AppendFile&& other) noexcept : impl_(std::exchange(other.impl_, nullptr)) {}
  AppendFile& operator=(AppendFile&& other) noexcept {
    if (this != &other) {
      close();
      impl_ = std::exchange(other.impl_, nullptr);
    }
    return *this;
  }
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile() { close(); }

  // Opens `path` (mode "a+", no sharing) without following a reparse point at its end: a link
  // there is opened itself, not created through. `*result` tells why it is not open
  // (kNotFound: a directory on the path does not exist).
  static AppendFile open(const char* path, OpenResult* result);

  bool is_open() const { return impl_ != nullptr; }
  // False when the system cannot tell.
  bool facts(FileFacts* facts) const;
  // Writes `text` and a line end, every "\n" inside it also as CR LF, then flushes.
  bool write_line(const char* text);

  struct Impl;

 private:
  explicit AppendFile(Impl* impl) : impl_(impl) {}
  void close();
  Impl* impl_ = nullptr;
};

}  // namespace platform
