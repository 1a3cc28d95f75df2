// The names Windows reads otherwise than they are written. Only the names the command line can
// carry reach the log walk (it ends a path at a blank), so the names with spaces are shown here.
#include "log/windows_names.h"

#include <gtest/gtest.h>

#include <string>

namespace fwu {
namespace {

TEST(WindowsNamesTest, DevicesInEveryFormAVersionOfWindowsTakesThem) {
  for (const char* name :
       {"NUL",        "nul",      "Con",     "aux",         "PRN",         "COM1",    "com9",
        "COM0",       "LPT1",     "lpt9",    "LPT0",        "CONIN$",      "conout$", "NUL.txt",
        "nul.tar.gz", "nul .log", "con  ",   "COM1.ext",    "COM1 . .ext", "aux.",    "nul:",
        "nul:.txt",   "COM\xB9",  "lpt\xB2", "COM\xC2\xB3", "LPT\xC2\xB9"}) {
    EXPECT_TRUE(is_device_name(name)) << name;
  }
  for (const char* name : {"NULL", "nul1", "CON1", "COM10", "LPT", "COM", "COMA", "com1x", " nul",
                           "nul_", "xnul", "console", "fw.log", "", ".nul", "COM\xB4", "LPT\xC2"}) {
    EXPECT_FALSE(is_device_name(name)) << name;
  }
}

TEST(WindowsNamesTest, TrailingDotsAndSpacesGoAsWindowsDropsThem) {
  struct Case {
    const char* name;
    bool last;
    const char* meant;  // nullptr: refused
  };
  const Case cases[] = {
      {"fw.log", true, "fw.log"},
      {"fw.log.", true, "fw.log"},
      {"fw.log . .", true, "fw.log"},
      {"logs ", true, "logs"},
      {".hidden", true, ".hidden"},
      {"a.b", false, "a.b"},
      {"logs.", false, "logs"},
      {".config", false, ".config"},
      // Windows would look for these directories as they are, and its own creation never makes
      // them.
      {"logs..", false, nullptr},
      {"logs ", false, nullptr},
      {"logs. ", false, nullptr},
      // Nothing but dots and spaces.
      {"...", true, nullptr},
      {"...", false, nullptr},
      {". .", true, nullptr},
      {" ", false, nullptr},
      // Devices, here or as the file, and streams.
      {"nul.txt", true, nullptr},
      {"con", false, nullptr},
      {"Com1.", false, nullptr},
      {"fw.log:x", true, nullptr},
      {"logs::$INDEX_ALLOCATION", false, nullptr},
      {"logs.:x", false, nullptr},
  };
  for (const Case& c : cases) {
    std::string meant = "unchanged";
    bool taken = windows_name(c.name, c.last, &meant);
    EXPECT_EQ(taken, c.meant != nullptr) << '"' << c.name << "\" last " << c.last;
    if (c.meant != nullptr) {
      EXPECT_EQ(meant, c.meant) << c.name;
    }
  }
}

TEST(WindowsNamesTest, VerbatimNamesAreTakenOnlyAsWindowsWouldWriteThem) {
  for (const char* name : {"fw.log", ".hidden", "a.b", "logs"}) {
    EXPECT_TRUE(plain_name(name)) << name;
  }
  for (const char* name : {"", ".", "..", "logs.", "fw.log ", "nul", "NUL.txt", "lpt1", "a:b"}) {
    EXPECT_FALSE(plain_name(name)) << '"' << name << '"';
  }
}

}  // namespace
}  // namespace fwu
