// Shows, under Wine or Windows, that the program's stack protector runtime does its work: built
// with the program's hardening (cmake/hardening.cmake) and its own entry point and canary
// (platform/win32/entry/stack_guard.cpp). Without an argument it runs itself once per case, as a
// child, and judges each child by its whole exit code (a Linux shell sees only the low 8 bits):
//   - a copy that stays inside a stack buffer returns normally (so the cases below fail for the
//     reason they name, not because every child dies);
//   - a copy past the end of a stack buffer ends with the fast-fail status: the canary is checked
//     (without the check the overwritten return address would fault instead, or the copy return);
//   - a memcpy past the end of a static buffer, whose size the compiler knows, ends the same way:
//     _FORTIFY_SOURCE's checked copy and our __chk_fail (no canary is near a static buffer);
//   - the canary is seeded: never zero, its first byte zero, and different in two processes.
// Prints one line per case; exit status 0 when every case passed.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/win32/entry/stack_guard.h"

namespace {

char g_static_buffer[16];
char g_source[256];

// Copies `length` bytes into a stack buffer of 16. The empty asm hides from the compiler where
// `target` points, so that it neither warns nor drops the copy.
[[gnu::noinline]] void copy_to_stack(std::size_t length) {
  char buffer[16];
  char* target = buffer;
  asm volatile("" : "+r"(target));
  for (std::size_t i = 0; i < length; ++i) target[i] = g_source[i];
  asm volatile("" : : "r"(buffer) : "memory");
}

// A copy of `length` bytes into a static buffer of 16, through the checked memcpy.
[[gnu::noinline]] void copy_to_static(std::size_t length) {
  std::memcpy(g_static_buffer, g_source, length);
  asm volatile("" : : "r"(g_static_buffer) : "memory");
}

struct Child {
  DWORD status = 0;
  std::string output;
  bool ran = false;
};

// Runs this program with `arguments`, its standard output in a pipe; waits for its end.
Child run_child(const char* arguments) {
  Child child;
  char self[MAX_PATH];
  if (GetModuleFileNameA(nullptr, self, MAX_PATH) == 0) return child;
  std::string command_line = std::string("\"") + self + "\" " + arguments;

  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0)) return child;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  const BOOL created = CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
  CloseHandle(write_end);
  if (created) {
    char chunk[256];
    DWORD got = 0;
    while (ReadFile(read_end, chunk, sizeof chunk, &got, nullptr) && got > 0) {
      child.output.append(chunk, got);
    }
    // Its standard output is in text mode: one line, without its end, is what is judged.
    while (!child.output.empty() && (child.output.back() == '\n' || child.output.back() == '\r')) {
      child.output.pop_back();
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    child.ran = GetExitCodeProcess(process.hProcess, &child.status) != FALSE;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(read_end);
  return child;
}

int g_failures = 0;

void expect(bool condition, const char* what, const Child& child) {
  std::printf("%s: %s (exit status 0x%08lX, output \"%s\")\n", condition ? "passed" : "FAILED",
              what, child.status, child.output.c_str());
  if (!condition) ++g_failures;
}

bool failed_fast(const Child& child) {
  return child.ran && child.status == platform::win32::stack_guard::kFailureStatus &&
         child.output.find("returned") == std::string::npos;
}

bool returned(const Child& child) {
  return child.ran && child.status == 0 && child.output == "returned";
}

// The canary a child printed, or 0.
std::uint64_t guard_of(const Child& child) {
  return child.ran && child.status == 0 ? std::strtoull(child.output.c_str(), nullptr, 16) : 0;
}

int judge() {
  const Child inside = run_child("stack 16");
  expect(returned(inside), "a copy inside a stack buffer returns", inside);
  const Child past = run_child("stack 64");
  expect(failed_fast(past), "a copy past a stack buffer ends the process with a fast fail", past);
  const Child fits = run_child("static 16");
  expect(returned(fits), "a checked memcpy that fits returns", fits);
  const Child over = run_child("static 17");
  expect(failed_fast(over), "a checked memcpy one byte too long ends the process with a fast fail",
         over);

  const Child first = run_child("guard");
  const Child second = run_child("guard");
  const std::uint64_t a = guard_of(first);
  const std::uint64_t b = guard_of(second);
  expect(a != 0 && (a & 0xff) == 0, "the canary is seeded, its first byte zero", first);
  expect(b != 0 && (b & 0xff) == 0 && a != b, "another process has another canary", second);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::memset(g_source, 'A', sizeof g_source);
  if (argc == 1) return judge();
  const std::string what = argv[1];
  if (what == "guard") {
    std::printf("%016llx\n", static_cast<unsigned long long>(__stack_chk_guard));
    return 0;
  }
  if (argc != 3) return 2;
  const std::size_t length = std::strtoul(argv[2], nullptr, 10);
  if (length > sizeof g_source) return 2;
  if (what == "stack") {
    copy_to_stack(length);
  } else if (what == "static") {
    copy_to_static(length);
  } else {
    return 2;
  }
  std::printf("returned\n");
  return 0;
}
