#include "app/posix_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fwu {
namespace {

ParsedOptions parse(std::vector<const char*> args) {
  args.insert(args.begin(), "fwupdate");
  return parse_posix_options(static_cast<int>(args.size()), args.data());
}

TEST(PosixOptionsTest, NoOptionsIsAnInteractiveRunWithoutLog) {
  ParsedOptions parsed = parse({});
  EXPECT_EQ(parsed.action, OptionsAction::kRun);
  EXPECT_FALSE(parsed.settings.silent);
  EXPECT_TRUE(parsed.settings.notice);
  EXPECT_FALSE(parsed.settings.log_enabled);
}

TEST(PosixOptionsTest, SilentAndLogGiveTheSameSettingsAsTheSwitches) {
  for (auto args : {std::vector<const char*>{"-s", "--log", "/var/log/fw.log"},
                    std::vector<const char*>{"--log=/var/log/fw.log", "--silent"}}) {
    ParsedOptions parsed = parse(args);
    EXPECT_EQ(parsed.action, OptionsAction::kRun);
    EXPECT_TRUE(parsed.settings.silent);
    EXPECT_FALSE(parsed.settings.notice);
    EXPECT_TRUE(parsed.settings.log_enabled);
    EXPECT_EQ(parsed.settings.log_path, "/var/log/fw.log");
  }
}

TEST(PosixOptionsTest, TheLogPathIsTakenWholeAndNothingInItSwitchesSilentModeOn) {
  ParsedOptions parsed = parse({"--log", "/tmp/my logs/fw-setup,1.log"});
  EXPECT_EQ(parsed.settings.log_path, "/tmp/my logs/fw-setup,1.log");
  EXPECT_FALSE(parsed.settings.silent) << "-s inside a path is a name, not an option";
  EXPECT_EQ(parse({"--log", "-s"}).settings.log_path, "-s") << "the argument after --log is FILE";
  EXPECT_EQ(parse({"--log=a", "--log=b"}).settings.log_path, "b");
  std::string longest(kMaxLogPath, 'x');
  EXPECT_EQ(parse({"--log", longest.c_str()}).settings.log_path, longest);
}

TEST(PosixOptionsTest, WrongUsageIsRefusedBeforeAnythingRuns) {
  const std::vector<std::vector<const char*>> wrong = {
      {"--log"}, {"--log="},    {"--log", ""}, {"/S"},          {"-S"},
      {"-x"},    {"--silentx"}, {"extra"},     {"--", "extra"}, {"-s", "--logfile=x"},
  };
  for (const auto& args : wrong) {
    ParsedOptions parsed = parse(args);
    EXPECT_EQ(parsed.action, OptionsAction::kUsageError) << args[0];
    EXPECT_FALSE(parsed.error.empty()) << args[0];
  }
  std::string too_long(kMaxLogPath + 1, 'x');
  EXPECT_EQ(parse({"--log", too_long.c_str()}).action, OptionsAction::kUsageError);
  EXPECT_EQ(parse({"-s", "--"}).action, OptionsAction::kRun) << "-- alone ends the options";
}

TEST(PosixOptionsTest, HelpAndVersionEndTheReadingWhereTheyStand) {
  EXPECT_EQ(parse({"-s", "--help", "--bogus"}).action, OptionsAction::kHelp);
  EXPECT_EQ(parse({"-h"}).action, OptionsAction::kHelp);
  EXPECT_EQ(parse({"--version", "--help"}).action, OptionsAction::kVersion);
  EXPECT_EQ(parse({"--bogus", "--help"}).action, OptionsAction::kUsageError);
  std::string usage = posix_usage();
  EXPECT_NE(usage.find("--silent"), std::string::npos);
  EXPECT_NE(usage.find("--log FILE"), std::string::npos);
}

TEST(PosixOptionsTest, ExitStatusesKeepEveryResultCodeApart) {
  const std::vector<std::pair<int, int>> expected = {
      {0, 0}, {1, 1}, {1001, 233}, {1003, 235}, {1004, 236}, {1005, 237}, {1007, 239}};
  for (auto [code, status] : expected) EXPECT_EQ(posix_exit_status(code), status) << code;
}

TEST(PosixOptionsTest, UseSettingsFixesWhatTheProgramReads) {
  reset_settings_for_test();
  ParsedOptions parsed = parse({"-s", "--log", "/tmp/fw.log"});
  use_settings(parsed.settings);
  read_command_line("");  // what the program then does with the empty argument text
  EXPECT_TRUE(settings().silent);
  EXPECT_FALSE(settings().notice);
  EXPECT_EQ(settings().log_path, "/tmp/fw.log");
  reset_settings_for_test();
}

}  // namespace
}  // namespace fwu
