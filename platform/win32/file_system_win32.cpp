#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/file_system.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/security_win32.h"
#include "platform/win32/system_dlls.h"

struct platform::AppendFile::Impl {
  std::FILE* stream = nullptr;  // owns `handle`
  HANDLE handle = nullptr;
};

struct platform::HeldFile::Impl {
  win32::ScopedHandle handle;
};

namespace platform {

namespace {

// The errors that the C runtime reports as ENOENT: the name, or a directory on its way, is not
// there.
bool is_not_found(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NO_MORE_FILES:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return true;
    default:
      return false;
  }
}

OpenResult open_failure(DWORD error) {
  if (is_not_found(error)) return OpenResult::kNotFound;
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
      error == ERROR_LOCK_VIOLATION) {
    return OpenResult::kNotAllowed;
  }
  return OpenResult::kFailed;
}

HeldFile::Impl* held(HANDLE handle, OpenResult* result) {
  if (handle == INVALID_HANDLE_VALUE) {
    *result = open_failure(GetLastError());
    return nullptr;
  }
  *result = OpenResult::kOpened;
  return new HeldFile::Impl{win32::ScopedHandle(handle)};
}

bool facts_of(HANDLE handle, FileFacts* facts) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  facts->reparse_point = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  facts->reparse_tag = 0;
  if (facts->reparse_point) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag)) {
      return false;
    }
    facts->reparse_tag = tag.ReparseTag;
  }
  facts->links = info.nNumberOfLinks;
  facts->size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  return true;
}

constexpr ULONG kFileRemoteDevice = 0x10;  // FILE_REMOTE_DEVICE, a volume characteristic

}  // namespace

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

AppendFile AppendFile::open(const char* path, OpenResult* result) {
  // What _fsopen(path, "a+", _SH_DENYRW) asks for, with the reparse point at the end of the path
  // opened itself rather than followed. The handle then goes to the C runtime in append text
  // mode, so the bytes written stay those of "a+".
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *result = open_failure(GetLastError());
    return AppendFile();
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_TEXT);
  if (fd == -1) {
    CloseHandle(handle);
    *result = OpenResult::kFailed;
    return AppendFile();
  }
  std::FILE* stream = _fdopen(fd, "a+");
  if (stream == nullptr) {
    _close(fd);
    *result = OpenResult::kFailed;
    return AppendFile();
  }
  *result = OpenResult::kOpened;
  return AppendFile(new Impl{stream, handle});
}

bool AppendFile::facts(FileFacts* facts) const {
  return impl_ != nullptr && facts_of(impl_->handle, facts);
}

bool AppendFile::write_line(const char* text) {
  if (impl_ == nullptr) return false;
  bool written = std::fprintf(impl_->stream, "%s\n", text) >= 0;
  return std::fflush(impl_->stream) == 0 && written;
}

HeldFile HeldFile::open_to_read(const char* name, OpenResult* result) {
  int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (length <= 0) {
    *result = OpenResult::kFailed;
    return HeldFile();
  }
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), length);
  return HeldFile(held(
      CreateFileW(wide.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
      result));
}

HeldFile HeldFile::open_directory(const char* path, OpenResult* result) {
  // Listing is a right that share modes govern, so holding it keeps out an opener that would
  // delete or rename the directory; reading its owner needs READ_CONTROL.
  return HeldFile(
      held(CreateFileA(path, FILE_LIST_DIRECTORY | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr),
           result));
}

void HeldFile::close() {
  delete impl_;
  impl_ = nullptr;
}

bool HeldFile::facts(FileFacts* facts) const {
  return impl_ != nullptr && facts_of(impl_->handle.get(), facts);
}

bool HeldFile::security(Security* security) const {
  return impl_ != nullptr && win32::read_security(impl_->handle.get(), SE_FILE_OBJECT, security);
}

bool HeldFile::on_network_volume(bool* remote) const {
  if (impl_ == nullptr) return false;
  IO_STATUS_BLOCK status{};
  FILE_FS_DEVICE_INFORMATION device{};
  if (win32::system_dll::NtQueryVolumeInformationFile(impl_->handle.get(), &status, &device,
                                                      sizeof device, FileFsDeviceInformation) < 0) {
    return false;
  }
  *remote = (device.Characteristics & kFileRemoteDevice) != 0 ||
            device.DeviceType == FILE_DEVICE_NETWORK_FILE_SYSTEM;
  return true;
}

bool HeldFile::read(char* data, size_t size) const {
  if (impl_ == nullptr || size > MAXDWORD) return false;
  DWORD read = 0;
  return ReadFile(impl_->handle.get(), data, static_cast<DWORD>(size), &read, nullptr) &&
         read == size;
}

}  // namespace platform
