// How the pieces of the simulated machine are put back to their power-on state.
#pragma once

#include <cstdint>

#include "platform/file_system.h"

namespace sim {

void reset_clock();
void reset_ui();
void reset_process();
void reset_files();
void reset_file_security();
void reset_run_mutex();
void reset_registry();
void reset_resource();
void reset_devices();

// What an open host file descriptor shows of its file: a host link is a reparse point, its hard
// links are its names. False when it cannot be told, or its model says the system cannot tell.
bool file_facts(int fd, platform::FileFacts* facts);

// Between the HID interfaces and the emulated touchpad behind them. A report reaches the
// touchpad only once the HID layer has let it through; false when the device fails the call
// (no power, a fault).
bool touchpad_set_feature(const uint8_t* report, uint32_t length);
bool touchpad_get_feature(uint8_t* report, uint32_t length);
// The touchpad starts: at a reset, at power-up, when its transport device starts it.
void touchpad_boot();
// At power-up the touchpad's interfaces appear again.
void reappear_touchpad_interfaces();

}  // namespace sim
