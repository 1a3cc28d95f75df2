// The inventory record: after a successful update, up to two registry values that mup.xml in the
// current directory names. Without the file nothing is written and nothing is reported.
#pragma once

#include <cstdint>

#include "platform/file_system.h"

namespace fwu {

// The largest mup.xml that is read: far above any real package's, far below what could exhaust
// memory.
constexpr uint64_t kMaxMupSize = 1 << 20;

// The current directory, opened once when the run starts and held to its end: mup.xml is read
// from this handle minutes later, so no name is looked up again meanwhile. Not open when the
// current directory cannot be opened.
platform::HeldFile hold_current_directory();

// Reads mup.xml in `current_directory` as plain text (fixed, case-sensitive tags; no XML parsing)
// and sets the default value of the key it names, and of the display key it names, under the
// local-machine root. A file that a standard user may have written or redirected, or one over
// kMaxMupSize, is not read: one line says why. A reparse point that is no link (a cloud file, a
// deduplicated file) is read through its filter, and must still be the same file. A value that
// cannot be set logs "Registry key inventory failed."; every other failure ends the step quietly.
// Never changes the outcome of the run.
void write_inventory_record(const platform::HeldFile& current_directory);

}  // namespace fwu
