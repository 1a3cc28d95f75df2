#include <windows.h>

#include "platform/clock.h"
#include "platform/win32/system_dlls.h"

namespace platform {

UtcTime utc_now() {
  SYSTEMTIME time;
  GetSystemTime(&time);
  return {time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

void sleep_ms(uint32_t ms) {
  Sleep(ms);
}

FineTimer::FineTimer() : active_(win32::system_dll::timeBeginPeriod(1) == TIMERR_NOERROR) {}

FineTimer::~FineTimer() {
  if (active_) win32::system_dll::timeEndPeriod(1);
}

}  // namespace platform
