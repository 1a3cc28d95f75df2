// User mode's side of the control path (control.h): the test's tools and the stand-ins of the
// configuration manager ask the bus driver through these.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testing/wine/touchpad_driver/control.h"

namespace touchpad_control {

// True when the bus driver's control device opens: the driver is loaded and its bus started.
bool bus_answers();

// One request to the bus driver, with room for `room` bytes of answer. False when the bus cannot
// be reached or refuses the request.
bool ask(uint32_t code, const void* in, uint32_t in_size, std::vector<char>* out,
         uint32_t room = 4096);

// Sets the machine up from `options` (kSetUp). False when the bus cannot be reached; otherwise
// *accepted tells whether it took them, and *why, when not, the reason it gave.
bool set_up(const std::string& options, bool* accepted, std::string* why);

// One configuration-manager call on the device node of `instance_id`.
bool node_call(const wchar_t* instance_id, NodeCall call, NodeAnswer* answer);

bool transport_state(TransportState* state);

enum class Settled { kSettled, kNoBus, kTimedOut };

// Waits up to `ms` milliseconds, polling, until the touchpad's transport device is as the machine
// has it and Wine has done its part: removed the one that left, started the one plugged in
// (TransportState::settling), and, when `shown` is given, until `shown` holds for that state as
// well (the tool adds the HID interface that Wine makes above it). *last: the state seen last.
Settled wait_until_settled(uint32_t ms, bool (*shown)(const TransportState&) = nullptr,
                           TransportState* last = nullptr);

}  // namespace touchpad_control
