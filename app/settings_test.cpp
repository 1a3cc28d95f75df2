#include "app/settings.h"

#include <gtest/gtest.h>

#include <string>

namespace fwu {
namespace {

struct Expected {
  const char* argument_text;
  bool silent;
  const char* log_path;  // nullptr: no log
};

void expect_settings(const Expected& e) {
  SCOPED_TRACE(std::string("argument text: ") + e.argument_text);
  reset_settings_for_test();
  read_command_line(e.argument_text);
  const ProgramSettings& s = settings();
  EXPECT_EQ(s.silent, e.silent);
  EXPECT_EQ(s.notice, !e.silent);
  EXPECT_EQ(s.log_enabled, e.log_path != nullptr);
  EXPECT_EQ(s.log_path, e.log_path != nullptr ? e.log_path : "");
}

TEST(SettingsTest, SilentSwitchIsACaseSensitiveSubstring) {
  for (const Expected& e : {
           Expected{"", false, nullptr},
           Expected{"/S", true, nullptr},
           Expected{"-S", true, nullptr},
           Expected{"/s", true, nullptr},
           Expected{"-s", true, nullptr},
           Expected{"/Silent", true, nullptr},
           Expected{"-start", true, nullptr},
           Expected{"C:\\tools\\fw-setup\\x", true, nullptr},
           Expected{"/X -x S s /q", false, nullptr},
           Expected{"S/ s- /\\S", false, nullptr},
       }) {
    expect_settings(e);
  }
}

TEST(SettingsTest, LogPathIsCutBetweenTheSkipSetAndTheStopSet) {
  for (const Expected& e : {
           Expected{"/vLOGFILE=C:\\Logs\\fw.log", false, "C:\\Logs\\fw.log"},
           Expected{"/v LOGFILE= C:\\Logs\\fw.log", false, "C:\\Logs\\fw.log"},
           Expected{"/vLOGFILE=\"C:\\Logs\\fw.log\"", false, "C:\\Logs\\fw.log"},
           Expected{"/vLOGFILE=C:\\Temp\\fw.log /S", true, "C:\\Temp\\fw.log"},
           Expected{"/vLOGFILE=\"C:\\Program Files\\fw.log\"", false, "C:\\Program"},
           Expected{"/vLOGFILE=C:\\fw-setup.log", true, "C:\\fw"},
           Expected{"/vLOGFILE=:\" =:\"x.log", false, "x.log"},
           Expected{"/vLOGFILE=a,b", false, "a"},
           Expected{"/vLOGFILE=a/b", false, "a"},
           Expected{"/vLOGFILE=a b", false, "a"},
           Expected{"/vLOGFILE=a\tb", false, "a\tb"},
           Expected{"/vLOGFILE= fw.log", false, "fw.log"},
           Expected{"x /vLOGFILE=", false, nullptr},
           Expected{"/vLOGFILE= /S", true, nullptr},
           Expected{"/vLOGFILE=\"\"", false, nullptr},
       }) {
    expect_settings(e);
  }
}

TEST(SettingsTest, LogSwitchIsCaseSensitiveAndTheJoinedFormWins) {
  for (const Expected& e : {
           Expected{"/vlogfile=C:\\fw.log", false, nullptr},
           Expected{"/V LOGFILE=C:\\fw.log", false, nullptr},
           Expected{"/VLOGFILE=C:\\fw.log", false, nullptr},
           Expected{"/v LOGFILE=first.log /vLOGFILE=second.log", false, "second.log"},
           Expected{"/vLOGFILE=first.log /v LOGFILE=second.log", false, "first.log"},
       }) {
    expect_settings(e);
  }
}

TEST(SettingsTest, OverLongLogPathLeavesTheLogOff) {
  std::string longest(kMaxLogPath, 'a');
  reset_settings_for_test();
  read_command_line("/vLOGFILE=" + longest);
  EXPECT_TRUE(settings().log_enabled);
  EXPECT_EQ(settings().log_path, longest);

  reset_settings_for_test();
  read_command_line("/vLOGFILE=" + longest + "b /x");
  EXPECT_FALSE(settings().log_enabled);
  EXPECT_EQ(settings().log_path, "");
}

TEST(SettingsTest, ArgumentTextSkipsTheProgramNameAndTheBlanksAfterIt) {
  EXPECT_EQ(argument_text("\"C:\\Program Files\\fw.exe\"  /S -x"), "/S -x");
  EXPECT_EQ(argument_text("\"C:\\dir-s\\fw.exe\"/vLOGFILE=a"), "/vLOGFILE=a");
  EXPECT_EQ(argument_text("fw.exe \t /S"), "/S");
  EXPECT_EQ(argument_text("C:\\tools-s\\fw.exe"), "");
  EXPECT_EQ(argument_text("fw.exe   "), "");
  EXPECT_EQ(argument_text("\"never closed /S"), "");
  EXPECT_EQ(argument_text(""), "");
}

TEST(SettingsTest, ProgramNameIsNeverSearched) {
  reset_settings_for_test();
  read_command_line(argument_text("\"C:\\fw-s\\/vLOGFILE=x.log\\fw.exe\" /x"));
  EXPECT_FALSE(settings().silent);
  EXPECT_FALSE(settings().log_enabled);
}

}  // namespace
}  // namespace fwu
