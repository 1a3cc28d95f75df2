// Takes first what the program needs and holds it until its input ends:
//   holder mutex SDDL [abandon]  the program's run mutex (its name; the security SDDL gives),
//                                taken; "abandon": the holder ends while holding it
//   holder file PATH             PATH opened for writing without sharing
//   holder read PATH             PATH opened for reading, sharing reading and writing, as a log
//                                viewer that follows a growing file opens it
// Prints "held" once it holds it, or why not; exit status 0, or 1 when it could not.
#include <windows.h>

// After windows.h, which it needs.
#include <sddl.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr wchar_t kRunMutexName[] =
    L"Global\\Talvex.FwUpdate.Run.{5B0E6C1A-93D4-4F27-8A61-2E7C0D9B4F13}";

int fail(const char* what) {
  std::printf("%s failed: error %lu\n", what, GetLastError());
  return 1;
}

// Until the test closes the holder's input.
void hold() {
  std::printf("held\n");
  std::fflush(stdout);
  char byte;
  DWORD read = 0;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), &byte, 1, &read, nullptr) && read != 0) {
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv);

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wcscmp(argv[1], L"mutex") == 0) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[2], SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
      return fail("ConvertStringSecurityDescriptorToSecurityDescriptorW");
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE mutex =
        CreateMutexExW(&attributes, kRunMutexName, CREATE_MUTEX_INITIAL_OWNER, MUTEX_ALL_ACCESS);
    LocalFree(descriptor);
    if (mutex == nullptr) return fail("CreateMutexExW");
    if (GetLastError() == ERROR_ALREADY_EXISTS) return fail("a new mutex");
    hold();
    if (argc >= 4 && std::wcscmp(argv[3], L"abandon") == 0) ExitProcess(0);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return 0;
  }
  if (argc >= 3 && std::wcscmp(argv[1], L"file") == 0) {
    HANDLE file = CreateFileW(argv[2], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fail("CreateFileW");
    hold();
    CloseHandle(file);
    return 0;
  }
  if (argc >= 3 && std::wcscmp(argv[1], L"read") == 0) {
    HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fail("CreateFileW");
    hold();
    CloseHandle(file);
    return 0;
  }
  std::printf("usage: holder mutex SDDL [abandon] | holder file PATH | holder read PATH\n");
  return 1;
}
