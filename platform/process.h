// The process itself.
#pragma once

namespace platform {

// The complete command line as the process was started, program name included.
const char* command_line();

// Whether this is a 32-bit process on 64-bit Windows. False where the question does not apply or
// cannot be answered.
bool is_wow64_process();

}  // namespace platform
