// The simulated machine reads names as Windows does where that is the system's part: a whole path
// opened by name as Windows reads it, one name opened in a held directory as it is.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_system.h"
#include "testing/sim_test.h"

namespace sim {
namespace {

namespace fs = std::filesystem;
using platform::FileFacts;
using platform::HeldFile;
using platform::OpenResult;

using FileSystemSimTest = fwu::testing::SimTest;

// Whether both open and hold the same directory.
bool same(const HeldFile& a, const HeldFile& b) {
  FileFacts first;
  FileFacts second;
  return a.facts(&first) && b.facts(&second) && first.volume == second.volume &&
         first.index == second.index;
}

HeldFile start(const char* name, OpenResult* result) {
  return HeldFile::open_start(name, result);
}

TEST_F(FileSystemSimTest, StartIsOpenedAsWindowsReadsAWholePath) {
  ASSERT_TRUE(fs::create_directories("C:/Logs"));
  ASSERT_TRUE(fs::create_directories("server/share"));
  OpenResult result;
  HeldFile logs = start("C:\\Logs", &result);
  ASSERT_TRUE(logs.is_open());
  EXPECT_TRUE(same(start("C:\\Logs. .", &result), logs));
  EXPECT_TRUE(same(start("C:\\Logs.\\", &result), logs));
  EXPECT_TRUE(same(start("\\\\?\\C:\\Logs", &result), logs));
  EXPECT_TRUE(same(start("\\\\.\\C:\\Logs.", &result), logs));
  EXPECT_TRUE(
      same(start("\\\\?\\UNC\\server\\share\\", &result), start("\\\\server\\share", &result)));
  EXPECT_FALSE(exists("C:\\Logs. .")) << "nothing made by the name as written";

  // "\\?\" takes the name as it is.
  HeldFile dotted = start("\\\\?\\C:\\Logs.", &result);
  ASSERT_TRUE(dotted.is_open());
  EXPECT_FALSE(same(dotted, logs));

  // The last name a device: no directory is opened.
  for (const char* device : {"NUL", "C:\\Logs\\con", "C:\\Logs\\com1.txt", "lpt1 "}) {
    EXPECT_FALSE(start(device, &result).is_open()) << device;
    EXPECT_EQ(result, OpenResult::kFailed) << device;
  }
}

TEST_F(FileSystemSimTest, NameInAHeldDirectoryIsTakenAsItIs) {
  ASSERT_TRUE(fs::create_directories("C:/Logs"));
  OpenResult result;
  HeldFile root = start("C:\\", &result);
  ASSERT_TRUE(root.is_open());
  // As NTFS would make them, though Windows's reading of whole paths never does.
  for (const char* name : {"logs.", "nul", "Logs "}) {
    EXPECT_TRUE(root.create_directory(name, &result).is_open()) << name;
    EXPECT_TRUE(fs::is_directory(std::string("C:/") + name)) << name;
  }
  // Names no single name can be: nothing opened or made, the held directory's parent included.
  for (const char* name :
       {"", ".", "..", "Logs/a", "Logs\\a", "a:b", "a*b", "a?", "a|b", "a\x01"}) {
    EXPECT_FALSE(root.open_directory(name, false, &result).is_open()) << name;
    EXPECT_EQ(result, OpenResult::kFailed) << name;
    EXPECT_FALSE(root.create_directory(name, &result).is_open()) << name;
    EXPECT_FALSE(platform::AppendFile::open(root, name, &result).is_open()) << name;
  }
  EXPECT_FALSE(exists("C:\\a")) << "no half of a name made";
  EXPECT_TRUE(fs::is_empty("C:/Logs"));
}

}  // namespace
}  // namespace sim
