// The machine-wide mutex of the program's runs.
#include <functional>
#include <utility>

#include "platform/process.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {
RunMutex g_run_mutex;
}

RunMutex& run_mutex() {
  return g_run_mutex;
}

void reset_run_mutex() {
  g_run_mutex = RunMutex{};
}

platform::Security run_mutex_security() {
  return locked_security(sid_administrators());
}

}  // namespace sim

struct platform::RunMutex::Impl {};

namespace platform {

RunMutex RunMutex::create_or_open(MutexOpen* result) {
  sim::RunMutex& mutex = sim::run_mutex();
  if (mutex.fail) {
    sim::record_event("CreateMutexExW run failed");
    *result = MutexOpen::kFailed;
    return RunMutex();
  }
  bool exists = mutex.open_elsewhere || mutex.open_handles > 0;
  if (!exists) mutex.security = sim::run_mutex_security();
  *result = exists ? MutexOpen::kExisting : MutexOpen::kCreated;
  sim::record_event(exists ? "CreateMutexExW run: it exists" : "CreateMutexExW run");
  ++mutex.open_handles;
  return RunMutex(new Impl);
}

bool RunMutex::security(Security* security) const {
  if (impl_ == nullptr) return false;
  *security = sim::run_mutex().security;
  return true;
}

MutexWait RunMutex::wait(uint32_t timeout_ms) {
  sim::RunMutex& mutex = sim::run_mutex();
  if (impl_ == nullptr) return MutexWait::kFailed;
  ++mutex.waits;
  if (mutex.held_for_ever) {
    sim::advance_ms(timeout_ms);
    sim::record_event("WaitForSingleObject run: timed out");
    return MutexWait::kTimedOut;
  }
  if (mutex.other_run) {
    std::function<void()> other_run = std::exchange(mutex.other_run, nullptr);
    other_run();
    mutex.open_elsewhere = false;  // that process has ended
  }
  ++mutex.holders;
  acquired_ = true;
  sim::record_event("WaitForSingleObject run");
  return std::exchange(mutex.abandoned, false) ? MutexWait::kAbandoned : MutexWait::kAcquired;
}

void RunMutex::close() {
  if (impl_ == nullptr) return;
  sim::RunMutex& mutex = sim::run_mutex();
  if (acquired_) {
    --mutex.holders;
    sim::record_event("ReleaseMutex run");
  }
  acquired_ = false;
  --mutex.open_handles;
  delete impl_;
  impl_ = nullptr;
}

}  // namespace platform
