// The recorded sequence of events on the simulated machine (sim::events()), and how tests write
// down the sequence they expect: runs of lines with a repeat count, so that an update's 125 chunks
// read as one row.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "platform/sim/touchpad.h"

namespace fwu::testing {

struct Repeat {
  std::vector<std::string> lines;
  size_t times = 1;
};

// The lines of `runs`, each run repeated its number of times.
inline std::vector<std::string> expand(const std::vector<Repeat>& runs) {
  std::vector<std::string> lines;
  for (const Repeat& run : runs) {
    for (size_t i = 0; i < run.times; ++i)
      lines.insert(lines.end(), run.lines.begin(), run.lines.end());
  }
  return lines;
}

// Where `line` first occurs in the recorded sequence at or after `from`; npos when it does not.
inline size_t find_event(const std::string& line, size_t from = 0) {
  const std::vector<std::string>& lines = sim::events().lines;
  auto it = std::find(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())),
                      lines.end(), line);
  return it == lines.end() ? std::string::npos : static_cast<size_t>(it - lines.begin());
}

// The recorded sequence holds `lines` in this order (others may come between them).
inline ::testing::AssertionResult happen_in_order(const std::vector<std::string>& lines) {
  size_t at = 0;
  for (const std::string& line : lines) {
    size_t found = find_event(line, at);
    if (found == std::string::npos) {
      return ::testing::AssertionFailure() << "no \"" << line << "\" after the earlier lines";
    }
    at = found + 1;
  }
  return ::testing::AssertionSuccess();
}

// The recorded sequence holds `lines` one right after the other somewhere.
inline ::testing::AssertionResult happen_together(const std::vector<std::string>& lines) {
  const std::vector<std::string>& all = sim::events().lines;
  if (std::search(all.begin(), all.end(), lines.begin(), lines.end()) != all.end()) {
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "not one after the other:";
  for (const std::string& line : lines) failure << " \"" << line << "\"";
  return failure;
}

// The touchpad saw nothing that a careful host never does.
inline ::testing::AssertionResult no_irregularity() {
  const std::vector<std::string>& seen = sim::touchpad().irregularities;
  if (seen.empty()) return ::testing::AssertionSuccess();
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << "the touchpad recorded " << seen.size() << ":";
  for (const std::string& line : seen) failure << "\n  " << line;
  return failure;
}

}  // namespace fwu::testing
