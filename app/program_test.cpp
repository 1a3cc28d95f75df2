#include "app/program.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "log/log_file.h"
#include "platform/sim/machine.h"
#include "testing/sequence.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

const char kMup[] =
    "<registrykey componentID=\"tp\"><name>HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\Touchpad</name>"
    "<value>17</value></registrykey>";

class ProgramTest : public testing::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::clock().utc_base = {2026, 12, 8, 9, 30, 0};
    sim::ui().default_answer = sim::kIdYes;
    std::ofstream("mup.xml") << kMup;
  }

  // Every run that updates does so without a step the touchpad finds irregular.
  static int run(const std::string& arguments) {
    std::string command_line = "\"C:\\Program Files\\fw.exe\" " + arguments;
    int result = run_program(arguments, command_line.c_str());
    if (result < 1000) {
      EXPECT_TRUE(testing::no_irregularity());
    }
    return result;
  }

  static std::string stamp_now() {
    return format_stamp(sim::utc_after(sim::clock().utc_base, sim::clock().now_ms));
  }

  static bool inventory_written() { return sim::find_key("SOFTWARE\\X\\Touchpad") != nullptr; }

  // A new process on a new machine.
  static void start_again() {
    sim::reset();
    testing::reset_process_state();
    sim::ui().default_answer = sim::kIdYes;
  }

  static void set_up(sim::DeviceStart device, uint32_t appear_ms = 0,
                     sim::Stale stale = sim::Stale::kNone) {
    sim::MachineSetup setup;
    setup.device = device;
    setup.appear_ms = appear_ms;
    setup.stale = stale;
    sim::set_up_machine(setup);
  }

  // The waits of the run before its first feature report: those of the repair attempt.
  static std::vector<uint32_t> waits_before_the_touchpad_is_spoken_to() {
    std::vector<uint32_t> waits;
    for (const std::string& line : sim::events().lines) {
      if (line.starts_with("HidD_SetFeature") || line.starts_with("HidD_GetFeature")) break;
      if (line.starts_with("Sleep ")) waits.push_back(std::stoul(line.substr(6)));
    }
    return waits;
  }
};

TEST_F(ProgramTest, WholeRunLeavesItsFrameInTheLog) {
  EXPECT_EQ(run("/vLOGFILE=fw.log"), 0);
  EXPECT_EQ(read_file("fw.log"),
            "Running program\r\n\t \"C:\\Program Files\\fw.exe\" /vLOGFILE=fw.log\r\n"
            "Executed 2026/12/08 09:30:00\r\n"
            "Firmware update successful.\r\n"
            "Completed " +
                stamp_now() +
                "\r\n"
                "\r\n");
  EXPECT_GT(sim::clock().now_ms, 3200u);
  EXPECT_TRUE(inventory_written());
}

TEST_F(ProgramTest, NoTouchpadAfterTheRepairAttempt) {
  set_up(sim::DeviceStart::kNone);
  EXPECT_EQ(run("/vLOGFILE=fw.log"), 1003);
  std::vector<sim::ShownBox> boxes = sim::program_boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            u"ERROR: No eligible devices have been found!\n\nThe firmware has not been updated.");
  EXPECT_EQ(boxes[0].style, 0x10u);
  std::string log = read_file("fw.log");
  EXPECT_NE(log.find("\r\nERROR: No eligible devices have been found. The firmware has not been "
                     "updated.\r\nCompleted "),
            std::string::npos);
  EXPECT_TRUE(testing::happen_together(
      {"answered OK",
       "log ERROR: No eligible devices have been found. The firmware has not been updated."}))
      << "the log line once the box is closed";
  EXPECT_TRUE(sim::touchpad().received.empty());
  EXPECT_FALSE(inventory_written());
  EXPECT_EQ(sim::hid_world().open_handles, 0);
  EXPECT_TRUE(sim::clock().waits.empty()) << "a repair that acted on nothing brings nothing back";

  start_again();
  set_up(sim::DeviceStart::kNone);
  EXPECT_EQ(run("/S"), 1003);
  EXPECT_TRUE(sim::ui().boxes.empty());
}

TEST_F(ProgramTest, TouchpadThatTheRepairBringsBackIsUpdated) {
  set_up(sim::DeviceStart::kAfterRepair);
  EXPECT_EQ(run("/S"), 0);
  EXPECT_EQ(sim::running_version(), 17);
  EXPECT_TRUE(inventory_written());
}

TEST_F(ProgramTest, CurrentDirectoryIsOpenedOnceBeforeAnythingElseAndServesTheRecord) {
  // Not looked up again minutes later, when whoever may write above it could have swapped it.
  set_up(sim::DeviceStart::kNormal);
  sim::files().before_step = [](const std::string& step) {
    if (step == "open .") sim::record_event("current directory opened");
  };
  EXPECT_EQ(run("/S /vLOGFILE=C:\\fw.log"), 0);
  const std::vector<std::string>& events = sim::events().lines;
  EXPECT_EQ(std::count(events.begin(), events.end(), "current directory opened"), 1);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front(), "current directory opened");
  EXPECT_TRUE(inventory_written());
}

// The system starts a repaired transport device's HID interfaces after the enable has returned.
TEST_F(ProgramTest, TouchpadThatTheRepairBringsBackLaterIsWaitedFor) {
  set_up(sim::DeviceStart::kAfterRepair, 300);
  EXPECT_EQ(run("/S"), 0);
  EXPECT_EQ(sim::running_version(), 17);
  EXPECT_EQ(waits_before_the_touchpad_is_spoken_to(), (std::vector<uint32_t>{250, 250}));

  for (uint32_t appear_ms : {2000u, 4900u}) {
    start_again();
    set_up(sim::DeviceStart::kAfterRepair, appear_ms);
    EXPECT_EQ(run("/S"), 0) << appear_ms;
    EXPECT_EQ(sim::running_version(), 17) << appear_ms;
  }

  // The repair's result tells of the last device it acted on, here a stale one that stays in
  // trouble; the touchpad before it came back all the same.
  start_again();
  set_up(sim::DeviceStart::kAfterRepair, 300, sim::Stale::kStays);
  EXPECT_EQ(run("/S"), 0);
  EXPECT_EQ(sim::running_version(), 17);
}

TEST_F(ProgramTest, TouchpadThatTakesLongerThanFiveSecondsIsNotWaitedFor) {
  for (uint32_t appear_ms : {5100u, 60000u}) {
    start_again();
    set_up(sim::DeviceStart::kAfterRepair, appear_ms);
    EXPECT_EQ(run("/vLOGFILE=fw.log"), 1003) << appear_ms;
    std::vector<sim::ShownBox> boxes = sim::program_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              u"ERROR: No eligible devices have been found!\n\nThe firmware has not been updated.");
    EXPECT_NE(read_file("fw.log").find("ERROR: No eligible devices have been found. The firmware "
                                       "has not been updated.\r\nCompleted "),
              std::string::npos);
    EXPECT_EQ(sim::clock().waits, std::vector<uint32_t>(20, 250)) << "5 s, looked at each 250 ms";
    EXPECT_TRUE(sim::touchpad().received.empty());
    EXPECT_EQ(sim::hid_world().open_handles, 0);
    EXPECT_EQ(sim::hid_world().interface_lists, 0);
  }
}

TEST_F(ProgramTest, InventoryOnlyAfterAnUpdate) {
  sim::MachineSetup setup;
  setup.restart_fails = true;
  sim::set_up_machine(setup);
  EXPECT_EQ(run("/S"), 1);
  EXPECT_TRUE(inventory_written());

  for (uint16_t version : {17, 18}) {
    start_again();
    setup = sim::MachineSetup{};
    setup.firmware_version = version;
    sim::set_up_machine(setup);
    EXPECT_GE(run("/S"), 1004);
    EXPECT_FALSE(inventory_written());
  }
  start_again();
  sim::ui().answers = {sim::kIdNo};
  EXPECT_EQ(run(""), 1007);
  EXPECT_FALSE(inventory_written());
  start_again();
  setup = sim::MachineSetup{};
  setup.failures = {{sim::Command::kFlush, 1}};
  sim::set_up_machine(setup);
  EXPECT_EQ(run("/S"), 1001);
  EXPECT_FALSE(inventory_written());
}

TEST_F(ProgramTest, EveryWaitOfTheRunHasTheFineTimerAndTheTimerIsGivenBack) {
  EXPECT_EQ(run("/S"), 0);
  EXPECT_GT(sim::clock().waits.size(), 250u);
  EXPECT_EQ(sim::clock().coarse_waits, 0u);
  EXPECT_EQ(sim::clock().fine_timer_grants, 1u);
  EXPECT_EQ(sim::clock().fine_timer_holders, 0);

  start_again();
  set_up(sim::DeviceStart::kNone);
  EXPECT_EQ(run("/S"), 1003);
  EXPECT_EQ(sim::clock().fine_timer_holders, 0) << "also on a run that ends early";
}

TEST_F(ProgramTest, NoArgumentsLogsNothing) {
  EXPECT_EQ(run(""), 0);
  EXPECT_TRUE(std::filesystem::exists("mup.xml"));
  std::filesystem::remove("mup.xml");
  EXPECT_TRUE(std::filesystem::is_empty("."));
}

}  // namespace
}  // namespace fwu
