#include "platform/win32/entry/stack_guard.h"

#include <windows.h>
#include <x86intrin.h>

// The runtime that MinGW would otherwise link (libssp) seeds the canary from CryptoAPI in a
// constructor, which loads a cryptographic provider before WinMain limits where DLLs come from.
// Here the canary is seeded from values kernel32 hands out without loading anything, at the
// image's entry point: before the C runtime starts, so before any function compiled with the
// stack protector is on the stack. A protected function that was entered with the old canary and
// returned with the new one would fail its check; none can have been entered yet. (The loader runs
// the image's TLS callbacks before the entry point: they are the C runtime's, which is built
// without the stack protector and calls nothing of ours there.) Every function in this file is
// built without the stack protector, the seeding one above all: it changes the value its own check
// would compare.

// The start of the image, placed by the linker: its address moves with ASLR.
extern "C" IMAGE_DOS_HEADER __ImageBase;

// The C runtime's entry points (MinGW's crtexe): they set the runtime up, run the constructors and
// call WinMain or main; neither returns.
extern "C" int WinMainCRTStartup();
extern "C" int mainCRTStartup();

std::uintptr_t __stack_chk_guard = 0;

namespace {

// The reasons a fast fail reports (winnt.h of the Windows SDK; MinGW's headers lack them).
constexpr unsigned kFastFailStackCookieCheckFailure = 2;
constexpr unsigned kFastFailRangeCheckFailure = 8;

// One value absorbed into the state: the finalizer of MurmurHash3, a bijection in which every bit
// of its input reaches every bit of its output. Mixing the state after each value means no value
// can cancel another (as plain XOR lets a thread ID undo a process ID), and the few unpredictable
// low bits of the counters spread over the whole word.
[[gnu::always_inline, gnu::no_stack_protector]] inline std::uint64_t absorb(std::uint64_t state,
                                                                            std::uint64_t value) {
  std::uint64_t x = state ^ value;
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return x;
}

[[gnu::always_inline, gnu::no_stack_protector]] inline void seed_stack_guard() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);

  std::uint64_t state = 0x6a09e667f3bcc909ULL;  // any odd start; the fractional bits of sqrt(2)
  state = absorb(state, (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
  state = absorb(state, (std::uint64_t{GetCurrentProcessId()} << 32) | GetCurrentThreadId());
  state = absorb(state, static_cast<std::uint64_t>(counter.QuadPart));
  state = absorb(state, __rdtsc());
  state = absorb(state, GetTickCount64());
  // Where the stack, the heap and the image were placed (ASLR).
  state = absorb(state, reinterpret_cast<std::uintptr_t>(&now));
  state = absorb(state, reinterpret_cast<std::uintptr_t>(GetProcessHeap()));
  state = absorb(state, reinterpret_cast<std::uintptr_t>(&__ImageBase));

  // The first byte in memory is zero, so that an overrun by a string copy, which stops at a zero,
  // cannot write the canary back. 56 bits stay unpredictable, and the canary is never zero.
  state &= ~std::uint64_t{0xff};
  if (state == 0) state = 0x5bd1e9955bd1e900ULL;
  __stack_chk_guard = state;
}

// A fast fail (the __fastfail intrinsic of Microsoft's compiler, which MinGW's headers lack):
// Windows ends the process at once with STATUS_STACK_BUFFER_OVERRUN, running no exception handler,
// no unwinding and no DLL detach; code that overwrote the stack gets nothing back. Should the
// instruction ever return, the process ends with the same status.
[[noreturn, gnu::always_inline, gnu::no_stack_protector]] inline void fail_fast(unsigned reason) {
  asm volatile("int $0x29" : : "c"(reason) : "memory");
  TerminateProcess(GetCurrentProcess(), platform::win32::stack_guard::kFailureStatus);
  __builtin_unreachable();
}

}  // namespace

extern "C" {

[[gnu::no_stack_protector]] void __stack_chk_fail() {
  fail_fast(kFastFailStackCookieCheckFailure);
}

[[gnu::no_stack_protector]] void __chk_fail() {
  fail_fast(kFastFailRangeCheckFailure);
}

[[gnu::no_stack_protector]] int fwu_start_windowed() {
  seed_stack_guard();
  return WinMainCRTStartup();
}

[[gnu::no_stack_protector]] int fwu_start_console() {
  seed_stack_guard();
  return mainCRTStartup();
}

}  // extern "C"
