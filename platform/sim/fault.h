// Counted faults and the log of platform calls: how tests make one call of the simulated machine
// fail, and how they see which calls were made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// A counted fault on one kind of call. The first `pass` calls go through; then `fail` calls
// fail, or every later call when `forever` is set. A default Fault never fails.
struct Fault {
  uint32_t pass = 0;
  uint32_t fail = 0;
  bool forever = false;
  uint32_t calls = 0;  // calls seen since the fault was set (record)

  // The next `n` calls fail.
  static Fault next(uint32_t n) { return Fault{0, n, false}; }
  // Every call fails.
  static Fault always() { return Fault{0, 0, true}; }
  // The `n`th call (counting from 1) and every later one fail.
  static Fault from_nth(uint32_t n) { return Fault{n > 0 ? n - 1 : 0, 0, true}; }

  // Counts one call; true when that call must fail.
  bool hit() {
    ++calls;
    if (calls <= pass) return false;
    return forever || calls - pass <= fail;
  }
};

// Every platform call that the simulated HID and device-node functions made, by its Windows
// name ("HidD_SetFeature", "CM_Disable_DevNode", ...), in order.
struct CallLog {
  std::vector<std::string> names;

  size_t count(const std::string& name) const {
    size_t n = 0;
    for (const std::string& each : names) n += each == name ? 1 : 0;
    return n;
  }
};
CallLog& calls();

}  // namespace sim
