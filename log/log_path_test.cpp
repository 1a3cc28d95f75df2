// The log path is not followed through links that a standard user planted.
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/settings.h"
#include "log/log_file.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

namespace fs = std::filesystem;

class LogPathTest : public testing::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(fs::create_directories("C:/Logs"));
    ASSERT_TRUE(fs::create_directories("C:/Windows/System32"));
  }

  // A link at `link` (a Windows path) to the directory `target` (a host path), as a standard
  // user makes a junction in a folder they may write to.
  static void plant(const std::string& link, const std::string& target, bool by_standard_user) {
    fs::create_directory_symlink(fs::absolute(target), sim::host_path(link.c_str()));
    sim::FileModel* model = sim::file_model(link);
    ASSERT_NE(model, nullptr);
    if (by_standard_user) model->security = sim::locked_security(sim::sid_standard_user());
  }

  static bool is_empty(const std::string& directory) { return fs::is_empty(directory); }
};

TEST_F(LogPathTest, PlantedJunctionTurnsTheLogOffForTheRun) {
  plant("C:\\Logs\\fw", "C:/Windows/System32", true);
  read_command_line("/vLOGFILE=C:\\Logs\\fw\\fw.log");
  log_line("first");
  EXPECT_TRUE(is_empty("C:/Windows/System32"));

  // Gone or not, the link has turned the log off until the run ends.
  fs::remove("C:/Logs/fw");
  ASSERT_TRUE(fs::create_directory("C:/Logs/fw"));
  log_line("second");
  EXPECT_FALSE(exists("C:\\Logs\\fw\\fw.log"));

  reset_log_for_test();  // the next run
  log_line("next run");
  EXPECT_EQ(read_file("C:\\Logs\\fw\\fw.log"), "next run\r\n");
}

TEST_F(LogPathTest, NoDirectoryIsMadeBeyondAPlantedJunction) {
  plant("C:\\Logs\\fw", "C:/Windows/System32", true);
  read_command_line("/vLOGFILE=C:\\Logs\\fw\\new\\deeper\\fw.log");
  log_line("line");
  EXPECT_TRUE(is_empty("C:/Windows/System32"));
  EXPECT_TRUE(sim::files().directory_attempts.empty());
}

TEST_F(LogPathTest, SlashesSeparateDirectoriesAsWell) {
  plant("C:\\Logs\\fw", "C:/Windows/System32", true);
  read_command_line("/vLOGFILE=C:/Logs/fw/fw.log");
  log_line("line");
  EXPECT_TRUE(is_empty("C:/Windows/System32"));
}

TEST_F(LogPathTest, JunctionAnAdministratorMadeIsFollowed) {
  ASSERT_TRUE(fs::create_directories("D:/Logs"));
  plant("C:\\Logs\\fw", "D:/Logs", false);
  read_command_line("/vLOGFILE=C:\\Logs\\fw\\new\\fw.log");
  log_line("line");
  EXPECT_EQ(read_file("D:\\Logs\\new\\fw.log"), "line\r\n");
}

TEST_F(LogPathTest, LinkedLogFileIsNeitherFollowedNorAppendedTo) {
  std::ofstream("C:/Windows/System32/hosts") << "127.0.0.1 localhost\n";
  fs::create_symlink(fs::absolute("C:/Windows/System32/hosts"), "C:/Logs/fw.log");
  read_command_line("/vLOGFILE=C:\\Logs\\fw.log");
  log_line("line");
  EXPECT_EQ(read_file("C:\\Windows\\System32\\hosts"), "127.0.0.1 localhost\n");
  EXPECT_TRUE(fs::is_symlink("C:/Logs/fw.log"));
  fs::remove("C:/Logs/fw.log");
  log_line("after");
  EXPECT_FALSE(exists("C:\\Logs\\fw.log")) << "the log stays off for the run";

  // The same for a link whose target does not exist: nothing is created through it.
  testing::SimTest::TearDown();
  SetUp();
  fs::create_symlink(fs::absolute("C:/Windows/System32/new.dll"), "C:/Logs/fw.log");
  read_command_line("/vLOGFILE=C:\\Logs\\fw.log");
  log_line("line");
  EXPECT_FALSE(exists("C:\\Windows\\System32\\new.dll"));
}

TEST_F(LogPathTest, HardLinkedLogFileIsLeftAlone) {
  std::ofstream("C:/Windows/System32/config.ini") << "[settings]\n";
  ASSERT_EQ(::link("C:/Windows/System32/config.ini", "C:/Logs/fw.log"), 0);
  read_command_line("/vLOGFILE=C:\\Logs\\fw.log");
  log_line("line");
  EXPECT_EQ(read_file("C:\\Logs\\fw.log"), "[settings]\n");
}

TEST_F(LogPathTest, DirectoryThatCannotBeOpenedCannotBeJudged) {
  ASSERT_TRUE(fs::create_directory("C:/Logs/locked"));
  sim::file_model("C:\\Logs\\locked")->not_allowed = true;
  read_command_line("/vLOGFILE=C:\\Logs\\locked\\fw.log");
  log_line("line");
  EXPECT_FALSE(exists("C:\\Logs\\locked\\fw.log"));
}

TEST_F(LogPathTest, OrdinaryPathsKeepWorkingAndNothingStaysOpen) {
  read_command_line("/vLOGFILE=C:\\Logs\\a\\b\\fw.log");
  log_line("one");
  log_line("two");
  EXPECT_EQ(read_file("C:\\Logs\\a\\b\\fw.log"), "one\r\ntwo\r\n");
  EXPECT_EQ(sim::file_security().open_files, 0);

  // A path from the root of the current drive, and one like a share's.
  testing::SimTest::TearDown();
  SetUp();
  read_command_line("/vLOGFILE=\\\\server\\share\\logs\\fw.log");
  log_line("three");
  EXPECT_EQ(read_file("\\\\server\\share\\logs\\fw.log"), "three\r\n");
}

}  // namespace
}  // namespace fwu
