#include "platform/sim/sim.h"

#include "platform/sim/sim_internal.h"

namespace sim {

void reset() {
  reset_clock();
  reset_ui();
  reset_process();
  reset_files();
  reset_file_security();
  reset_run_mutex();
  reset_devices();
  reset_registry();
  reset_resource();
}

}  // namespace sim
