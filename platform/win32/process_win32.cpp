#include <windows.h>

// After windows.h, which it needs.
#include <sddl.h>

#include "platform/process.h"
#include "platform/win32/scoped_handle.h"
#include "platform/win32/security_win32.h"

struct platform::RunMutex::Impl {
  win32::ScopedHandle handle;
};

namespace platform {

namespace {

// One name for every run on the machine, whatever session it runs in.
constexpr wchar_t kRunMutexName[] =
    L"Global\\Talvex.FwUpdate.Run.{5B0E6C1A-93D4-4F27-8A61-2E7C0D9B4F13}";

// Owned by Administrators, usable by SYSTEM and Administrators alone, and not widened by
// whatever the process's default would be: no standard user may open, hold or release it.
constexpr wchar_t kRunMutexSecurity[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

// Frees what ConvertStringSecurityDescriptorToSecurityDescriptorW allocated.
class Descriptor {
 public:
  Descriptor() {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kRunMutexSecurity, SDDL_REVISION_1,
                                                              &descriptor_, nullptr)) {
      descriptor_ = nullptr;
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { LocalFree(descriptor_); }
  PSECURITY_DESCRIPTOR get() const { return descriptor_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
};

}  // namespace

const char* command_line() {
  return GetCommandLineA();
}

bool is_wow64_process() {
  // Looked up at run time: a system without the function counts as not WOW64.
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE kernel32 = GetModuleHandleW(L"kernel32");
  if (kernel32 == nullptr) return false;
  FARPROC proc = GetProcAddress(kernel32, "IsWow64Process");
  if (proc == nullptr) return false;
  auto is_wow64 = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void (*)()>(proc));
  BOOL result = FALSE;
  return is_wow64(GetCurrentProcess(), &result) && result;
}

bool process_user(Sid* user) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  win32::ScopedHandle owned_token(token);
  // TOKEN_USER and the SID it points into; SECURITY_MAX_SID_SIZE bounds the SID.
  alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) return false;
  PSID sid = reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid;
  if (sid == nullptr || !IsValidSid(sid)) return false;
  *user = win32::to_sid(sid);
  return true;
}

RunMutex RunMutex::create_or_open(MutexOpen* result) {
  Descriptor descriptor;
  if (descriptor.get() == nullptr) {
    *result = MutexOpen::kFailed;
    return RunMutex();
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
  // Only the rights the program uses, so that an existing mutex opens whenever its access list
  // grants them.
  HANDLE handle = CreateMutexExW(&attributes, kRunMutexName, 0,
                                 SYNCHRONIZE | READ_CONTROL | MUTEX_MODIFY_STATE);
  if (handle == nullptr) {
    *result = MutexOpen::kFailed;
    return RunMutex();
  }
  *result = GetLastError() == ERROR_ALREADY_EXISTS ? MutexOpen::kExisting : MutexOpen::kCreated;
  return RunMutex(new Impl{win32::ScopedHandle(handle)});
}

bool RunMutex::security(Security* security) const {
  return impl_ != nullptr && win32::read_security(impl_->handle.get(), SE_KERNEL_OBJECT, security);
}

MutexWait RunMutex::wait() {
  if (impl_ == nullptr) return MutexWait::kFailed;
  DWORD waited = WaitForSingleObject(impl_->handle.get(), INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return MutexWait::kFailed;
  acquired_ = true;
  return waited == WAIT_ABANDONED ? MutexWait::kAbandoned : MutexWait::kAcquired;
}

void RunMutex::close() {
  if (impl_ == nullptr) return;
  if (acquired_) ReleaseMutex(impl_->handle.get());
  acquired_ = false;
  delete impl_;
  impl_ = nullptr;
}

}  // namespace platform
