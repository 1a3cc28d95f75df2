// One run of the program at a time per machine.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/program.h"
#include "app/settings.h"
#include "platform/sim/machine.h"
#include "testing/machine_checks.h"
#include "testing/sequence.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

class RunMutexTest : public testing::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::ui().default_answer = sim::kIdYes;
  }

  static int run(const std::string& arguments) {
    std::string command_line = "fwupdate.exe " + arguments;
    return run_program(arguments, command_line.c_str());
  }

  // Another run of the program, started first with `arguments`, holds the mutex when this one
  // asks for it. It runs inside this run's wait, in a process state of its own; what it saw is
  // kept in `first_`.
  void first_run_holds_the_mutex(const std::string& arguments, const std::string& own_arguments) {
    sim::RunMutex& mutex = sim::run_mutex();
    mutex.open_elsewhere = true;
    mutex.security = sim::run_mutex_security();
    mutex.other_run = [this, arguments, own_arguments] {
      first_.reports_before = sim::touchpad().received.size();
      first_.fine_timers_before = sim::clock().fine_timer_holders;
      first_.log_before = read_file("second.log");
      testing::reset_process_state();
      first_.exit_code = run(arguments);
      first_.reports = sim::touchpad().received.size();
      testing::reset_process_state();  // back to the second run's process
      read_command_line(own_arguments);
    };
  }

  struct FirstRun {
    size_t reports_before = 0;
    int fine_timers_before = -1;
    std::string log_before;
    int exit_code = -1;
    size_t reports = 0;
  } first_;
};

TEST_F(RunMutexTest, SecondRunWaitsForTheFirstAndFindsTheTargetVersion) {
  first_run_holds_the_mutex("/S /vLOGFILE=first.log", "/S /vLOGFILE=second.log");
  EXPECT_EQ(run("/S /vLOGFILE=second.log"), kExitSameVersion);
  EXPECT_EQ(first_.exit_code, kExitUpdated);
  EXPECT_EQ(first_.reports_before, 0u) << "the second run touched the touchpad before it waited";
  EXPECT_EQ(first_.log_before, "") << "the second run logged before it waited";
  EXPECT_EQ(first_.fine_timers_before, 0) << "the waiting run held the machine's timer fine";
  EXPECT_GT(sim::touchpad().received.size(), first_.reports) << "the second run read the version";
  EXPECT_EQ(sim::running_version(), 17);
  EXPECT_NE(read_file("second.log").find("The device already has the target firmware version."),
            std::string::npos);
  EXPECT_EQ(sim::run_mutex().waits, 2);
  EXPECT_EQ(sim::run_mutex().holders, 0);
  EXPECT_EQ(sim::run_mutex().open_handles, 0);
}

TEST_F(RunMutexTest, SecondRunRecoversATouchpadTheFirstLeftInItsBootloader) {
  sim::MachineSetup setup;
  setup.failures = {{sim::Command::kWrite, 3}};
  sim::set_up_machine(setup);
  first_run_holds_the_mutex("/S", "/S");
  sim::RunMutex& mutex = sim::run_mutex();
  std::function<void()> first = std::move(mutex.other_run);
  mutex.other_run = [first] {
    first();
    sim::touchpad().faults = {};  // the write that failed the first run goes through now
  };
  EXPECT_EQ(run("/S"), kExitUpdated);
  EXPECT_EQ(first_.exit_code, kExitUpdateFailed);
  EXPECT_TRUE(testing::flash_holds_shipped_image());
  EXPECT_EQ(sim::running_version(), 17);
}

TEST_F(RunMutexTest, MutexSquattedByAStandardUserIsNotWaitedFor) {
  sim::RunMutex& mutex = sim::run_mutex();
  mutex.open_elsewhere = true;
  mutex.held_for_ever = true;
  mutex.security = sim::locked_security(sim::sid_standard_user());
  EXPECT_EQ(run("/S"), kExitUpdated);
  EXPECT_EQ(mutex.waits, 0);
  EXPECT_EQ(mutex.open_handles, 0);

  // Nor one whose owner cannot be told.
  sim::reset();
  testing::reset_process_state();
  sim::run_mutex().open_elsewhere = true;
  sim::run_mutex().held_for_ever = true;
  EXPECT_EQ(run("/S"), kExitUpdated);
  EXPECT_EQ(sim::run_mutex().waits, 0);
}

TEST_F(RunMutexTest, RunThatNeverEndsIsWaitedForTenMinutesThenThisRunEndsUntouched) {
  // A run started without /S as SYSTEM in session 0 holds the mutex while its question waits for
  // an answer that never comes; it may still go on when somebody answers it.
  sim::RunMutex& mutex = sim::run_mutex();
  mutex.open_elsewhere = true;
  mutex.security = sim::run_mutex_security();
  mutex.held_for_ever = true;
  sim::clock().utc_base = {2024, 1, 1, 0, 0, 0};
  EXPECT_EQ(run("/S /vLOGFILE=fw.log"), kExitNoDevice);
  EXPECT_EQ(mutex.waits, 1);
  EXPECT_EQ(mutex.holders, 0);
  EXPECT_EQ(mutex.open_handles, 0);
  const std::vector<std::string>& events = sim::events().lines;
  ASSERT_GE(events.size(), 2u);
  EXPECT_EQ(events[1], "WaitForSingleObject run: timed out");
  EXPECT_NE(events.back(), "ReleaseMutex run");
  EXPECT_TRUE(sim::calls().names.empty()) << "not even the list of HID devices was asked for";
  EXPECT_TRUE(sim::touchpad().received.empty());
  EXPECT_EQ(sim::running_version(), 16);
  EXPECT_TRUE(sim::ui().boxes.empty());
  EXPECT_EQ(read_file("fw.log"),
            "Running program\r\n\t fwupdate.exe /S /vLOGFILE=fw.log\r\n"
            "Executed 2024/01/01 00:10:00\r\n"
            "ERROR: Another run of the firmware update is still going on. The firmware has not "
            "been updated.\r\n"
            "Completed 2024/01/01 00:10:00\r\n\r\n")
      << "the run began after ten minutes of waiting";

  // Someone who started it by hand is told, in a box, before the line is logged.
  sim::reset();
  testing::reset_process_state();
  sim::run_mutex().open_elsewhere = true;
  sim::run_mutex().security = sim::run_mutex_security();
  sim::run_mutex().held_for_ever = true;
  EXPECT_EQ(run("/vLOGFILE=fw2.log"), kExitNoDevice);
  std::vector<sim::ShownBox> boxes = sim::program_boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            u"ERROR: Another run of the firmware update is still going on!\n\nThe firmware has "
            u"not been updated.");
  EXPECT_EQ(boxes[0].style, 0x10u);
  EXPECT_TRUE(sim::touchpad().received.empty());
  EXPECT_TRUE(testing::happen_together({"answered OK",
                                        "log ERROR: Another run of the firmware update is still "
                                        "going on. The firmware has not been updated."}));
}

TEST_F(RunMutexTest, AbandonedMutexCountsAsAcquired) {
  sim::RunMutex& mutex = sim::run_mutex();
  mutex.open_elsewhere = true;
  mutex.security = sim::run_mutex_security();
  mutex.abandoned = true;
  EXPECT_EQ(run("/S"), kExitUpdated);
  EXPECT_EQ(mutex.waits, 1);
  EXPECT_EQ(mutex.holders, 0);
}

TEST_F(RunMutexTest, RunWithoutTheMutexWhenItCannotBeHad) {
  sim::run_mutex().fail = true;
  EXPECT_EQ(run("/S"), kExitUpdated);
  EXPECT_EQ(sim::run_mutex().waits, 0);
}

TEST_F(RunMutexTest, EveryRunTakesTheMutexBeforeItLogsAndGivesItBack) {
  EXPECT_EQ(run("/S /vLOGFILE=fw.log"), kExitUpdated);
  const std::vector<std::string>& events = sim::events().lines;
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[0], "CreateMutexExW run") << "nothing is done before the mutex is asked for";
  EXPECT_EQ(events[1], "WaitForSingleObject run");
  EXPECT_EQ(events.back(), "ReleaseMutex run") << "held until the run's last line";
  EXPECT_EQ(sim::run_mutex().waits, 1);
  EXPECT_EQ(sim::run_mutex().holders, 0);
  EXPECT_EQ(sim::run_mutex().open_handles, 0);

  sim::reset();
  testing::reset_process_state();
  sim::MachineSetup setup;
  setup.device = sim::DeviceStart::kNone;
  sim::set_up_machine(setup);
  EXPECT_EQ(run("/S"), kExitNoDevice);
  EXPECT_EQ(sim::run_mutex().waits, 1);
  EXPECT_EQ(sim::run_mutex().open_handles, 0) << "also on a run that ends early";
}

}  // namespace
}  // namespace fwu
