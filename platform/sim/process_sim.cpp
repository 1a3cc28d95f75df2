#include "platform/process.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {
Process g_process;
}

Process& process() {
  return g_process;
}

void reset_process() {
  g_process = Process{};
}

}  // namespace sim

namespace platform {

const char* command_line() {
  return sim::process().command_line.c_str();
}

bool is_wow64_process() {
  return sim::process().wow64;
}

bool process_user(Sid* user) {
  if (sim::process().user_unknown) return false;
  *user = sim::process().user;
  return true;
}

}  // namespace platform
