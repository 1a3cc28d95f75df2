// The simulated machine's clock, here the real time of the process: the program waits with
// Wine's own Sleep, and the touchpad's busy times run against the same clock.
#include <windows.h>

#include "platform/sim/sim.h"

namespace sim {

namespace {

uint64_t elapsed_ms() {
  static LARGE_INTEGER frequency{};
  static LARGE_INTEGER start{};
  if (frequency.QuadPart == 0) {
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
  }
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>((now.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
}

}  // namespace

Clock& clock() {
  static Clock* made = new Clock;
  made->now_ms = elapsed_ms();
  return *made;
}

}  // namespace sim
