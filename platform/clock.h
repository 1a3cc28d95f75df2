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
void sleep_ms(uint32_t ms);

}  // namespace platform
