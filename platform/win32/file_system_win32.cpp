#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
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

// The owner of a handle that an open returned; the open has told why when there is none.
HeldFile::Impl* held(HANDLE handle) {
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
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
  // The 128-bit file ID where the file system has one; where it refuses the class (FAT, older
  // systems), the 64-bit index and the 32-bit serial number that every file system gives.
  FILE_ID_INFO id{};
  if (GetFileInformationByHandleEx(handle, FileIdInfo, &id, sizeof id)) {
    uint64_t halves[2];
    static_assert(sizeof halves == sizeof id.FileId.Identifier);
    std::memcpy(halves, id.FileId.Identifier, sizeof halves);
    facts->volume = id.VolumeSerialNumber;
    facts->index = halves[0];
    facts->index_high = halves[1];
  } else {
    facts->volume = info.dwVolumeSerialNumber;
    facts->index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    facts->index_high = 0;
  }
  return true;
}

constexpr ULONG kFileRemoteDevice = 0x10;  // FILE_REMOTE_DEVICE, a volume characteristic
constexpr NTSTATUS kOplockBreakInProgress = 0x00000108;  // STATUS_OPLOCK_BREAK_IN_PROGRESS

// A name from the command line or the program, in the 8-bit code page the ANSI functions use.
bool to_wide(const char* name, std::wstring* wide) {
  int length = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (length <= 0) return false;
  wide->assign(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide->data(), length) != length) return false;
  wide->pop_back();  // the terminating zero; a counted string has none
  return true;
}

HANDLE open_by(OBJECT_ATTRIBUTES* attributes, ACCESS_MASK access, ULONG share, ULONG disposition,
               ULONG options, OpenResult* result);

// NtCreateFile of `name` in the held directory `parent`: nothing of the path above it is looked
// up again, and a directory that is not open opens nothing. An empty name opens `parent` itself
// once more.
HANDLE open_in(const HeldFile::Impl* parent, const char* name, ACCESS_MASK access, ULONG share,
               ULONG disposition, ULONG options, OpenResult* result) {
  std::wstring wide;
  if (parent == nullptr || !to_wide(name, &wide) || wide.size() * sizeof(wchar_t) > 0xFFFE) {
    *result = OpenResult::kFailed;
    return INVALID_HANDLE_VALUE;
  }
  auto bytes = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
  UNICODE_STRING object_name{bytes, bytes, wide.data()};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &object_name, OBJ_CASE_INSENSITIVE, parent->handle.get(),
                             nullptr);
  return open_by(&attributes, access, share, disposition, options, result);
}

// NtCreateFile of what `attributes` name. FILE_COMPLETE_IF_OPLOCKED makes an open that would have
// to wait for another process to acknowledge an oplock break return at once; the program then
// gives that open up, so that no other process can make it wait.
HANDLE open_by(OBJECT_ATTRIBUTES* attributes, ACCESS_MASK access, ULONG share, ULONG disposition,
               ULONG options, OpenResult* result) {
  IO_STATUS_BLOCK status{};
  HANDLE handle = nullptr;
  NTSTATUS opened = win32::system_dll::NtCreateFile(
      &handle, access | SYNCHRONIZE, attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
      disposition, options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED, nullptr, 0);
  if (opened == kOplockBreakInProgress) {
    CloseHandle(handle);
    *result = OpenResult::kNotAllowed;
    return INVALID_HANDLE_VALUE;
  }
  if (opened < 0) {
    *result = open_failure(win32::system_dll::RtlNtStatusToDosError(opened));
    return INVALID_HANDLE_VALUE;
  }
  *result = OpenResult::kOpened;
  return handle;
}

// Passing through and reading attributes is all a walk needs, and all a folder may grant. Traverse
// is a right that share modes govern (as execute), so holding it keeps out an opener that would
// delete or rename the directory; reading attributes alone would not.
constexpr ACCESS_MASK kDirectoryAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
constexpr ULONG kDirectorySharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// What _fsopen(path, "a+", _SH_DENYWR) asks for. The handle then goes to the C runtime in append
// text mode, so the bytes written stay those of "a+".
AppendFile::Impl* append_to(HANDLE handle, OpenResult* result) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_TEXT);
  if (fd == -1) {
    CloseHandle(handle);
    *result = OpenResult::kFailed;
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "a+");
  if (stream == nullptr) {
    _close(fd);
    *result = OpenResult::kFailed;
    return nullptr;
  }
  return new AppendFile::Impl{stream, handle};
}

// The file `name` in `directory` opened to be appended to, shared with readers (someone tailing
// the log costs no line) but with no other writer and nobody who would delete or rename it.
AppendFile::Impl* open_to_append(const HeldFile::Impl* directory, const char* name,
                                 ULONG disposition, ULONG options, OpenResult* result) {
  HANDLE handle = open_in(directory, name, FILE_GENERIC_READ | FILE_GENERIC_WRITE, FILE_SHARE_READ,
                          disposition, options | FILE_NON_DIRECTORY_FILE, result);
  return handle == INVALID_HANDLE_VALUE ? nullptr : append_to(handle, result);
}

}  // namespace

PathGrammar path_grammar() {
  return PathGrammar::kWindows;
}

FsRedirection disable_fs_redirection() {
  FsRedirection state;
  state.disabled = Wow64DisableWow64FsRedirection(&state.previous) != FALSE;
  return state;
}

void revert_fs_redirection(const FsRedirection& state) {
  if (state.disabled) Wow64RevertWow64FsRedirection(state.previous);
}

void AppendFile::close() {
  if (impl_ == nullptr) return;
  std::fclose(impl_->stream);
  delete impl_;
  impl_ = nullptr;
}

AppendFile AppendFile::open(const HeldFile& directory, const char* name, OpenResult* result) {
  return AppendFile(
      open_to_append(directory.impl_, name, FILE_OPEN_IF, FILE_OPEN_REPARSE_POINT, result));
}

AppendFile AppendFile::open_through_reparse_point(const HeldFile& directory, const char* name,
                                                  OpenResult* result) {
  return AppendFile(open_to_append(directory.impl_, name, FILE_OPEN, 0, result));
}

bool AppendFile::facts(FileFacts* facts) const {
  return impl_ != nullptr && facts_of(impl_->handle, facts);
}

bool AppendFile::security(Security* security) const {
  return impl_ != nullptr && win32::read_security(impl_->handle, SE_FILE_OBJECT, security);
}

bool AppendFile::write_line(const char* text) {
  if (impl_ == nullptr) return false;
  bool written = std::fprintf(impl_->stream, "%s\n", text) >= 0;
  return std::fflush(impl_->stream) == 0 && written;
}

HeldFile HeldFile::open_start(const char* name, OpenResult* result) {
  // By the name the user gave, with what Windows makes of it (a drive, a share, a mapped drive,
  // the current directory): the one lookup of the path by name. Windows' own conversion turns it
  // into the system's name, so that the open, like every other, completes at once under an oplock.
  std::wstring wide;
  UNICODE_STRING nt_name{};
  if (!to_wide(name, &wide) || win32::system_dll::RtlDosPathNameToNtPathName_U_WithStatus(
                                   wide.c_str(), &nt_name, nullptr, nullptr) < 0) {
    *result = OpenResult::kFailed;
    return HeldFile();
  }
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &nt_name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  HANDLE handle = open_by(&attributes, kDirectoryAccess, kDirectorySharing, FILE_OPEN,
                          FILE_DIRECTORY_FILE, result);
  win32::system_dll::RtlFreeUnicodeString(&nt_name);
  return HeldFile(held(handle));
}

HeldFile HeldFile::open_directory(const char* name, bool follow, OpenResult* result) const {
  ULONG options = FILE_DIRECTORY_FILE | (follow ? 0 : FILE_OPEN_REPARSE_POINT);
  return HeldFile(
      held(open_in(impl_, name, kDirectoryAccess, kDirectorySharing, FILE_OPEN, options, result)));
}

HeldFile HeldFile::create_directory(const char* name, OpenResult* result) const {
  // Made and opened in one call: nobody can put anything in its place in between.
  return HeldFile(held(open_in(impl_, name, kDirectoryAccess, kDirectorySharing, FILE_OPEN_IF,
                               FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, result)));
}

HeldFile HeldFile::open_file_to_read(const char* name, OpenResult* result) const {
  return HeldFile(held(open_in(impl_, name, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, result)));
}

HeldFile HeldFile::open_file_to_read_through_reparse_point(const char* name,
                                                           OpenResult* result) const {
  return HeldFile(held(open_in(impl_, name, GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE, result)));
}

HeldFile HeldFile::hold_name(const char* name, OpenResult* result) const {
  // Reading data is a right that share modes govern: a handle with attributes alone would keep
  // nobody from deleting or renaming the file.
  return HeldFile(held(open_in(impl_, name, FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                               FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, result)));
}

void HeldFile::close() {
  delete impl_;
  impl_ = nullptr;
}

bool HeldFile::facts(FileFacts* facts) const {
  return impl_ != nullptr && facts_of(impl_->handle.get(), facts);
}

bool HeldFile::security(Security* security) const {
  // The held object opened once more, through its own handle (no name is looked up), for the one
  // right that reading its owner and access list needs; shared for everything, since it neither
  // reads nor writes the data.
  OpenResult result;
  win32::ScopedHandle reader(open_in(impl_, "", READ_CONTROL,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     FILE_OPEN, FILE_OPEN_REPARSE_POINT, &result));
  return reader.is_valid() && win32::read_security(reader.get(), SE_FILE_OBJECT, security);
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
