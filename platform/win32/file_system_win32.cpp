#include <share.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>
#include <utility>

#include "platform/file_system.h"
#include "platform/win32/scoped_handle.h"

struct platform::AppendFile::Impl {
  std::FILE* stream = nullptr;
};

namespace platform {

FsRedirection disable_fs_redirection() {
  FsRedirection state;
  state.disabled = Wow64DisableWow64FsRedirection(&state.previous) != FALSE;
  return state;
}

void revert_fs_redirection(const FsRedirection& state) {
  if (state.disabled) Wow64RevertWow64FsRedirection(state.previous);
}

bool create_directory(const char* path) {
  return CreateDirectoryA(path, nullptr) != FALSE;
}

void AppendFile::close() {
  if (impl_ == nullptr) return;
  std::fclose(impl_->stream);
  delete impl_;
  impl_ = nullptr;
}

AppendFile AppendFile::open(const char* path, AppendOpen* result) {
  errno = 0;
  std::FILE* stream = _fsopen(path, "a+", _SH_DENYRW);
  if (stream == nullptr) {
    *result = errno == ENOENT ? AppendOpen::kMissingDirectory : AppendOpen::kFailed;
    return AppendFile();
  }
  *result = AppendOpen::kOpened;
  return AppendFile(new Impl{stream});
}

bool AppendFile::write_line(const char* text) {
  if (impl_ == nullptr) return false;
  bool written = std::fprintf(impl_->stream, "%s\n", text) >= 0;
  return std::fflush(impl_->stream) == 0 && written;
}

ReadFileResult read_whole_file(const char* name, FileContents* contents) {
  *contents = FileContents{};
  int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (length <= 0) return ReadFileResult::kCannotOpen;
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), length);

  win32::ScopedHandle file(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.is_valid()) return ReadFileResult::kCannotOpen;
  DWORD high = 0;
  DWORD size = GetFileSize(file.get(), &high);
  if (size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return ReadFileResult::kReadFailed;
  if (high != 0) return ReadFileResult::kTooLarge;
  std::unique_ptr<char[]> data(new (std::nothrow) char[size == 0 ? 1 : size]);
  if (data == nullptr) return ReadFileResult::kNoMemory;
  SetFilePointer(file.get(), 0, nullptr, FILE_BEGIN);
  DWORD read = 0;
  if (!ReadFile(file.get(), data.get(), size, &read, nullptr) || read != size) {
    return ReadFileResult::kReadFailed;
  }
  *contents = FileContents{std::move(data), size};
  return ReadFileResult::kRead;
}

}  // namespace platform
