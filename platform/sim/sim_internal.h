// How the pieces of the simulated machine are put back to their power-on state.
#pragma once

namespace sim {

void reset_clock();
void reset_ui();
void reset_process();
void reset_files();
void reset_registry();
void reset_resource();

}  // namespace sim
