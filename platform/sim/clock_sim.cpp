#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {
Clock g_clock;

platform::UtcTime from_time_t(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::time_t to_time_t(const platform::UtcTime& utc) {
  std::tm tm{};
  tm.tm_year = utc.year - 1900;
  tm.tm_mon = utc.month - 1;
  tm.tm_mday = utc.day;
  tm.tm_hour = utc.hour;
  tm.tm_min = utc.minute;
  tm.tm_sec = utc.second;
  return timegm(&tm);
}
}  // namespace

Clock& clock() {
  return g_clock;
}

void advance_ms(uint64_t ms) {
  g_clock.now_ms += ms;
  refresh_interfaces();  // devices that start in their own time
}

platform::UtcTime utc_after(const platform::UtcTime& base, uint64_t ms) {
  return from_time_t(to_time_t(base) + static_cast<std::time_t>(ms / 1000));
}

void reset_clock() {
  g_clock = Clock{};
  g_clock.utc_base = from_time_t(std::time(nullptr));
}

}  // namespace sim

namespace platform {

UtcTime utc_now() {
  return sim::utc_after(sim::clock().utc_base, sim::clock().now_ms);
}

void sleep_ms(uint32_t ms) {
  sim::Clock& clock = sim::clock();
  clock.waits.push_back(ms);
  sim::record_event("Sleep " + std::to_string(ms));
  clock.waited_ms += ms;
  clock.now_ms += ms;
  if (clock.fine_timer_holders == 0) ++clock.coarse_waits;
  if (clock.real_time) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  sim::refresh_interfaces();  // devices that start in their own time
}

}  // namespace platform

platform::FineTimer::FineTimer() : active_(true) {
  ++sim::clock().fine_timer_holders;
  ++sim::clock().fine_timer_grants;
}

platform::FineTimer::~FineTimer() {
  --sim::clock().fine_timer_holders;
}
