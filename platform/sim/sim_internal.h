// How the pieces of the simulated machine are put back to their power-on state.
#pragma once

#include <cstdint>

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

// The model of the file with this host device and inode number, or the default one.
struct FileModel;
const FileModel& file_model_of(uint64_t device, uint64_t inode);

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
