// The inventory record: after a successful update, up to two registry values that mup.xml in the
// current directory names. Without the file nothing is written and nothing is reported.
#pragma once

#include <cstdint>

namespace fwu {

// The largest mup.xml that is read: far above any real package's, far below what could exhaust
// memory.
constexpr uint64_t kMaxMupSize = 1 << 20;

// Reads mup.xml as plain text (fixed, case-sensitive tags; no XML parsing) and sets the default
// value of the key it names, and of the display key it names, under the local-machine root.
// A file that a standard user may have written or redirected, or one over kMaxMupSize, is not
// read: one line says why. A value that cannot be set logs "Registry key inventory failed.";
// every other failure ends the step quietly. Never changes the outcome of the run.
void write_inventory_record();

}  // namespace fwu
