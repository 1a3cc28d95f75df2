// Files: the log file appended line by line, directories, and whole-file reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

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

enum class AppendOpen {
  kOpened,
  kMissingDirectory,  // a directory on the path does not exist (ENOENT)
  kFailed,            // anything else: no rights, held open by another process, ...
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

  // Opens `path` (mode "a+", no sharing). `*result` tells why it is not open.
  static AppendFile open(const char* path, AppendOpen* result);

  bool is_open() const { return impl_ != nullptr; }
  // Writes `text` and a line end, every "\n" inside it also as CR LF, then flushes.
  bool write_line(const char* text);

  struct Impl;

 private:
  explicit AppendFile(Impl* impl) : impl_(impl) {}
  void close();
  Impl* impl_ = nullptr;
};

enum class ReadFileResult {
  kRead,
  kCannotOpen,
  kTooLarge,  // 4 GiB or more
  kNoMemory,
  kReadFailed,
};

struct FileContents {
  std::unique_ptr<char[]> data;
  size_t size = 0;
};

// Reads the whole file `name` (relative names are taken from the current directory), opened for
// reading with read sharing. `contents` holds the bytes on success and nothing otherwise.
ReadFileResult read_whole_file(const char* name, FileContents* contents);

}  // namespace platform
