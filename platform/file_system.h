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

// How the system reads a path. Windows: drive letters and shares, either slash separates, and a
// name loses its trailing dots and spaces or names a device. POSIX: one root, "/" alone
// separates, and every name means itself.
enum class PathGrammar { kWindows, kPosix };
PathGrammar path_grammar();

// Why a file or directory is not open.
enum class OpenResult {
  kOpened,
  kNotFound,    // it, or a directory on its path, does not exist
  kNotAllowed,  // it exists but this process may not open it now: no access, another opener's
                // sharing, or an oplock that another process holds and would first have to give
                // up (the open never waits for that)
  kFailed,      // anything else, such as a name that no file or directory can have
};

// What the core judges an open file or directory by, besides its security.
struct FileFacts {
  bool reparse_point = false;  // a symbolic link, junction, mount point or other reparse point
  uint32_t reparse_tag = 0;    // its kind, when it is one
  uint32_t links = 0;          // how many names (hard links) the file has
  uint64_t size = 0;
  // Which object it is: its volume's serial number and its file ID there (128 bits on volumes
  // that have such IDs, the upper half 0 elsewhere). Two handles with the same three hold the same
  // file or directory; two different files never have them all alike.
  uint64_t volume = 0;
  uint64_t index = 0;
  uint64_t index_high = 0;
};

constexpr bool same_object(const FileFacts& a, const FileFacts& b) {
  return a.volume == b.volume && a.index == b.index && a.index_high == b.index_high;
}

// Reparse tags of the kinds that stand for another name (mount points and junctions, symbolic
// links, and any later kind so marked) carry this bit; the others (a cloud file placeholder, a
// deduplicated file) keep the object where it is.
constexpr uint32_t kReparseTagNameSurrogate = 0x20000000;
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

  // Opens the directory that a path starts from, by the name the user gave it: a drive's root
  // ("C:\"), a share ("\\server\share\"), a drive's current directory ("C:"), the current
  // drive's root ("\") or the current directory ("."). Everything below it is opened from it.
  // Held as open_directory holds a directory.
  static HeldFile open_start(const char* name, OpenResult* result);

  // Opens the directory `name` (no separator in it) in this directory to pass through it and read
  // its attributes, and no more (a folder that grants only that is enough), shared for reading
  // and writing but not for deleting: while it is held it cannot be renamed, moved or deleted. A
  // reparse point at `name` is opened itself unless `follow`.
  HeldFile open_directory(const char* name, bool follow, OpenResult* result) const;
  // Creates the directory `name` in this directory with default security, or opens the one that
  // is there by then, and holds it as open_directory does without following.
  HeldFile create_directory(const char* name, OpenResult* result) const;
  // Opens the existing file `name` in this directory to read it and its security, shared for
  // reading only: while it is held nobody writes, renames or deletes it. A reparse point at
  // `name` is opened itself.
  HeldFile open_file_to_read(const char* name, OpenResult* result) const;
  // Opens the existing file `name` as open_file_to_read does, but through a reparse point at it:
  // what the reparse point's filter shows.
  HeldFile open_file_to_read_through_reparse_point(const char* name, OpenResult* result) const;
  // Holds the file `name` in this directory itself (a reparse point at it is not followed), shared
  // for reading and writing but not for deleting: while it is held, the name cannot be renamed,
  // deleted or given to another file, and others may still read and write the file.
  HeldFile hold_name(const char* name, OpenResult* result) const;

  bool is_open() const { return impl_ != nullptr; }
  // False when the system cannot tell.
  bool facts(FileFacts* facts) const;
  // Reads the owner and access list; only this asks for the right to read them.
  bool security(Security* security) const;
  // Whether the file lives on a volume that another computer serves.
  bool on_network_volume(bool* remote) const;
  // Reads `size` bytes from the start of a file just opened; false unless all of them came.
  bool read(char* data, size_t size) const;

  struct Impl;

 private:
  friend class AppendFile;
  explicit HeldFile(Impl* impl) : impl_(impl) {}
  void close();
  Impl* impl_ = nullptr;
};

// A text file opened for appending with read access, creating it when absent, shared for reading
// only for as long as it is open: readers may hold it, no other writer may. Line ends are written
// as CR LF. Move-only owner.
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

  // Opens the file `name` in `directory` (mode "a+", shared for reading), creating it when absent.
  // A reparse point at `name` is opened itself, not created through.
  static AppendFile open(const HeldFile& directory, const char* name, OpenResult* result);
  // Opens the existing file `name` in `directory` as `open` does, but through a reparse point at
  // it: what the reparse point's filter shows. Never creates anything.
  static AppendFile open_through_reparse_point(const HeldFile& directory, const char* name,
                                               OpenResult* result);

  bool is_open() const { return impl_ != nullptr; }
  // False when the system cannot tell.
  bool facts(FileFacts* facts) const;
  bool security(Security* security) const;
  // Writes `text` and a line end, every "\n" inside it also as CR LF, then flushes.
  bool write_line(const char* text);

  struct Impl;

 private:
  explicit AppendFile(Impl* impl) : impl_(impl) {}
  void close();
  Impl* impl_ = nullptr;
};

}  // namespace platform
