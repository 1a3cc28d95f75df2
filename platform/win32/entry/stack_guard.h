#pragma once
// The stack protector's runtime, the program's own (cmake/hardening.cmake): the canary that
// -fstack-protector-strong code compares before it returns, seeded at the image's entry point
// without loading anything, and the ends taken when a check fails. The names are the ones the
// compiler emits calls and loads for.

#include <cstdint>

extern "C" {

// Zero until the entry point seeds it; never zero after.
extern std::uintptr_t __stack_chk_guard;

// A function found its canary changed: the process ends at once, nothing unwound or run.
[[noreturn]] void __stack_chk_fail();

// A checked string or memory function (_FORTIFY_SOURCE) was asked to write past its object.
[[noreturn]] void __chk_fail();

// The image's entry points (the linker's --entry, chosen by cmake/hardening.cmake): each seeds the
// canary, then hands over to the C runtime's own entry for a windowed or a console program.
int fwu_start_windowed();
int fwu_start_console();
}

namespace platform::win32::stack_guard {

// The status a process ends with when a check fails: the one Windows gives a fast fail.
inline constexpr unsigned long kFailureStatus = 0xC0000409;  // STATUS_STACK_BUFFER_OVERRUN

}  // namespace platform::win32::stack_guard
