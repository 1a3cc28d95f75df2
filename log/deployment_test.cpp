// The places a package is really run from, with the owner and the inherited access list Windows
// gives by default to a file and a folder made there, and what the program must do with each:
// whether mup.xml there writes the inventory record, and whether a junction made there, which
// gets the folder's list, is followed when the log path leads through it.
//
// Where the lists come from. The rules are Microsoft's:
// - "Owner of a New Object" and "TOKEN_OWNER structure (winnt.h)": a new object's owner is the
//   default owner of the creator's token. The "TOKEN_OWNER structure (ntifs.h)" page adds that a
//   group can be that owner only when it is not deny-only, so an administrator's unelevated token
//   (Explorer), where Administrators is deny-only, makes files owned by the user's own account.
// - "How Security Descriptors are Set on New Directory Objects": for members of the built-in
//   Administrators group the default owner is the Administrators group, so an elevated process
//   makes files owned by Administrators.
// - "ACE Inheritance Rules": an object-inherit entry reaches files as an effective entry; a
//   container-inherit entry reaches subfolders as an effective and still inheritable entry and
//   files not at all; an inherit-only entry does not apply to the folder that holds it. Every
//   inherited entry carries INHERITED_ACE.
// - "2.5.3.4.2 ComputeACL" ([MS-DTYP]): an inherited CREATOR OWNER entry names the new object's
//   owner, and on a subfolder an entry with generic rights splits into an effective entry with the
//   mapped rights and an inherit-only entry that keeps the generic ones.
// - "GetVolumeInformationW function (fileapi.h)", FILE_PERSISTENT_ACLS: FAT neither keeps nor
//   enforces access lists; "GetSecurityDescriptorDacl function (securitybaseapi.h)": a NULL DACL
//   allows all access.
// The parents' lists themselves are not on any Microsoft page we found. They are the well-known
// defaults of Windows 10 and 11 as icacls and accesschk print them:
// - C:\ : Administrators and SYSTEM full, Users read and run, Authenticated Users modify on
//   subfolders and files (inherit-only) and create-folders on the root itself, as the Windows 10
//   STIG's check text lists it; a folder made there reads, in a Get-Acl listing posted on an MVP
//   blog, (A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)
//   (A;OICIIOID;SDGXGWGR;;;AU).
// - C:\ProgramData: SYSTEM and Administrators full, CREATOR OWNER full (inherit-only), Users read
//   and run, and Users add-file, add-subfolder, write-attributes and write-extended-attributes on
//   the folder and its subfolders but not on files (container-inherit only), as accesschk prints
//   it.
// - C:\Windows\Temp: SYSTEM and Administrators full, CREATOR OWNER full (inherit-only), Users
//   traverse, add-file and add-subfolder on the folder and its subfolders but not on files
//   (container-inherit only), IIS_IUSRS list.
// - C:\Windows: TrustedInstaller full on subfolders only, SYSTEM and Administrators full on what
//   is made inside, Users and both application-package groups read and run, CREATOR OWNER full.
//   These two lists are icacls output as it is commonly seen; we found no page that prints them.
// - A profile (C:\Users\name, whose Downloads and AppData\Local\Temp inherit it): SYSTEM,
//   Administrators and the user full control.
// - FAT: a file system without security answers a query with a made-up descriptor: owner Everyone
//   and a NULL DACL (Get-Acl shows "Everyone Allow FullControl"); no page we found says so.
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "log/inventory.h"
#include "log/log_file.h"
#include "log/trust.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

using platform::Ace;
using platform::Security;
using platform::Sid;

// Inheritance flags of an entry, as the system stores them.
constexpr uint8_t kObjectInherit = 0x01;
constexpr uint8_t kContainerInherit = 0x02;
constexpr uint8_t kInheritOnly = 0x08;
constexpr uint8_t kInherited = 0x10;
constexpr uint8_t kBoth = kObjectInherit | kContainerInherit;

// Rights: full control, modify, read and run, and the narrow sets the parents grant.
constexpr uint32_t kFull = sim::kAllRights;                // FILE_ALL_ACCESS, icacls (F)
constexpr uint32_t kModify = 0x001301BF;                   // icacls (M)
constexpr uint32_t kReadRun = sim::kReadAndRun;            // icacls (RX)
constexpr uint32_t kAddFileFolderAttributes = 0x00000116;  // (WD,AD,WEA,WA)
constexpr uint32_t kTraverseAddFileFolder = 0x00100026;    // (S,WD,AD,X)
constexpr uint32_t kListSynchronize = 0x00100001;          // (S,RD)
constexpr uint32_t kGenericModify = 0xE0010000;            // SDGXGWGR: the generic form of M
constexpr uint32_t kGenericReadRun = 0xA0000000;           // (GR,GE)

Sid iis_iusrs() {
  return {5, {32, 568}};
}
Sid all_application_packages() {
  return {15, {2, 1}};
}
Sid all_restricted_application_packages() {
  return {15, {2, 2}};
}

Ace entry(const Sid& sid, uint32_t mask, uint8_t flags) {
  return {platform::AceType::kAllow, flags, mask, sid};
}

Security owned_by(const Sid& owner, std::vector<Ace> dacl) {
  return {true, owner, true, std::move(dacl)};
}

// A profile folder's children (Downloads, %TEMP%, a folder extracted there): SYSTEM,
// Administrators and the profile's user full control, inherited.
Security in_profile(const Sid& owner, const Sid& profile_user, bool folder) {
  uint8_t flags = folder ? kInherited | kBoth : kInherited;
  return owned_by(
      owner, {entry(sim::sid_system(), kFull, flags),
              entry(sim::sid_administrators(), kFull, flags), entry(profile_user, kFull, flags)});
}

// A folder made in C:\Windows\Temp by `owner`, and a file made in it by the same account.
Security windows_temp_folder(const Sid& owner) {
  return owned_by(
      owner,
      {entry(sim::sid_system(), kFull, kInherited | kBoth),
       entry(sim::sid_administrators(), kFull, kInherited | kBoth),
       entry(sim::sid_users(), kTraverseAddFileFolder, kInherited | kContainerInherit),
       entry(iis_iusrs(), kListSynchronize, kInherited | kBoth), entry(owner, kFull, kInherited),
       entry(sim::sid_creator_owner(), kFull, kInherited | kBoth | kInheritOnly)});
}
Security windows_temp_file(const Sid& owner) {
  return owned_by(
      owner, {entry(sim::sid_system(), kFull, kInherited),
              entry(sim::sid_administrators(), kFull, kInherited),
              entry(iis_iusrs(), kListSynchronize, kInherited), entry(owner, kFull, kInherited)});
}

struct Place {
  const char* name;
  const char* where;  // for the failure message
  Sid runs_as;        // the user of the program's token
  Security file;      // mup.xml as made there
  Security folder;    // the folder it was made in
  bool network_volume = false;
  // What the access list alone says of the file, and whether the run writes the record; a
  // refused run logs one line with `reason` in it.
  FileVerdict file_verdict = FileVerdict::kTrusted;
  bool writes_record = false;
  const char* reason = nullptr;
  // Whether a junction with the folder's list (one made there by the same account) leads the log
  // on; none where the program does not weigh it (a share's list is the server's, with the
  // server's own accounts).
  std::optional<bool> junction_followed;
};

std::vector<Place> places() {
  const Sid admin = sim::sid_administrator_user();
  const Sid standard = sim::sid_standard_user();
  const Sid system = sim::sid_system();
  const Sid administrators = sim::sid_administrators();
  std::vector<Place> rows;

  // The package extracted in Explorer (the administrator's unelevated token: owner is the
  // administrator's own account) and double-clicked; the program runs elevated as that account.
  rows.push_back({"DownloadsExtractedByTheAdministrator", "Downloads, run by its administrator",
                  admin, in_profile(admin, admin, false), in_profile(admin, admin, true), false,
                  FileVerdict::kTrusted, true, nullptr, true});
  // The same files, the program started as SYSTEM: a user's own file may not steer SYSTEM.
  rows.push_back({"DownloadsRunAsSystem", "Downloads, run as SYSTEM", system,
                  in_profile(admin, admin, false), in_profile(admin, admin, true), false,
                  FileVerdict::kUntrustedOwner, false, "is not owned by", false});
  // A standard user's download, elevated with an administrator's credentials: the program runs
  // as the administrator, and the file is another account's.
  rows.push_back({"StandardUsersDownloadsElevatedByAnAdministrator",
                  "a standard user's Downloads, run as an administrator", admin,
                  in_profile(standard, standard, false), in_profile(standard, standard, true),
                  false, FileVerdict::kUntrustedOwner, false, "is not owned by", false});
  // An unelevated self-extractor unpacks into the user's %TEMP% (AppData\Local\Temp).
  rows.push_back({"TempExtractedByTheAdministrator", "%TEMP%, made by the user", admin,
                  in_profile(admin, admin, false), in_profile(admin, admin, true), false,
                  FileVerdict::kTrusted, true, nullptr, true});
  // A self-extractor that elevates first: owner Administrators, the user's full control still
  // inherited from the profile; the user is the account the program runs as.
  rows.push_back({"TempExtractedByAnElevatedSelfExtractor", "%TEMP%, made elevated", admin,
                  in_profile(administrators, admin, false), in_profile(administrators, admin, true),
                  false, FileVerdict::kTrusted, true, nullptr, true});
  // A deployment tool running as SYSTEM unpacks into a folder of its own in C:\Windows\Temp.
  // The file is trusted; the folder is not, Users may add files and folders to it.
  rows.push_back({"WindowsTempMadeBySystem", "C:\\Windows\\Temp, made by SYSTEM", system,
                  windows_temp_file(system), windows_temp_folder(system), false,
                  FileVerdict::kTrusted, true, nullptr, false});
  // A standard user may make folders and files there too.
  rows.push_back({"WindowsTempMadeByAStandardUser", "C:\\Windows\\Temp, made by a standard user",
                  system, windows_temp_file(standard), windows_temp_folder(standard), false,
                  FileVerdict::kUntrustedOwner, false, "is not owned by", false});
  // A folder the elevated program or its administrator made directly under C:\ (C:\logs): every
  // authenticated user may modify it and what is made in it.
  rows.push_back(
      {"FolderDirectlyUnderTheDriveRoot", "C:\\logs, made by an elevated administrator", admin,
       owned_by(administrators,
                {entry(administrators, kFull, kInherited), entry(system, kFull, kInherited),
                 entry(sim::sid_users(), kReadRun, kInherited),
                 entry(sim::sid_authenticated_users(), kModify, kInherited)}),
       owned_by(administrators, {entry(administrators, kFull, kInherited | kBoth),
                                 entry(system, kFull, kInherited | kBoth),
                                 entry(sim::sid_users(), kReadRun, kInherited | kBoth),
                                 entry(sim::sid_authenticated_users(), kModify, kInherited),
                                 entry(sim::sid_authenticated_users(), kGenericModify,
                                       kInherited | kBoth | kInheritOnly)}),
       false, FileVerdict::kChangeable, false, "may be changed by", false});
  // A folder an elevated administrator made in C:\ProgramData: Users only read the files made in
  // it, but may add files and folders to the folder itself.
  rows.push_back({"FolderUnderProgramData",
                  "C:\\ProgramData\\Vendor, made by an elevated administrator", admin,
                  owned_by(administrators, {entry(system, kFull, kInherited),
                                            entry(administrators, kFull, kInherited),
                                            entry(administrators, kFull, kInherited),
                                            entry(sim::sid_users(), kReadRun, kInherited)}),
                  owned_by(administrators, {entry(system, kFull, kInherited | kBoth),
                                            entry(administrators, kFull, kInherited | kBoth),
                                            entry(administrators, kFull, kInherited),
                                            entry(sim::sid_creator_owner(), platform::kGenericAll,
                                                  kInherited | kBoth | kInheritOnly),
                                            entry(sim::sid_users(), kReadRun, kInherited | kBoth),
                                            entry(sim::sid_users(), kAddFileFolderAttributes,
                                                  kInherited | kContainerInherit)}),
                  false, FileVerdict::kTrusted, true, nullptr, false});
  // A deployment agent running as SYSTEM keeps its download cache in a folder it made under
  // C:\Windows (as some agents do, C:\Windows\ccmcache for one), inheriting C:\Windows's list.
  // An agent that sets a list of its own on its cache is not modelled here.
  rows.push_back(
      {"DeploymentCacheMadeBySystemUnderWindows", "a deployment cache under C:\\Windows", system,
       owned_by(system,
                {entry(system, kFull, kInherited), entry(administrators, kFull, kInherited),
                 entry(sim::sid_users(), kReadRun, kInherited), entry(system, kFull, kInherited),
                 entry(all_application_packages(), kReadRun, kInherited),
                 entry(all_restricted_application_packages(), kReadRun, kInherited)}),
       owned_by(
           system,
           {entry(sim::sid_trusted_installer(), kFull, kInherited | kContainerInherit),
            entry(system, kFull, kInherited | kBoth),
            entry(administrators, kFull, kInherited | kBoth),
            entry(sim::sid_users(), kReadRun, kInherited),
            entry(sim::sid_users(), kGenericReadRun, kInherited | kBoth | kInheritOnly),
            entry(system, kFull, kInherited),
            entry(sim::sid_creator_owner(), kFull, kInherited | kBoth | kInheritOnly),
            entry(all_application_packages(), kReadRun, kInherited),
            entry(all_application_packages(), kGenericReadRun, kInherited | kBoth | kInheritOnly),
            entry(all_restricted_application_packages(), kReadRun, kInherited),
            entry(all_restricted_application_packages(), kGenericReadRun,
                  kInherited | kBoth | kInheritOnly)}),
       false, FileVerdict::kTrusted, true, nullptr, true});
  // A share: refused whatever the server reports, here a list that would pass on a local disk.
  rows.push_back({"NetworkShare", "\\\\server\\share", admin,
                  sim::locked_security(administrators, {entry(sim::sid_everyone(), kReadRun, 0)}),
                  sim::locked_security(administrators, {entry(sim::sid_everyone(), kReadRun, 0)}),
                  true, FileVerdict::kTrusted, false, "is on a network volume.", std::nullopt});
  // FAT keeps no security: owner Everyone and a NULL DACL, for files and folders alike.
  rows.push_back({"FatRemovableDrive",
                  "a FAT-formatted removable drive",
                  admin,
                  {true, sim::sid_everyone(), false, {}},
                  {true, sim::sid_everyone(), false, {}},
                  false,
                  FileVerdict::kUntrustedOwner,
                  false,
                  "is not owned by",
                  false});
  return rows;
}

const char kMup[] =
    "<registrykey componentID=\"tp\"><name>HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\Touchpad</name>"
    "<value>17</value><displayName>HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\Display</displayName>"
    "<displayValue>\"Touchpad firmware 17\"</displayValue></registrykey>";

// gtest names the row in a failure by this.
void PrintTo(const Place& place, std::ostream* out) {
  *out << place.where;
}

class DeploymentTest : public testing::SimTest, public ::testing::WithParamInterface<Place> {};

TEST_P(DeploymentTest, OnlyWhatNoOtherAccountCanChangeSteersTheProgram) {
  const Place& place = GetParam();
  sim::process().user = place.runs_as;
  read_command_line("/vLOGFILE=fw.log");
  std::ofstream("mup.xml", std::ios::binary) << kMup;
  sim::FileModel* model = sim::file_model("mup.xml");
  ASSERT_NE(model, nullptr);
  model->security = place.file;
  model->network_volume = place.network_volume;
  const TrustedAccounts accounts = TrustedAccounts::of_this_process();

  // mup.xml: its list alone, then what the run does with it.
  EXPECT_EQ(judge_security(place.file, ObjectKind::kFile, accounts), place.file_verdict) << "file";
  write_inventory_record(hold_current_directory());
  EXPECT_EQ(sim::file_security().open_files, 0);
  if (place.writes_record) {
    const sim::RegistryKeyRecord* key = sim::find_key("SOFTWARE\\X\\Touchpad");
    const sim::RegistryKeyRecord* display = sim::find_key("SOFTWARE\\X\\Display");
    ASSERT_NE(key, nullptr);
    ASSERT_NE(display, nullptr);
    EXPECT_EQ(sim::default_string(*key), "17");
    EXPECT_EQ(sim::default_string(*display), "Touchpad firmware 17");
    EXPECT_EQ(read_file("fw.log"), "");
  } else {
    EXPECT_TRUE(sim::registry().keys.empty());
    EXPECT_TRUE(sim::registry().rights_requested.empty());
    const std::string log = read_file("fw.log");
    EXPECT_EQ(log.rfind("Registry key inventory skipped: mup.xml ", 0), 0u) << log;
    EXPECT_NE(log.find(place.reason), std::string::npos) << log;
    EXPECT_EQ(log.find("\r\n"), log.size() - 2) << "one line: " << log;
  }

  // The folder, as the program weighs it: a junction made there on the log path, with the
  // folder's list, leads the log on only when no untrusted account can change it. (Last: a
  // refused link turns the log off for the rest of the run.)
  if (place.junction_followed) {
    std::filesystem::create_directories(sim::host_path("D:\\Logs"));
    std::filesystem::create_directories(sim::host_path("C:\\Place"));
    std::filesystem::create_directory_symlink(std::filesystem::absolute(sim::host_path("D:\\Logs")),
                                              sim::host_path("C:\\Place\\link"));
    sim::FileModel* link = sim::file_model("C:\\Place\\link");
    ASSERT_NE(link, nullptr);
    link->security = place.folder;
    read_command_line("/vLOGFILE=C:\\Place\\link\\fw.log");
    log_line("through the junction");
    EXPECT_EQ(read_file("D:\\Logs\\fw.log"),
              *place.junction_followed ? "through the junction\r\n" : "")
        << "junction";
  }
}

INSTANTIATE_TEST_SUITE_P(Places, DeploymentTest, ::testing::ValuesIn(places()),
                         [](const ::testing::TestParamInfo<Place>& row) {
                           return std::string(row.param.name);
                         });

}  // namespace
}  // namespace fwu
