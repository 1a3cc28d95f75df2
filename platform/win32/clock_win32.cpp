#include <windows.h>

#include "platform/clock.h"

namespace platform {

UtcTime utc_now() {
  SYSTEMTIME time;
  GetSystemTime(&time);
  return {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

void sleep_ms(uint32_t ms) {
  Sleep(ms);
}

}  // namespace platform
