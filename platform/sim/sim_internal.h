// How the pieces of the simulated machine are put back to their power-on state.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"

// A file or directory the program holds: a host descriptor (O_PATH for a directory or a link),
// and the Windows path the program reached it by, for the record.
struct platform::HeldFile::Impl {
  int fd = -1;
  std::string path;
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
// Whether another process's open may not go ahead now: the model says it is closed to the
// program, or holds an oplock that the open would have to break.
bool open_would_wait_or_fail(int directory_fd, const char* name);
// Counts a descriptor the program holds and, as its sharing does on Windows, keeps other
// processes from renaming what it holds; `release_file` undoes it.
void hold_file(int fd);
void release_file(int fd);
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
