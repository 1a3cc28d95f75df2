// The log path is walked by handle and not followed through links that a standard user can
// change; nothing on it can be swapped while a line is written.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "log/log_file.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

namespace fs = std::filesystem;

// As Windows leaves a folder made directly under C:\: owned by Administrators (made elevated),
// and every authenticated user may modify it.
platform::Security users_may_modify() {
  return sim::locked_security(
      sim::sid_administrators(),
      {sim::allow(sim::sid_users(), sim::kReadAndRun),
       sim::allow(sim::sid_authenticated_users(), 0x001301BF /* modify */)});
}

class LogPathTest : public testing::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_TRUE(fs::create_directories("C:/Logs"));
    ASSERT_TRUE(fs::create_directories("C:/Windows/System32"));
  }

  // A link at `link` (a Windows path) to the directory `target` (a host path), with `security`,
  // as a junction or mount point.
  static void plant(const std::string& link, const std::string& target,
                    const platform::Security& security) {
    fs::create_directory_symlink(fs::absolute(target), sim::host_path(link.c_str()));
    sim::FileModel* model = sim::file_model(link);
    ASSERT_NE(model, nullptr);
    model->security = security;
  }

  static platform::Security made_by_standard_user() {
    return sim::locked_security(sim::sid_standard_user(),
                                {sim::allow(sim::sid_standard_user(), sim::kAllRights)});
  }

  // Acts at the program's step `step` once, as another process would.
  static void at_step(const std::string& step, std::function<void()> act) {
    sim::files().before_step = [step, act](const std::string& now) {
      if (now != step) return;
      sim::files().before_step = nullptr;
      act();
    };
  }

  static bool is_empty(const std::string& directory) { return fs::is_empty(directory); }

  // Every file and folder of the simulated machine.
  static std::set<std::string> everything() {
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(".")) {
      found.insert(entry.path().lexically_normal().string());
    }
    return found;
  }
};

TEST_F(LogPathTest, PlantedJunctionTurnsTheLogOffForTheRun) {
  plant("C:\\Logs\\fw", "C:/Windows/System32", made_by_standard_user());
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

TEST_F(LogPathTest, MountPointOnAnAdministratorsFolderThatUsersMayModifyIsRefused) {
  // The first run makes C:\logs, which inherits "Authenticated Users: Modify" from C:\. A user
  // deletes the log, turns the empty folder into a mount point (which needs no ownership, only a
  // right to write to it) and the folder keeps its owner, Administrators.
  read_command_line("/vLOGFILE=C:\\logs\\fw.log");
  log_line("first run");
  ASSERT_EQ(read_file("C:\\logs\\fw.log"), "first run\r\n");
  fs::remove_all("C:/logs");
  plant("C:\\logs", "C:/Windows/System32", users_may_modify());

  reset_log_for_test();  // the next run
  log_line("second run");
  EXPECT_TRUE(is_empty("C:/Windows/System32"));
  fs::remove("C:/logs");
  log_line("later in that run");
  EXPECT_FALSE(exists("C:\\logs\\fw.log")) << "the log stays off for the run";
}

TEST_F(LogPathTest, JunctionMadeWhereTheProgramIsAboutToCreateADirectoryIsNeverFollowed) {
  // The first run on a machine: C:\logs does not exist yet, and a user who watches for the moment
  // makes it a junction just before the program creates it.
  read_command_line("/vLOGFILE=C:\\logs\\new\\fw.log");
  at_step("create C:\\logs",
          [] { plant("C:\\logs", "C:/Windows/System32", made_by_standard_user()); });
  log_line("line");
  EXPECT_TRUE(is_empty("C:/Windows/System32"));
  EXPECT_TRUE(fs::is_symlink("C:/logs"));
}

TEST_F(LogPathTest, FolderTurnedIntoAMountPointWhileHeldKeepsTheWalkInsideIt) {
  // C:\logs is an ordinary folder that users may modify. While the program holds it, a user turns
  // it, still empty, into a mount point: Windows allows that to anyone who may write to it,
  // whatever handles are open. Names then lead through the mount point, the held handle still
  // to the folder. (Here the folder moves aside and a link takes its name.)
  ASSERT_TRUE(fs::create_directory("C:/logs"));
  sim::file_model("C:\\logs")->security = users_may_modify();
  read_command_line("/vLOGFILE=C:\\logs\\new\\fw.log");
  at_step("create C:\\logs\\new", [] {
    fs::rename("C:/logs", "C:/logs-folder");
    plant("C:\\logs", "C:/Windows/System32", made_by_standard_user());
  });
  log_line("line");
  EXPECT_TRUE(is_empty("C:/Windows/System32"));
  EXPECT_EQ(read_file("C:\\logs-folder\\new\\fw.log"), "line\r\n");
}

TEST_F(LogPathTest, NothingOnThePathCanBeRenamedUntilTheLineIsWritten) {
  read_command_line("/vLOGFILE=C:\\Logs\\a\\fw.log");
  bool renamed = true;
  at_step("write C:\\Logs\\a\\fw.log",
          [&renamed] { renamed = sim::rename_by_another_process("C:\\Logs\\a", "C:\\Logs\\b"); });
  log_line("line");
  EXPECT_FALSE(renamed);
  EXPECT_EQ(read_file("C:\\Logs\\a\\fw.log"), "line\r\n");
  EXPECT_TRUE(sim::rename_by_another_process("C:\\Logs\\a", "C:\\Logs\\b")) << "once written";
  EXPECT_EQ(sim::file_security().open_files, 0);
}

TEST_F(LogPathTest, NoDirectoryIsMadeBeyondAPlantedJunction) {
  plant("C:\\Logs\\fw", "C:/Windows/System32", made_by_standard_user());
  read_command_line("/vLOGFILE=C:\\Logs\\fw\\new\\deeper\\fw.log");
  log_line("line");
  EXPECT_TRUE(is_empty("C:/Windows/System32"));
  EXPECT_TRUE(sim::files().directory_attempts.empty());
}

TEST_F(LogPathTest, SlashesAndDotsAreTakenAsWindowsTakesThem) {
  plant("C:\\Logs\\fw", "C:/Windows/System32", made_by_standard_user());
  read_command_line("/vLOGFILE=C:/Logs/fw/fw.log");
  log_line("line");
  EXPECT_TRUE(is_empty("C:/Windows/System32"));

  testing::SimTest::TearDown();
  SetUp();
  read_command_line("/vLOGFILE=C:\\Logs\\.\\x\\..\\y\\\\fw.log");
  log_line("dots");
  EXPECT_EQ(read_file("C:\\Logs\\y\\fw.log"), "dots\r\n");
  EXPECT_FALSE(exists("C:\\Logs\\x"));
}

TEST_F(LogPathTest, JunctionOnlyTrustedAccountsCanChangeIsFollowed) {
  ASSERT_TRUE(fs::create_directories("D:/Logs"));
  plant("C:\\Logs\\fw", "D:/Logs", sim::locked_security(sim::sid_administrators()));
  read_command_line("/vLOGFILE=C:\\Logs\\fw\\new\\fw.log");
  log_line("line");
  EXPECT_EQ(read_file("D:\\Logs\\new\\fw.log"), "line\r\n");

  // The same junction, but standard users may change it: refused, though an administrator owns it.
  testing::SimTest::TearDown();
  SetUp();
  ASSERT_TRUE(fs::create_directories("D:/Logs"));
  plant("C:\\Logs\\fw", "D:/Logs", users_may_modify());
  read_command_line("/vLOGFILE=C:\\Logs\\fw\\new\\fw.log");
  log_line("line");
  EXPECT_TRUE(is_empty("D:/Logs"));

  // A junction is judged as the directory it stands for: deleting its children is a change.
  testing::SimTest::TearDown();
  SetUp();
  ASSERT_TRUE(fs::create_directories("D:/Logs"));
  plant("C:\\Logs\\fw", "D:/Logs",
        sim::locked_security(
            sim::sid_administrators(),
            {sim::allow(sim::sid_users(), sim::kReadAndRun | platform::kFileDeleteChild)}));
  read_command_line("/vLOGFILE=C:\\Logs\\fw\\new\\fw.log");
  log_line("line");
  EXPECT_TRUE(is_empty("D:/Logs"));
}

TEST_F(LogPathTest, ReparsePointsOfOtherKindsAreOrdinaryFoldersAndFiles) {
  // A cloud files placeholder folder, and a log file with a reparse point that is no link.
  constexpr uint32_t kCloudPlaceholder = 0x9000601A;
  ASSERT_TRUE(fs::create_directory("C:/Logs/synced"));
  sim::file_model("C:\\Logs\\synced")->reparse_tag = kCloudPlaceholder;
  std::ofstream("C:/Logs/synced/fw.log") << "old\r\n";
  sim::file_model("C:\\Logs\\synced\\fw.log")->reparse_tag = 0x80000013;  // deduplicated
  read_command_line("/vLOGFILE=C:\\Logs\\synced\\fw.log");
  log_line("line");
  EXPECT_EQ(read_file("C:\\Logs\\synced\\fw.log"), "old\r\nline\r\n");

  // Its name is held from before the file is closed until the line is written: nobody renames
  // it and puts another file there meanwhile.
  std::vector<std::string> renames;
  bool opened = false;  // before the first open nothing holds it yet
  sim::files().before_step = [&renames, &opened](const std::string& step) {
    if (!step.ends_with("\\synced\\fw.log") || step.starts_with("write")) return;
    if (std::exchange(opened, true)) {
      bool renamed =
          sim::rename_by_another_process("C:\\Logs\\synced\\fw.log", "C:\\Logs\\synced\\moved.log");
      renames.push_back(step + (renamed ? ": renamed" : ": refused"));
    }
  };
  log_line("second");
  EXPECT_EQ(renames, (std::vector<std::string>{"hold C:\\Logs\\synced\\fw.log: refused",
                                               "open C:\\Logs\\synced\\fw.log: refused"}));
  EXPECT_EQ(read_file("C:\\Logs\\synced\\fw.log"), "old\r\nline\r\nsecond\r\n");
  sim::files().before_step = nullptr;

  // Whoever may write to it may still rewrite its reparse point while its name is held, so that
  // the open through it reaches another file: refused, that file untouched, the log off.
  std::ofstream("C:/Windows/System32/hosts") << "127.0.0.1 localhost\n";
  int opens = 0;
  sim::files().before_step = [&opens](const std::string& step) {
    if (step != "open C:\\Logs\\synced\\fw.log" || ++opens != 2) return;
    sim::file_model("C:\\Logs\\synced\\fw.log")->leads_to =
        fs::absolute("C:/Windows/System32/hosts");
  };
  log_line("third");
  EXPECT_EQ(read_file("C:\\Windows\\System32\\hosts"), "127.0.0.1 localhost\n");
  sim::file_model("C:\\Logs\\synced\\fw.log")->leads_to.clear();
  log_line("fourth");
  EXPECT_EQ(read_file("C:\\Logs\\synced\\fw.log"), "old\r\nline\r\nsecond\r\n");
  EXPECT_EQ(sim::file_security().open_files, 0);
}

TEST_F(LogPathTest, FolderThatGrantsOnlyPassingThroughKeepsItsLog) {
  // A profile folder, say, that lets the program pass through and read attributes, no more: the
  // log in a folder below it is written. A link there cannot be judged: that line is lost.
  ASSERT_TRUE(fs::create_directories("C:/Users/admin/logs"));
  sim::file_model("C:\\Users\\admin")->granted = 0x001000A0;  // traverse, attributes, wait
  read_command_line("/vLOGFILE=C:\\Users\\admin\\logs\\fw.log");
  log_line("line");
  EXPECT_EQ(read_file("C:\\Users\\admin\\logs\\fw.log"), "line\r\n");

  plant("C:\\Users\\admin\\linked", "C:/Logs", sim::locked_security(sim::sid_administrators()));
  sim::file_model("C:\\Users\\admin\\linked")->granted = 0x001000A0;
  read_command_line("/vLOGFILE=C:\\Users\\admin\\linked\\fw.log");
  log_line("lost");
  EXPECT_FALSE(exists("C:\\Logs\\fw.log"));
  sim::file_model("C:\\Users\\admin\\linked")->granted = 0x001F01FF;
  log_line("judged");
  EXPECT_EQ(read_file("C:\\Logs\\fw.log"), "judged\r\n");
}

TEST_F(LogPathTest, LinkAtTheLogFileIsFollowedOnlyWhenTrusted) {
  std::ofstream("C:/Windows/System32/hosts") << "127.0.0.1 localhost\n";
  auto link_log_to = [](const std::string& target, const platform::Security& security) {
    fs::create_symlink(fs::absolute(target), "C:/Logs/fw.log");
    sim::file_model("C:\\Logs\\fw.log")->security = security;
  };
  link_log_to("C:/Windows/System32/hosts", made_by_standard_user());
  read_command_line("/vLOGFILE=C:\\Logs\\fw.log");
  log_line("line");
  EXPECT_EQ(read_file("C:\\Windows\\System32\\hosts"), "127.0.0.1 localhost\n");
  EXPECT_TRUE(fs::is_symlink("C:/Logs/fw.log"));
  fs::remove("C:/Logs/fw.log");
  log_line("after");
  EXPECT_FALSE(exists("C:\\Logs\\fw.log")) << "the log stays off for the run";

  // A link an administrator made, which only trusted accounts can change, leads to the log; one
  // whose target is missing creates nothing and costs the line, as a missing folder would.
  reset_log_for_test();
  ASSERT_TRUE(fs::create_directories("D:/Logs"));
  link_log_to("D:/Logs/real.log", sim::locked_security(sim::sid_administrators()));
  log_line("lost");
  EXPECT_FALSE(exists("D:\\Logs\\real.log"));
  std::ofstream("D:/Logs/real.log") << "earlier\r\n";
  log_line("followed");
  EXPECT_EQ(read_file("D:\\Logs\\real.log"), "earlier\r\nfollowed\r\n");

  // But a target with a second name is refused, as the file itself would be.
  ASSERT_EQ(::link("C:/Windows/System32/hosts", "D:/Logs/hosts"), 0);
  fs::remove("C:/Logs/fw.log");
  link_log_to("D:/Logs/hosts", sim::locked_security(sim::sid_administrators()));
  log_line("refused");
  EXPECT_EQ(read_file("C:\\Windows\\System32\\hosts"), "127.0.0.1 localhost\n");
}

// On a POSIX system a held link can still be replaced by whoever may change its directory: the
// link is followed only when that directory, too, is changed by nobody but root and the running
// user.
TEST_F(LogPathTest, APosixLinkIsFollowedOnlyWhenItsDirectoryIsTrustedToo) {
  auto posix = [](uint32_t owner, uint32_t mode, bool link) {
    platform::Security security;
    security.has_posix = true;
    security.posix = {owner, 0, mode, link, false};
    return security;
  };
  ASSERT_TRUE(fs::create_directories("D:/Real"));
  plant("C:\\Logs\\fw", "D:/Real", posix(0, 0777, true));
  sim::file_model("C:\\Logs")->security = posix(0, 01777, false);
  read_command_line("/vLOGFILE=C:\\Logs\\fw\\fw.log");
  log_line("refused");
  EXPECT_TRUE(is_empty("D:/Real")) << "anyone may replace the link in a directory open to all";

  reset_log_for_test();
  sim::file_model("C:\\Logs")->security = posix(0, 0755, false);
  log_line("followed");
  EXPECT_EQ(read_file("D:\\Real\\fw.log"), "followed\r\n");

  reset_log_for_test();
  sim::file_model("C:\\Logs")->unreadable = true;
  log_line("lost");
  EXPECT_EQ(read_file("D:\\Real\\fw.log"), "followed\r\n")
      << "a directory whose security cannot be read is no directory to trust";
}

TEST_F(LogPathTest, HardLinkedLogFileIsLeftAlone) {
  std::ofstream("C:/Windows/System32/config.ini") << "[settings]\n";
  ASSERT_EQ(::link("C:/Windows/System32/config.ini", "C:/Logs/fw.log"), 0);
  read_command_line("/vLOGFILE=C:\\Logs\\fw.log");
  log_line("line");
  EXPECT_EQ(read_file("C:\\Logs\\fw.log"), "[settings]\n");
}

TEST_F(LogPathTest, AFailureToOpenCostsTheLineAndNoMore) {
  // A folder that may not be opened now (a log share that grants no list right, a sharing
  // conflict), and a log file with an oplock another process never gives up: that line is lost,
  // the next one is written, and nothing waits.
  ASSERT_TRUE(fs::create_directory("C:/Logs/locked"));
  sim::file_model("C:\\Logs\\locked")->not_allowed = true;
  read_command_line("/vLOGFILE=C:\\Logs\\locked\\fw.log");
  log_line("lost");
  sim::file_model("C:\\Logs\\locked")->not_allowed = false;
  log_line("written");
  EXPECT_EQ(read_file("C:\\Logs\\locked\\fw.log"), "written\r\n");

  sim::file_model("C:\\Logs\\locked\\fw.log")->oplocked = true;
  log_line("lost too");
  sim::file_model("C:\\Logs\\locked\\fw.log")->oplocked = false;
  log_line("again");
  EXPECT_EQ(read_file("C:\\Logs\\locked\\fw.log"), "written\r\nagain\r\n");
  EXPECT_EQ(sim::clock().waited_ms, 0u);
  EXPECT_EQ(sim::file_security().open_files, 0);
}

// Every name below the start is opened by itself, where Windows's reading of whole paths does not
// apply, and the simulated machine then takes "NUL" or "logs." as they are: each row shows that
// the program read the name as Windows reads it first. A path whose file Windows would not make
// creates nothing at all, not even the folders on its way.
TEST_F(LogPathTest, NamesMeanWhatWindowsMakesOfThemAndNoOddNameIsEverCreated) {
  struct Case {
    const char* path;
    const char* lands;  // nullptr: nowhere
  };
  const Case cases[] = {
      {"C:\\logs.\\fw.log.", "C:\\logs\\fw.log"},
      {"C:\\Logs\\a.\\b.\\fw.log...", "C:\\Logs\\a\\b\\fw.log"},
      {"\\\\.\\C:\\dots.\\fw.log.", "C:\\dots\\fw.log"},
      {"\\\\?\\C:\\Logs\\new\\fw.log", "C:\\Logs\\new\\fw.log"},
      // A path that ends in a separator, or in "." or "..", names a folder.
      {"C:\\logs\\", nullptr},
      {"C:\\Logs\\", nullptr},
      {"C:\\Logs\\new\\.", nullptr},
      {"C:\\Logs\\new\\fw.log\\..", nullptr},
      // Devices, as the file or as a folder, relative or not.
      {"NUL", nullptr},
      {"nul.txt", nullptr},
      {"C:\\Logs\\new\\Con", nullptr},
      {"C:\\a\\con\\fw.log", nullptr},
      {"C:\\Logs\\COM1.log", nullptr},
      {"C:\\Logs\\lpt9\\fw.log", nullptr},
      {"C:\\Logs\\AUX.", nullptr},
      // Folders Windows would look for as they are, never making them; names of dots; streams.
      {"C:\\logs..\\fw.log", nullptr},
      {"C:\\Logs\\...\\fw.log", nullptr},
      {"C:\\Logs\\fw.log:hidden", nullptr},
      // The "\\?\" form is taken as it is, so a name Windows would otherwise change is refused.
      {"\\\\?\\C:\\Logs\\fw.log.", nullptr},
      {"\\\\?\\C:\\logs.\\fw.log", nullptr},
      {"\\\\?\\C:\\Logs\\new\\..\\fw.log", nullptr},
      {"\\\\?\\C:\\Logs\\.\\fw.log", nullptr},
      {"\\\\?\\C:\\Logs\\nul", nullptr},
      {"\\\\?\\C:\\Logs\\\\fw.log", nullptr},
      {"\\\\?\\C:\\Logs\\", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    testing::SimTest::TearDown();
    SetUp();
    std::set<std::string> before = everything();
    read_command_line((std::string("/vLOGFILE=") + c.path).c_str());
    log_line("line");
    log_line("next");
    std::set<std::string> made;
    for (const std::string& entry : everything()) {
      if (before.count(entry) == 0) made.insert(entry);
    }
    if (c.lands == nullptr) {
      EXPECT_EQ(made, std::set<std::string>{});
      continue;
    }
    EXPECT_EQ(read_file(c.lands), "line\r\nnext\r\n");
    // The file and the folders made on its way, and nothing else.
    std::set<std::string> expected;
    for (fs::path p = fs::path(sim::host_path(c.lands)); !p.empty(); p = p.parent_path()) {
      if (before.count(p.lexically_normal().string()) == 0) {
        expected.insert(p.lexically_normal().string());
      }
    }
    EXPECT_EQ(made, expected);
  }
}

TEST_F(LogPathTest, OrdinaryPathsKeepWorkingAndNothingStaysOpen) {
  read_command_line("/vLOGFILE=C:\\Logs\\a\\b\\fw.log");
  log_line("one");
  log_line("two");
  EXPECT_EQ(read_file("C:\\Logs\\a\\b\\fw.log"), "one\r\ntwo\r\n");
  EXPECT_EQ(sim::file_security().open_files, 0);

  // A share's path: the server judges its side.
  testing::SimTest::TearDown();
  SetUp();
  read_command_line("/vLOGFILE=\\\\server\\share\\logs\\fw.log");
  log_line("three");
  EXPECT_EQ(read_file("\\\\server\\share\\logs\\fw.log"), "three\r\n");
  EXPECT_EQ(sim::files().directory_attempts, std::vector<std::string>{"\\\\server\\share\\logs"});
}

}  // namespace
}  // namespace fwu
