// The Linux backend's files and terminal, on the machine's own file system: what the core is told
// of links, pipes, owners and modes, and the question asked with no terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/file_system.h"
#include "platform/ui.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class FileSystemLinuxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/fwu-files-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    chmod(dir_.c_str(), 0755);
    OpenResult result;
    root_ = HeldFile::open_start("/", &result);
    ASSERT_EQ(result, OpenResult::kOpened);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The held test directory, walked from the root one name at a time as the core walks.
  HeldFile held_dir() {
    OpenResult result;
    HeldFile at = HeldFile::open_start("/", &result);
    for (const auto& part : fs::path(dir_).relative_path()) {
      at = at.open_directory(part.c_str(), false, &result);
      EXPECT_EQ(result, OpenResult::kOpened) << part;
    }
    return at;
  }
  std::string text_of(const std::string& name) {
    std::ifstream in(dir_ + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string dir_;
  HeldFile root_;
};

TEST_F(FileSystemLinuxTest, ALinkIsHeldItselfUnlessFollowedAndTellsItsOwnerAndDirectory) {
  fs::create_directory(dir_ + "/real");
  fs::create_directory_symlink(dir_ + "/real", dir_ + "/link");
  HeldFile here = held_dir();
  OpenResult result;
  HeldFile link = here.open_directory("link", false, &result);
  ASSERT_EQ(result, OpenResult::kOpened);
  FileFacts facts;
  ASSERT_TRUE(link.facts(&facts));
  EXPECT_TRUE(facts.reparse_point);
  EXPECT_TRUE(is_link(facts.reparse_tag));
  Security security;
  ASSERT_TRUE(link.security(&security));
  EXPECT_TRUE(security.has_posix);
  EXPECT_TRUE(security.posix.link);
  EXPECT_EQ(security.posix.owner, geteuid());

  HeldFile target = here.open_directory("link", true, &result);
  ASSERT_TRUE(target.facts(&facts));
  EXPECT_FALSE(facts.reparse_point);
  FileFacts real;
  ASSERT_TRUE(here.open_directory("real", false, &result).facts(&real));
  EXPECT_EQ(facts.index, real.index);
  EXPECT_EQ(facts.volume, real.volume);

  ASSERT_TRUE(here.security(&security));
  EXPECT_FALSE(security.posix.link);
  EXPECT_EQ(security.posix.mode, 0755u);
  chmod(dir_.c_str(), 01777);
  ASSERT_TRUE(here.security(&security));
  EXPECT_EQ(security.posix.mode, 01777u) << "read from the held descriptor, now";
}

TEST_F(FileSystemLinuxTest, TheLogIsAppendedLineByLineAndNeverThroughALinkUnlessAsked) {
  HeldFile here = held_dir();
  OpenResult result;
  HeldFile made = here.create_directory("logs", &result);
  ASSERT_EQ(result, OpenResult::kOpened);
  AppendFile log = AppendFile::open(made, "fw.log", &result);
  ASSERT_EQ(result, OpenResult::kOpened);
  ASSERT_TRUE(log.write_line("first"));
  ASSERT_TRUE(log.write_line("two\nlines"));
  log = AppendFile();
  log = AppendFile::open(made, "fw.log", &result);
  ASSERT_TRUE(log.write_line("again"));
  EXPECT_EQ(text_of("logs/fw.log"), "first\ntwo\nlines\nagain\n");

  std::ofstream(dir_ + "/target") << "kept\n";
  fs::create_symlink(dir_ + "/target", dir_ + "/logs/link.log");
  AppendFile link = AppendFile::open(made, "link.log", &result);
  FileFacts facts;
  ASSERT_TRUE(link.is_open());
  ASSERT_TRUE(link.facts(&facts));
  EXPECT_TRUE(facts.reparse_point);
  EXPECT_FALSE(link.write_line("through")) << "a link held itself takes no line";
  AppendFile through = AppendFile::open_through_reparse_point(made, "link.log", &result);
  ASSERT_TRUE(through.write_line("through"));
  EXPECT_EQ(text_of("target"), "kept\nthrough\n");

  fs::create_symlink(dir_ + "/missing", dir_ + "/logs/dangling.log");
  EXPECT_FALSE(AppendFile::open_through_reparse_point(made, "dangling.log", &result).is_open());
  EXPECT_FALSE(fs::exists(dir_ + "/missing")) << "nothing is created through a link";
}

TEST_F(FileSystemLinuxTest, PipesAreNeitherWaitedOnNorTakenForFiles) {
  ASSERT_EQ(mkfifo((dir_ + "/pipe").c_str(), 0600), 0);
  HeldFile here = held_dir();
  OpenResult result;
  AppendFile log = AppendFile::open(here, "pipe", &result);
  EXPECT_FALSE(log.is_open() && log.write_line("lost")) << "and the open did not wait";
  HeldFile read = here.open_file_to_read("pipe", &result);
  FileFacts facts;
  EXPECT_FALSE(read.is_open() && read.facts(&facts));
  char byte = 0;
  EXPECT_FALSE(read.read(&byte, 1));
}

TEST_F(FileSystemLinuxTest, AFileIsReadWholeFromItsDescriptorAndTellsItsLinksAndOwner) {
  std::ofstream(dir_ + "/mup.xml") << "<xml/>";
  chmod((dir_ + "/mup.xml").c_str(), 0664);
  HeldFile here = held_dir();
  OpenResult result;
  HeldFile file = here.open_file_to_read("mup.xml", &result);
  FileFacts facts;
  ASSERT_TRUE(file.facts(&facts));
  EXPECT_EQ(facts.size, 6u);
  EXPECT_EQ(facts.links, 1u);
  Security security;
  ASSERT_TRUE(file.security(&security));
  EXPECT_EQ(security.posix.mode, 0664u);
  EXPECT_FALSE(security.posix.extended_acl);
  bool remote = true;
  ASSERT_TRUE(file.on_network_volume(&remote));
  EXPECT_FALSE(remote);
  char text[7] = {};
  ASSERT_TRUE(file.read(text, 6));
  EXPECT_STREQ(text, "<xml/>");
  EXPECT_FALSE(file.read(text, 7)) << "fewer bytes than asked is no read";
  ASSERT_EQ(link((dir_ + "/mup.xml").c_str(), (dir_ + "/second").c_str()), 0);
  ASSERT_TRUE(file.facts(&facts));
  EXPECT_EQ(facts.links, 2u);
  EXPECT_EQ(here.open_file_to_read("absent", &result).is_open(), false);
  EXPECT_EQ(result, OpenResult::kNotFound);
}

TEST(TerminalTest, WithoutATerminalAQuestionIsAnsweredNoAndANoticeIsOk) {
  int saved = dup(STDIN_FILENO);
  int null = open("/dev/null", O_RDONLY);
  ASSERT_GE(null, 0);
  dup2(null, STDIN_FILENO);
  int question = message_box(u"Caption", u"Update?", 0x34);
  int defaulting_no = message_box(u"Caption", u"Update?", 0x134);
  int notice = message_box(u"Caption", u"Done.", 0x40);
  dup2(saved, STDIN_FILENO);
  close(saved);
  close(null);
  EXPECT_EQ(question, 7);
  EXPECT_EQ(defaulting_no, 7);
  EXPECT_EQ(notice, 1);
  // Nothing on a terminal to keep up: the notice starts and stops at once.
  const std::u16string texts[] = {u"Please wait."};
  stop_notice(start_notice(u"Caption", texts, 1));
}

}  // namespace
}  // namespace platform
