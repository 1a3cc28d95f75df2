// User mode's side of the control path (control.h): the test's tool and the stand-ins of the
// configuration manager ask the bus driver through these.
#pragma once

#include <cstdint>
#include <vector>

#include "scripts/wine-touchpad/control.h"

namespace touchpad_control {

// True when the bus driver's control device opens: the driver is loaded and its bus started.
bool bus_answers();

// One request to the bus driver, with room for `room` bytes of answer. False when the bus cannot
// be reached or refuses the request.
bool ask(uint32_t code, const void* in, uint32_t in_size, std::vector<char>* out,
         uint32_t room = 4096);

// One configuration-manager call on the device node of `instance_id`.
bool node_call(const wchar_t* instance_id, NodeCall call, NodeAnswer* answer);

bool transport_state(TransportState* state);

// Waits up to `ms` milliseconds, polling, until Wine has added or removed the touchpad's
// transport device as the machine wants it. False when the bus cannot be reached or time ran out.
bool wait_until_settled(uint32_t ms);

}  // namespace touchpad_control
