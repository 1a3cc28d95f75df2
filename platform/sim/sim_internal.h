// How the pieces of the simulated machine are put back to their power-on state.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "platform/sim/sim.h"

// A file or directory the program holds: a host descriptor (O_PATH for a directory or a link),
// and the Windows path the program reached it by, for the record.
struct platform::HeldFile::Impl {
  int fd = -1;
  std::string path;
  int open_id = -1;  // its entry among the opens that share modes weigh
};

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
// The owner and access list of the file an open descriptor holds; false as for file_facts.
bool file_security_of(int fd, platform::Security* security);

// Tells the test of a step the program is about to take on the file system ("open PATH",
// "create PATH", "write PATH"), so that it may act as another process would at that moment.
void before_step(const std::string& step);
// Rights an open asks for, as the Windows backend asks for them: a directory passed through
// (traverse, read attributes), a file read, a log file appended to (read and write), a name held.
constexpr uint32_t kRightsDirectory = 0x000000A0;
constexpr uint32_t kRightsRead = 0x00120089;
constexpr uint32_t kRightsAppend = 0x0012019F;
constexpr uint32_t kRightsHoldName = 0x00000081;
constexpr uint32_t kReadControl = 0x00020000;
// Whether an open of `name` in `directory_fd` (AT_FDCWD: a path by itself) that asks for
// `rights` may go ahead: false, with kNotAllowed, when the model closes the file to the program,
// grants it less, or another process holds an oplock on it. An open that does not complete at
// once under an oplock first waits for the break, in virtual time, as long as Windows would.
bool may_open(int directory_fd, const char* name, uint32_t rights, bool completes_at_once,
              platform::OpenResult* result);
// Where an open through the reparse point at `name` in `directory_fd` leads instead of the file
// itself (a host path), or "" when it leads to the file.
std::string leads_to(int directory_fd, const char* name);
// Counts a descriptor the program holds, and enters its open among those that share modes weigh:
// its id, or -1 (nothing counted) when an open already there refuses it, as Windows refuses it
// with a sharing violation. `release_file` undoes it.
int hold_file(int fd, Sharing sharing);
void release_file(int open_id);
// The Windows path of `name` in the directory reached by `directory`.
std::string child_path(const std::string& directory, const char* name);
// The start of a step on `name` in the held directory `parent`: tells the test of it ("VERB
// PATH") and gives its path. False, with kFailed, when `parent` is not open.
bool begin_step(const platform::HeldFile::Impl* parent, const char* verb, const char* name,
                std::string* path, platform::OpenResult* result);

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
