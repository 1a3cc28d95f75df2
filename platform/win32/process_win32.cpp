#include <windows.h>

#include "platform/process.h"

namespace platform {

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

}  // namespace platform
