// Time and waiting.
#pragma once

#include <cstdint>

namespace platform {

// A calendar time in UTC, as the system clock gives it.
struct UtcTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The current time in UTC (never local time).
UtcTime utc_now();

// Blocks the calling thread for `ms` milliseconds. Every wait of the program goes through here.
// A wait never ends early; it may end up to one tick of the system timer late.
void sleep_ms(uint32_t ms);

// Holds the system timer at a 1 ms tick for as long as it lives, so that waits end within a
// millisecond of what was asked rather than up to a default tick (about 15.6 ms) late. Waits
// stay at least as long as asked either way. When the system refuses, nothing changes and the
// waits only take longer. One holder for the length of a run; not copied, not moved.
class FineTimer {
 public:
  FineTimer();
  ~FineTimer();
  FineTimer(const FineTimer&) = delete;
  FineTimer& operator=(const FineTimer&) = delete;

  // True when the finer tick was granted (and is given back when the holder goes).
  bool active() const { return active_; }

 private:
  bool active_ = false;
};

}  // namespace platform
