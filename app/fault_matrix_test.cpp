// Every place of an update where the touchpad can fail the program, failing once, twice, three
// times and for good: the run either absorbs the failures, each with its wait before the next
// try, or ends with the ERROR of that place, sends nothing after it, and gives back every handle
// and list it took. The touchpad finds nothing irregular in any of them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "app/program.h"
#include "image/firmware_image.h"
#include "platform/resource.h"
#include "platform/sim/device_tree.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/machine.h"
#include "platform/sim/touchpad.h"
#include "testing/machine_checks.h"
#include "testing/sequence.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

using sim::Command;

// The machine a place is reached on.
enum class Base {
  kNormal,               // firmware 16, a valid image
  kErrorAtFirstStatus,   // the first status carries an error code: the reset of bring-up runs
  kImageNeverValidated,  // validation never finds the image valid: the format image repeats
};

// How the place fails.
enum class Way {
  kHidCall,    // the HID call of the command (a send, or a status read) fails
  kErrorCode,  // status reads report an error code from the command's arrival on
};

struct Place {
  const char* name;
  Base base;
  Way way;
  Command command;
  uint32_t nth;    // kHidCall: the first failing call of that kind, counting from 1
  int absorbed;    // the ERROR while the place still has tries left (0: the update succeeds)
  int exhausted;   // the ERROR once it has none
  uint32_t tries;  // failures in a row the place takes before it is exhausted
  uint8_t stop;    // the command byte the touchpad receives last when the run ends there
};

constexpr uint32_t kForever = 0;  // a failure count: every call from the first failing one on
constexpr uint32_t kNever = UINT32_MAX;

// Status reads of a normal update, in order: bring-up, after invoke, the region format's check,
// one check per chunk (125), the flush's check, after validation, after the final reset.
constexpr uint32_t kFirstChunkCheck = 4;
constexpr uint32_t kChunks = 125;
constexpr uint32_t kFlushCheck = kFirstChunkCheck + kChunks;

// A verified step repeats its operation after a failed check of three reads, three times.
constexpr uint32_t kVerifiedTries = 9;

const Place kPlaces[] = {
    // Sends.
    {"InformationRead", Base::kNormal, Way::kHidCall, Command::kInfo, 1, 0, 0, kNever, 0x08},
    {"BringUpReset", Base::kErrorAtFirstStatus, Way::kHidCall, Command::kReset, 1, 0, 9, 3, 0x03},
    {"Invoke", Base::kNormal, Way::kHidCall, Command::kInvoke, 1, 0, 11, 3, 0x06},
    {"FormatImage", Base::kNormal, Way::kHidCall, Command::kFormatImage, 1, 0, 13, 3, 0x04},
    {"FormatRegion", Base::kNormal, Way::kHidCall, Command::kFormatRegion, 1, 0, 14, 3, 0x05},
    {"FirstWrite", Base::kNormal, Way::kHidCall, Command::kWrite, 1, 0, 16, 3, 0x00},
    {"MiddleWrite", Base::kNormal, Way::kHidCall, Command::kWrite, 63, 0, 16, 3, 0x00},
    {"LastWrite", Base::kNormal, Way::kHidCall, Command::kWrite, kChunks, 0, 16, 3, 0x00},
    {"Flush", Base::kNormal, Way::kHidCall, Command::kFlush, 1, 0, 18, 3, 0x01},
    // Validate image is sent once and its result ignored: the image then stays invalid.
    {"Validate", Base::kNormal, Way::kHidCall, Command::kValidate, 1, 21, 21, 1, 0x02},
    {"RepeatedFormatImage", Base::kImageNeverValidated, Way::kHidCall, Command::kFormatImage, 2, 21,
     20, 3, 0x02},
    {"FinalReset", Base::kNormal, Way::kHidCall, Command::kReset, 1, 0, 22, 3, 0x03},
    // Status reads that fail.
    {"StatusRead", Base::kNormal, Way::kHidCall, Command::kStatus, 1, 0, 8, 3, 0x08},
    {"StatusCheckAfterReset", Base::kErrorAtFirstStatus, Way::kHidCall, Command::kStatus, 2, 0, 10,
     3, 0x03},
    {"StatusReadAfterInvoke", Base::kNormal, Way::kHidCall, Command::kStatus, 2, 0, 12, 3, 0x06},
    {"FormatRegionCheck", Base::kNormal, Way::kHidCall, Command::kStatus, 3, 0, 15, kVerifiedTries,
     0x05},
    {"FirstWriteCheck", Base::kNormal, Way::kHidCall, Command::kStatus, kFirstChunkCheck, 0, 17,
     kVerifiedTries, 0x00},
    {"MiddleWriteCheck", Base::kNormal, Way::kHidCall, Command::kStatus, kFirstChunkCheck + 62, 0,
     17, kVerifiedTries, 0x00},
    {"LastWriteCheck", Base::kNormal, Way::kHidCall, Command::kStatus, kFlushCheck - 1, 0, 17,
     kVerifiedTries, 0x00},
    {"FlushCheck", Base::kNormal, Way::kHidCall, Command::kStatus, kFlushCheck, 0, 19,
     kVerifiedTries, 0x01},
    {"ImageValidRead", Base::kNormal, Way::kHidCall, Command::kStatus, kFlushCheck + 1, 0, 21, 2,
     0x02},
    {"StatusAfterFinalReset", Base::kNormal, Way::kHidCall, Command::kStatus, kFlushCheck + 2, 0,
     23, 3, 0x03},
    // Status checks that read an error code.
    {"ErrorAfterBringUpReset", Base::kErrorAtFirstStatus, Way::kErrorCode, Command::kReset, 0, 0,
     10, 3, 0x03},
    {"ErrorAfterFormatRegion", Base::kNormal, Way::kErrorCode, Command::kFormatRegion, 0, 0, 15,
     kVerifiedTries, 0x05},
    {"ErrorAfterWrite", Base::kNormal, Way::kErrorCode, Command::kWrite, 0, 0, 17, kVerifiedTries,
     0x00},
    {"ErrorAfterFlush", Base::kNormal, Way::kErrorCode, Command::kFlush, 0, 0, 19, kVerifiedTries,
     0x01},
    {"ErrorAfterValidate", Base::kNormal, Way::kErrorCode, Command::kValidate, 0, 0, 21, 2, 0x02},
    {"ErrorAfterFinalReset", Base::kNormal, Way::kErrorCode, Command::kReset, 0, 0, 23, 3, 0x03},
};

struct Cell {
  const Place* place;
  uint32_t failures;  // in a row, or kForever

  int expected_error() const {
    bool exhausted = failures == kForever ? place->tries != kNever : failures >= place->tries;
    return exhausted ? place->exhausted : place->absorbed;
  }

  // A run that absorbs the failures by reading or sending again, without repeating a verified
  // step's operation; the information read is not tried again at all.
  bool retries_in_place() const {
    return expected_error() == 0 && place->command != Command::kInfo &&
           !(place->tries == kVerifiedTries && failures >= 3);
  }
};

std::vector<Cell> all_cells() {
  std::vector<Cell> cells;
  for (const Place& place : kPlaces) {
    for (uint32_t failures : {1u, 2u, 3u, kForever}) cells.push_back({&place, failures});
  }
  return cells;
}

void PrintTo(const Cell& cell, std::ostream* out) {
  *out << cell.place->name << " failing ";
  if (cell.failures == kForever) {
    *out << "always";
  } else {
    *out << cell.failures << " times";
  }
}

using Report = std::vector<uint8_t>;

void set_up_base(Base base) {
  sim::MachineSetup setup;
  if (base == Base::kErrorAtFirstStatus) setup.busy = {{Command::kInfo, 1}};
  setup.image_never_valid = base == Base::kImageNeverValidated;
  sim::set_up_machine(setup);
}

void arm(const Cell& cell) {
  const Place& place = *cell.place;
  sim::Touchpad& touchpad = sim::touchpad();
  if (place.way == Way::kHidCall) {
    sim::Fault& fault = touchpad.faults[static_cast<size_t>(place.command)];
    fault.pass = place.nth - 1;
    fault.fail = cell.failures;
    fault.forever = cell.failures == kForever;
  } else {
    uint32_t reads = cell.failures == kForever ? 1'000'000 : cell.failures;
    touchpad.status_faults.push_back({place.command, reads, sim::kErrorBusy, false});
  }
}

int run() {
  return run_program("/S /vLOGFILE=fw.log", "fwupdate.exe /S /vLOGFILE=fw.log");
}

// The recorded sequence without each failed call or status with an error code and the wait that
// follows it: what the run did when every try counts as the one that succeeded. A retry without
// its wait, or with another, stays in. The log's time stamps go too: retries take time.
std::vector<std::string> without_retries(const std::vector<std::string>& lines) {
  std::vector<std::string> kept;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].starts_with("log Executed ") || lines[i].starts_with("log Completed ")) continue;
    bool bad = lines[i].ends_with(" failed") || lines[i].starts_with("HidD_GetFeature error");
    bool wait_follows =
        i + 1 < lines.size() && (lines[i + 1] == "Sleep 10" || lines[i + 1] == "Sleep 100");
    if (bad && wait_follows) {
      ++i;
      continue;
    }
    kept.push_back(lines[i]);
  }
  return kept;
}

// The reports the touchpad received, with the repeats of a retried command folded into one.
std::vector<Report> folded_reports() {
  std::vector<Report> folded;
  for (const sim::ReceivedReport& report : sim::touchpad().received) {
    if (folded.empty() || folded.back() != report.bytes) folded.push_back(report.bytes);
  }
  return folded;
}

bool is_prefix(const std::vector<Report>& part, const std::vector<Report>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

class FaultMatrixTest : public testing::SimTest, public ::testing::WithParamInterface<Cell> {
 protected:
  struct Reference {
    std::vector<Report> reports;     // what the touchpad receives
    std::vector<std::string> lines;  // the recorded sequence
  };

  // The run on the place's machine when nothing fails.
  static const Reference& reference(Base base) {
    static std::map<Base, Reference> references;
    auto [it, added] = references.try_emplace(base);
    if (added) {
      set_up_base(base);
      run();
      it->second = {folded_reports(), without_retries(sim::events().lines)};
      sim::reset();
      testing::reset_process_state();
      std::filesystem::remove("fw.log");
    }
    return it->second;
  }

  // After the failure nothing but the repeated format image of validation reached the touchpad:
  // what it received is the failure-free run cut at the failing command.
  static void expect_stopped_there(const std::vector<Report>& reference, const Place& place,
                                   int error) {
    std::vector<Report> seen = folded_reports();
    if (error == 20 || error == 21) {
      ASSERT_FALSE(seen.empty());
      EXPECT_EQ(seen.back()[1], 0x04) << "the repeated format image";
      auto first = std::find_if(reference.begin(), reference.end(),
                                [](const Report& report) { return report[1] == 0x04; });
      ASSERT_NE(first, reference.end());
      EXPECT_EQ(seen.back(), *first) << "with the values of the first one";
      seen.pop_back();
    }
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(static_cast<int>(seen.back()[1]), place.stop) << "the last command";
    EXPECT_TRUE(is_prefix(seen, reference)) << "received " << seen.size() << " commands";
  }
};

TEST_P(FaultMatrixTest, EndsWithItsErrorOrGoesOn) {
  const Cell& cell = GetParam();
  const Place& place = *cell.place;
  const Reference& expected = reference(place.base);
  set_up_base(place.base);
  arm(cell);
  int error = cell.expected_error();

  int exit_code = run();
  std::string log = read_file("fw.log");
  if (error == 0) {
    EXPECT_EQ(exit_code, kExitUpdated);
    EXPECT_NE(log.find("\r\nFirmware update successful.\r\n"), std::string::npos) << log;
    EXPECT_EQ(sim::running_version(), kTargetFirmwareVersion);
    EXPECT_TRUE(sim::touchpad().image_valid);
    EXPECT_TRUE(testing::flash_holds_shipped_image());
    if (cell.retries_in_place()) {
      EXPECT_EQ(without_retries(sim::events().lines), expected.lines);
    }
  } else {
    EXPECT_EQ(exit_code, kExitUpdateFailed);
    std::string line = "\r\nERROR " + std::to_string(error) + ": ";
    EXPECT_NE(log.find(line), std::string::npos) << log;
    expect_stopped_there(expected.reports, place, error);
    EXPECT_EQ(sim::node(sim::touchpad_transport()).disables, 0u) << "no restart after a failure";
  }
  EXPECT_TRUE(testing::everything_released());
  EXPECT_TRUE(testing::no_irregularity());
}

INSTANTIATE_TEST_SUITE_P(EveryPlace, FaultMatrixTest, ::testing::ValuesIn(all_cells()),
                         [](const ::testing::TestParamInfo<Cell>& param_info) {
                           std::string failures = param_info.param.failures == kForever
                                                      ? "Always"
                                                      : std::to_string(param_info.param.failures);
                           return std::string(param_info.param.place->name) + "Fails" + failures;
                         });

TEST(FaultMatrix, ReachesEveryErrorOfTheDevice) {
  std::vector<Cell> cells = all_cells();
  std::set<int> errors;
  for (const Cell& cell : cells) errors.insert(cell.expected_error());
  for (int error = 8; error <= 23; ++error) EXPECT_TRUE(errors.count(error)) << error;
  EXPECT_TRUE(errors.count(0)) << "and cells where a later try succeeds";
  std::printf("fault matrix: %zu cells\n", cells.size());
}

}  // namespace
}  // namespace fwu
