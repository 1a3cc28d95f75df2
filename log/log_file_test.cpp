#include "log/log_file.h"

#include <unistd.h>

#include <string>
#include <utility>

#include "app/settings.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

class LogFileTest : public testing::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::clock().utc_base = {2024, 3, 7, 14, 5, 9};
  }
};

TEST_F(LogFileTest, NoLogSwitchWritesAndCreatesNothing) {
  read_command_line("/S");
  log_line("Running program\n\t %s", "fw.exe /S");
  start_stamp();
  end_stamp();
  EXPECT_TRUE(std::filesystem::is_empty("."));
}

TEST_F(LogFileTest, RunFrameIsWrittenWithCrLfAndUtcStamps) {
  read_command_line("/vLOGFILE=fw.log");
  log_line("Running program\n\t %s", "\"fw.exe\"\t/vLOGFILE=fw.log \"q\"");
  start_stamp();
  sim::advance_ms(61'000);
  log_line("Firmware update successful.");
  end_stamp();
  log_line("%s", "");
  EXPECT_EQ(read_file("fw.log"),
            "Running program\r\n\t \"fw.exe\"\t/vLOGFILE=fw.log \"q\"\r\n"
            "Executed 2024/03/07 14:05:09\r\n"
            "Firmware update successful.\r\n"
            "Completed 2024/03/07 14:06:10\r\n"
            "\r\n");
}

TEST_F(LogFileTest, StampsPadEveryField) {
  EXPECT_EQ(format_stamp({987, 1, 2, 3, 4, 5}), "0987/01/02 03:04:05");
  EXPECT_EQ(format_stamp({2026, 12, 31, 23, 59, 59}), "2026/12/31 23:59:59");
}

TEST_F(LogFileTest, SimulatedClockStartsAtUtcNotLocalTime) {
  const char* previous = getenv("TZ");
  std::string saved = previous != nullptr ? previous : "";
  setenv("TZ", "XYZ-9", 1);
  tzset();
  std::time_t now = std::time(nullptr);
  sim::reset();
  std::tm utc{};
  gmtime_r(&now, &utc);
  platform::UtcTime clock = platform::utc_now();
  if (previous != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  EXPECT_EQ(clock.hour, utc.tm_hour);
  EXPECT_EQ(clock.day, utc.tm_mday);
}

TEST_F(LogFileTest, MissingDirectoriesAreCreatedBelowWhereThePathStarts) {
  // The drive itself is never made.
  read_command_line("/vLOGFILE=C:\\a\\b\\fw.log");
  log_line("one");
  EXPECT_EQ(read_file("C:\\a\\b\\fw.log"), "one\r\n");
  EXPECT_EQ(sim::files().directory_attempts, (std::vector<std::string>{"C:\\a", "C:\\a\\b"}));
  log_line("two");
  EXPECT_EQ(sim::files().directory_attempts.size(), 2u) << "created again for an existing file";

  // A leading backslash is never taken as a directory of its own.
  testing::SimTest::TearDown();
  testing::SimTest::SetUp();
  read_command_line("/vLOGFILE=\\x\\y\\fw.log");
  log_line("three");
  EXPECT_EQ(read_file("x/y/fw.log"), "three\r\n");
  EXPECT_EQ(sim::files().directory_attempts, (std::vector<std::string>{"\\x", "\\x\\y"}));
}

TEST_F(LogFileTest, PathsStartWhereWindowsStartsThem) {
  // Only what lies below the start is made: never a server, a share or a drive.
  // The simulated machine keeps each drive's current directory at its root.
  struct Case {
    std::string path, made, lands;
  };
  for (const auto& [path, made, lands] : std::vector<Case>{
           {"\\\\?\\C:\\new\\fw.log", "\\\\?\\C:\\new", "C:\\new\\fw.log"},
           {"\\\\?\\UNC\\server\\share\\new\\fw.log", "\\\\?\\UNC\\server\\share\\new",
            "\\\\server\\share\\new\\fw.log"},
           {"\\\\server\\share\\new\\fw.log", "\\\\server\\share\\new",
            "\\\\server\\share\\new\\fw.log"},
           {"C:new\\fw.log", "C:new", "C:\\new\\fw.log"},  // below that drive's current directory
           {"new\\fw.log", "new", "new\\fw.log"}}) {
    SCOPED_TRACE(path);
    testing::SimTest::TearDown();
    testing::SimTest::SetUp();
    read_command_line("/vLOGFILE=" + path);
    log_line("line");
    EXPECT_EQ(read_file(lands), "line\r\n");
    EXPECT_EQ(sim::files().directory_attempts, std::vector<std::string>{made});
  }

  // ".." at the front of a relative path leaves the current directory, as Windows takes it.
  ASSERT_TRUE(std::filesystem::create_directory("here"));
  ASSERT_EQ(chdir("here"), 0);
  read_command_line("/vLOGFILE=..\\up.log");
  log_line("up");
  ASSERT_EQ(chdir(".."), 0);
  EXPECT_EQ(read_file("up.log"), "up\r\n");
}

TEST_F(LogFileTest, RelativePathIsInTheCurrentDirectoryAndRunsAppend) {
  read_command_line("/vLOGFILE=fw.log");
  log_line("first run");
  log_line("%s", "");
  log_line("second run");
  EXPECT_EQ(read_file("fw.log"), "first run\r\n\r\nsecond run\r\n");
}

TEST_F(LogFileTest, ReadersCostNoLineButAnotherWriterDoes) {
  // Someone tailing the log (reading, sharing writing as log viewers do) sees every line.
  read_command_line("/vLOGFILE=fw.log");
  log_line("before");
  int reader =
      sim::open_by_another_process("fw.log", {sim::kShareRead, sim::kShareRead | sim::kShareWrite});
  ASSERT_GE(reader, 0);
  log_line("while read");
  sim::close_by_another_process(reader);

  // Another writer loses the line even when it shares everything: nothing mixes into it. So does
  // a reader that lets nobody write.
  int writer = sim::open_by_another_process(
      "fw.log",
      {sim::kShareRead | sim::kShareWrite, sim::kShareRead | sim::kShareWrite | sim::kShareDelete});
  ASSERT_GE(writer, 0);
  log_line("lost");
  sim::close_by_another_process(writer);
  reader = sim::open_by_another_process("fw.log", {sim::kShareRead, sim::kShareRead});
  log_line("lost too");
  sim::close_by_another_process(reader);
  log_line("after");
  EXPECT_EQ(read_file("fw.log"), "before\r\nwhile read\r\nafter\r\n");

  // While the program writes, another writer is refused and a reader is let in.
  sim::files().before_step = [](const std::string& step) {
    if (step != "write fw.log") return;
    sim::record_event(sim::open_by_another_process("fw.log", {sim::kShareWrite, 7}) < 0
                          ? "writer refused"
                          : "writer let in");
    sim::record_event(sim::open_by_another_process("fw.log", {sim::kShareRead, 7}) >= 0
                          ? "reader let in"
                          : "reader refused");
  };
  log_line("last");
  EXPECT_EQ(sim::events().lines,
            (std::vector<std::string>{"log before", "log while read", "log after", "writer refused",
                                      "reader let in", "log last"}));
}

TEST_F(LogFileTest, UnwritablePathIsSilent) {
  ASSERT_TRUE(std::filesystem::create_directory("blocker"));
  read_command_line("/vLOGFILE=blocker");
  log_line("nowhere");
  EXPECT_TRUE(std::filesystem::is_directory("blocker"));
}

TEST_F(LogFileTest, OverLongLineIsCutToTheBuffer) {
  read_command_line("/vLOGFILE=fw.log");
  std::string long_text(kMaxLogLine + 500, 'x');
  log_line("Running program\n\t %s", long_text.c_str());
  std::string expected = "Running program\r\n\t " + std::string(kMaxLogLine - 18, 'x') + "\r\n";
  EXPECT_EQ(read_file("fw.log"), expected);
}

TEST_F(LogFileTest, TextIsNotReadAsAFormatTwice) {
  read_command_line("/vLOGFILE=fw.log");
  log_line("Running program\n\t %s", "fw.exe %s %n %d");
  EXPECT_EQ(read_file("fw.log"), "Running program\r\n\t fw.exe %s %n %d\r\n");
}

// The Linux program's paths: one root, "/" alone separates, and a name that Windows would read
// otherwise (a device's, trailing dots, a backslash in it) is an ordinary name there.
TEST(LogPathGrammarTest, PosixPathsAreTakenAsTheyAreWrittenBelowOneRoot) {
  struct Case {
    std::string path, start;
    std::vector<std::string> names;
  };
  for (const auto& [path, start, names] :
       std::vector<Case>{{"/var/log/fw.log", "/", {"var", "log", "fw.log"}},
                         {"//var//./log/fw.log", "/", {"var", "log", "fw.log"}},
                         {"fw.log", ".", {"fw.log"}},
                         {"logs./con.log.", ".", {"logs.", "con.log."}},
                         {"C:\\logs\\fw.log", ".", {"C:\\logs\\fw.log"}},
                         {"/var/tmp/../log/fw.log", "/", {"var", "log", "fw.log"}},
                         {"/../fw.log", "/", {"fw.log"}},
                         {"a/../../x/fw.log", "..", {"x", "fw.log"}},
                         {"../../fw.log", "../..", {"fw.log"}}}) {
    SCOPED_TRACE(path);
    LogPath parts = split_log_path(path, platform::PathGrammar::kPosix);
    EXPECT_EQ(parts.start, start);
    EXPECT_EQ(parts.names, names);
  }
  // A directory's name, or nothing at all, names no file.
  for (const char* path : {"", "/", "/var/log/", "/var/log/.", "/var/log/..", "."}) {
    SCOPED_TRACE(path);
    EXPECT_TRUE(split_log_path(path, platform::PathGrammar::kPosix).names.empty());
  }
  // The same texts read as Windows reads them.
  EXPECT_EQ(split_log_path("C:\\logs\\fw.log", platform::PathGrammar::kWindows).start, "C:\\");
  EXPECT_TRUE(split_log_path("logs./con.log.", platform::PathGrammar::kWindows).names.empty());
}

}  // namespace
}  // namespace fwu
