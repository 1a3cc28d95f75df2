// The inventory record: after a successful update, up to two registry values that mup.xml in the
// current directory names. Without the file nothing is written and nothing is reported.
#pragma once

namespace fwu {

// Reads mup.xml as plain text (fixed, case-sensitive tags; no XML parsing) and sets the default
// value of the key it names, and of the display key it names, under the local-machine root.
// A value that cannot be set logs "Registry key inventory failed."; every other failure ends the
// step quietly. Never changes the outcome of the run.
void write_inventory_record();

}  // namespace fwu
