#include <cerrno>
#include <ctime>

#include "platform/clock.h"

namespace platform {

UtcTime utc_now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  gmtime_r(&now.tv_sec, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

void sleep_ms(uint32_t ms) {
  // To an end fixed on the monotonic clock, so that a signal or a change of the wall clock
  // neither shortens nor lengthens the wait.
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);
  end.tv_sec += static_cast<time_t>(ms / 1000);
  end.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (end.tv_nsec >= 1000000000L) {
    end.tv_sec += 1;
    end.tv_nsec -= 1000000000L;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &end, nullptr) == EINTR) {
  }
}

// Linux times its sleeps with high-resolution timers: there is no coarse tick to make finer.
FineTimer::FineTimer() : active_(true) {}
FineTimer::~FineTimer() = default;

}  // namespace platform
