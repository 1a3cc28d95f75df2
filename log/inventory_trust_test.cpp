// mup.xml is trusted only when no standard user can have written it.
#include <unistd.h>

#include <fstream>
#include <string>

#include "app/settings.h"
#include "log/inventory.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

const char kMup[] =
    "<registrykey componentID=\"tp\"><name>HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\Touchpad</name>"
    "<value>17</value><displayName>HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\Display</displayName>"
    "<displayValue>\"Touchpad firmware 17\"</displayValue></registrykey>";

class InventoryTrustTest : public testing::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    read_command_line("/vLOGFILE=fw.log");
  }

  static void write_mup(const std::string& text) {
    std::ofstream("mup.xml", std::ios::binary) << text;
  }

  static sim::FileModel& mup_model() {
    sim::FileModel* model = sim::file_model("mup.xml");
    EXPECT_NE(model, nullptr);
    static sim::FileModel nowhere;
    return model != nullptr ? *model : nowhere;
  }

  // Runs the step and expects nothing written, nothing left open and `line` alone in the log.
  void expect_refused(const std::string& line) {
    write_inventory_record(hold_current_directory());
    EXPECT_TRUE(sim::registry().keys.empty());
    EXPECT_TRUE(sim::registry().rights_requested.empty());
    EXPECT_EQ(read_file("fw.log"), line + "\r\n");
    EXPECT_EQ(sim::file_security().open_files, 0);
  }
};

TEST_F(InventoryTrustTest, TrustedFileWritesExactlyWhatItDidBefore) {
  // Owned by TrustedInstaller, changed only by it, SYSTEM and Administrators, read by Users; an
  // entry for Users that only serves to be inherited does not count.
  write_mup(kMup);
  platform::Ace inherit_only = sim::allow(sim::sid_users(), platform::kGenericAll);
  inherit_only.flags = platform::kAceInheritOnly;
  mup_model().security = sim::locked_security(
      sim::sid_trusted_installer(), {sim::allow(sim::sid_users(), sim::kReadAndRun), inherit_only});
  write_inventory_record(hold_current_directory());
  const sim::RegistryKeyRecord* key = sim::find_key("SOFTWARE\\X\\Touchpad");
  const sim::RegistryKeyRecord* display = sim::find_key("SOFTWARE\\X\\Display");
  ASSERT_NE(key, nullptr);
  ASSERT_NE(display, nullptr);
  EXPECT_EQ(key->default_data, std::string("17\0", 3));
  EXPECT_EQ(display->default_data, std::string("Touchpad firmware 17\0", 21));
  EXPECT_EQ(sim::registry().keys.size(), 4u) << "SOFTWARE, SOFTWARE\\X and the two keys";
  EXPECT_EQ(read_file("fw.log"), "");
  EXPECT_EQ(sim::file_security().open_files, 0);
}

TEST_F(InventoryTrustTest, FileOfAStandardUserIsRefused) {
  write_mup(kMup);
  mup_model().security = sim::locked_security(sim::sid_standard_user());
  expect_refused(
      "Registry key inventory skipped: mup.xml is not owned by SYSTEM, Administrators, "
      "TrustedInstaller or the account the program runs as.");
}

TEST_F(InventoryTrustTest, FileThatAnotherAccountMayChangeIsRefused) {
  for (uint32_t right : {platform::kFileWriteData, platform::kFileAppendData, platform::kDelete,
                         platform::kWriteDac, platform::kWriteOwner, platform::kGenericWrite}) {
    SCOPED_TRACE(right);
    std::filesystem::remove("fw.log");
    write_mup(kMup);
    mup_model().security =
        sim::locked_security(sim::sid_administrators(), {sim::allow(sim::sid_users(), right)});
    expect_refused(
        "Registry key inventory skipped: mup.xml may be changed by an account other than SYSTEM, "
        "Administrators, TrustedInstaller and the account the program runs as.");
  }
}

TEST_F(InventoryTrustTest, FileWithoutAnAccessListIsRefused) {
  write_mup(kMup);
  mup_model().security.has_dacl = false;
  mup_model().security.dacl.clear();
  expect_refused("Registry key inventory skipped: mup.xml has no access control list.");
}

TEST_F(InventoryTrustTest, EntryOfAnUnknownTypeIsRefused) {
  write_mup(kMup);
  mup_model().security.dacl.push_back({platform::AceType::kOther, 0, 0, {}});
  expect_refused(
      "Registry key inventory skipped: mup.xml has an access control entry of an unknown type.");
}

TEST_F(InventoryTrustTest, SecurityThatCannotBeReadIsRefused) {
  write_mup(kMup);
  mup_model().unreadable = true;
  expect_refused("Registry key inventory skipped: the security of mup.xml cannot be read.");
}

TEST_F(InventoryTrustTest, LinkToATrustedFileIsRefused) {
  // The target is an administrator's file; the link's own security does not matter either.
  ASSERT_TRUE(std::filesystem::create_directory("package"));
  std::ofstream("package/mup.xml") << kMup;
  std::filesystem::create_symlink("package/mup.xml", "mup.xml");
  expect_refused("Registry key inventory skipped: mup.xml is a link.");
  std::filesystem::remove("mup.xml");
  std::filesystem::create_directory_symlink("package", "mup.xml");
  expect_refused(
      "Registry key inventory skipped: mup.xml is a link.\r\n"
      "Registry key inventory skipped: mup.xml is a link.");
}

TEST_F(InventoryTrustTest, ReparsePointOfAnotherKindIsReadThroughAndMustStayTheSameFile) {
  // A cloud file placeholder is an ordinary file, read through its filter.
  write_mup(kMup);
  mup_model().reparse_tag = 0x9000601A;
  write_inventory_record(hold_current_directory());
  ASSERT_NE(sim::find_key("SOFTWARE\\X\\Touchpad"), nullptr);
  EXPECT_EQ(sim::find_key("SOFTWARE\\X\\Touchpad")->default_data, std::string("17\0", 3));
  EXPECT_EQ(read_file("fw.log"), "");

  // One whose open through it reaches another file (a trusted one, with other keys) is refused.
  testing::SimTest::TearDown();
  SetUp();
  write_mup(kMup);
  mup_model().reparse_tag = 0x9000601A;
  std::ofstream("other.xml") << std::string(kMup).replace(std::string(kMup).find("17"), 2, "99");
  mup_model().leads_to = std::filesystem::absolute("other.xml");
  expect_refused(
      "Registry key inventory skipped: mup.xml opened through its reparse point is another file.");
}

TEST_F(InventoryTrustTest, CurrentDirectoryIsTheOneHeldFromTheStart) {
  // Held before a user renames the folder and puts another one with their own mup.xml in its
  // place: the record comes from the folder the run started in.
  ASSERT_TRUE(std::filesystem::create_directory("package"));
  std::ofstream("package/mup.xml") << kMup;
  sim::file_model("package\\mup.xml")->security = sim::locked_security(sim::sid_administrators());
  ASSERT_EQ(chdir("package"), 0);
  platform::HeldFile here = hold_current_directory();
  ASSERT_EQ(chdir(".."), 0);
  EXPECT_FALSE(sim::rename_by_another_process("package", "moved")) << "held against renaming";
  write_inventory_record(here);
  EXPECT_NE(sim::find_key("SOFTWARE\\X\\Touchpad"), nullptr);
}

TEST_F(InventoryTrustTest, HardLinkedFileIsRefused) {
  std::ofstream("elsewhere.xml") << kMup;
  ASSERT_EQ(::link("elsewhere.xml", "mup.xml"), 0);
  expect_refused("Registry key inventory skipped: mup.xml has more than one name.");
}

TEST_F(InventoryTrustTest, FileOnANetworkVolumeIsRefusedWhateverItsSecurity) {
  write_mup(kMup);
  mup_model().network_volume = true;
  expect_refused("Registry key inventory skipped: mup.xml is on a network volume.");
}

TEST_F(InventoryTrustTest, FilesUpToOneMebibyteAreRead) {
  // The record at the start, then padding up to the cap: read whole.
  std::string text = kMup;
  text.resize(kMaxMupSize, ' ');
  write_mup(text);
  write_inventory_record(hold_current_directory());
  EXPECT_NE(sim::find_key("SOFTWARE\\X\\Display"), nullptr);

  sim::registry().keys.clear();
  sim::registry().rights_requested.clear();
  text.push_back(' ');
  write_mup(text);
  expect_refused("Registry key inventory skipped: mup.xml is larger than 1 MiB.");
}

TEST_F(InventoryTrustTest, OplockThatIsNeverGivenUpCostsTheRecordNotTheRun) {
  // Users may read a trusted mup.xml, and so hold an oplock on it and never acknowledge its break:
  // the open fails at once instead of waiting.
  write_mup(kMup);
  mup_model().oplocked = true;
  write_inventory_record(hold_current_directory());
  // The same for the current directory itself, opened by name at the start.
  mup_model().oplocked = false;
  sim::file_model(".")->oplocked = true;
  platform::HeldFile here = hold_current_directory();
  EXPECT_FALSE(here.is_open());
  write_inventory_record(here);
  EXPECT_TRUE(sim::registry().keys.empty());
  EXPECT_EQ(read_file("fw.log"), "");
  EXPECT_EQ(sim::clock().waited_ms, 0u);
  EXPECT_EQ(sim::file_security().open_files, 0);
}

TEST_F(InventoryTrustTest, FileThatCannotBeOpenedEndsTheStepQuietly) {
  ASSERT_TRUE(std::filesystem::create_directory("mup.xml"));
  write_inventory_record(hold_current_directory());
  std::filesystem::remove("mup.xml");
  write_mup(kMup);
  mup_model().not_allowed = true;
  write_inventory_record(hold_current_directory());
  EXPECT_TRUE(sim::registry().keys.empty());
  EXPECT_EQ(read_file("fw.log"), "");
}

}  // namespace
}  // namespace fwu
