#include "log/trust.h"

#include <gtest/gtest.h>

#include "platform/sim/sim.h"

namespace fwu {
namespace {

using platform::Ace;
using platform::AceType;
using platform::Security;
using platform::Sid;

const Sid kCreatorOwner{3, {0}};
const Sid kEveryone{1, {0}};
const Sid kLocalService{5, {19}};
// Trusted installer's SID with one sub-authority off by one.
const Sid kNearlyTrustedInstaller{5,
                                  {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478465}};

Security locked(std::vector<Ace> more = {}) {
  return sim::locked_security(sim::sid_administrators(), std::move(more));
}

class TrustTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
};

FileVerdict judge(const Security& security, ObjectKind kind = ObjectKind::kFile) {
  return judge_security(security, kind, TrustedAccounts::of_this_process());
}

TEST_F(TrustTest, TrustedAreSystemAdministratorsTrustedInstallerAndTheRunningAccount) {
  const Sid others[] = {sim::sid_users(),
                        sim::sid_authenticated_users(),
                        sim::sid_standard_user(),
                        kCreatorOwner,
                        kEveryone,
                        kLocalService,
                        kNearlyTrustedInstaller,
                        Sid{5, {32}},
                        Sid{5, {32, 544, 1}},
                        Sid{}};
  TrustedAccounts accounts = TrustedAccounts::of_this_process();
  for (const Sid& sid : {sim::sid_system(), sim::sid_administrators(), sim::sid_trusted_installer(),
                         sim::sid_administrator_user()}) {
    EXPECT_TRUE(accounts.contains(sid)) << sid.sub_authorities.back();
  }
  for (const Sid& sid : others) EXPECT_FALSE(accounts.contains(sid)) << sid.sub_authorities.size();

  // Run as SYSTEM by a deployment tool: an administrator's own account is no longer one of them.
  sim::process().user = sim::sid_system();
  accounts = TrustedAccounts::of_this_process();
  EXPECT_FALSE(accounts.contains(sim::sid_administrator_user()));
  EXPECT_TRUE(accounts.contains(sim::sid_system()));

  // A token that cannot be read adds nobody.
  sim::process().user = sim::sid_standard_user();
  sim::process().user_unknown = true;
  accounts = TrustedAccounts::of_this_process();
  EXPECT_FALSE(accounts.contains(sim::sid_standard_user()));
  EXPECT_FALSE(accounts.contains(Sid{}));
  EXPECT_TRUE(accounts.contains(sim::sid_administrators()));
}

TEST_F(TrustTest, EveryRightThatChangesTheObjectCountsAndReadingDoesNot) {
  for (ObjectKind kind : {ObjectKind::kFile, ObjectKind::kDirectory}) {
    for (uint32_t right :
         {platform::kFileWriteData, platform::kFileAppendData, platform::kFileWriteEa,
          platform::kFileWriteAttributes, platform::kDelete, platform::kWriteDac,
          platform::kWriteOwner, platform::kGenericWrite, platform::kGenericAll,
          platform::kMaximumAllowed, platform::kAccessSystemSecurity, 0x00000200u, 0x00200000u,
          0x04000000u}) {
      EXPECT_TRUE(grants_change(right, kind)) << std::hex << right;
      EXPECT_TRUE(grants_change(right | sim::kReadAndRun, kind)) << std::hex << right;
    }
    EXPECT_FALSE(grants_change(0, kind));
    EXPECT_FALSE(grants_change(sim::kReadAndRun, kind));  // read and run, as Users usually hold
    EXPECT_FALSE(grants_change(platform::kGenericRead | platform::kGenericExecute, kind));
  }
  // Deleting a child changes a directory (its entries) and means nothing on a file.
  EXPECT_FALSE(grants_change(platform::kFileDeleteChild, ObjectKind::kFile));
  EXPECT_TRUE(grants_change(platform::kFileDeleteChild, ObjectKind::kDirectory));
}

TEST_F(TrustTest, OnADirectoryAddingAFileOrASubdirectoryIsAChange) {
  // Users as C:\ProgramData gives them: list, traverse, add a file or a subdirectory, write
  // attributes. A user who may add entries may plant a link among them, and one who may write
  // attributes may turn an empty directory into a mount point.
  constexpr uint32_t kTraverse = platform::kFileExecute | platform::kFileReadData |
                                 platform::kFileReadAttributes | platform::kSynchronize;
  for (uint32_t right :
       {platform::kFileWriteData /* add a file */, platform::kFileAppendData /* a subdirectory */,
        platform::kFileDeleteChild, platform::kFileWriteAttributes}) {
    EXPECT_EQ(
        judge(locked({sim::allow(sim::sid_users(), kTraverse | right)}), ObjectKind::kDirectory),
        FileVerdict::kChangeable)
        << std::hex << right;
  }
  EXPECT_EQ(judge(locked({sim::allow(sim::sid_users(), kTraverse)}), ObjectKind::kDirectory),
            FileVerdict::kTrusted);
}

TEST_F(TrustTest, FilesThatOnlyTrustedAccountsMayChangePass) {
  EXPECT_EQ(judge(locked()), FileVerdict::kTrusted);
  EXPECT_EQ(judge(locked({sim::allow(sim::sid_users(), sim::kReadAndRun)})), FileVerdict::kTrusted);
  EXPECT_EQ(judge(sim::locked_security(sim::sid_system())), FileVerdict::kTrusted);
  Security installer = sim::locked_security(
      sim::sid_trusted_installer(), {sim::allow(sim::sid_trusted_installer(), sim::kAllRights)});
  EXPECT_EQ(judge(installer), FileVerdict::kTrusted);
  Security empty{true, sim::sid_administrators(), true, {}};
  EXPECT_EQ(judge(empty), FileVerdict::kTrusted) << "an empty list grants nothing";
}

TEST_F(TrustTest, TheRunningAccountsOwnFileIsTrustedOnlyByThatAccountsRuns) {
  // As Explorer leaves a file that an administrator unpacked into their own profile.
  Security own = sim::locked_security(sim::sid_administrator_user(),
                                      {sim::allow(sim::sid_administrator_user(), sim::kAllRights)});
  EXPECT_EQ(judge(own), FileVerdict::kTrusted);
  Security shared = own;
  shared.dacl.push_back(sim::allow(sim::sid_standard_user(), platform::kFileWriteData));
  EXPECT_EQ(judge(shared), FileVerdict::kChangeable);

  sim::process().user = sim::sid_system();
  EXPECT_EQ(judge(own), FileVerdict::kUntrustedOwner);
  Security owned_by_system = sim::locked_security(
      sim::sid_system(), {sim::allow(sim::sid_administrator_user(), sim::kAllRights)});
  EXPECT_EQ(judge(owned_by_system), FileVerdict::kChangeable);
}

TEST_F(TrustTest, OwnerMustBeTrusted) {
  EXPECT_EQ(judge(sim::locked_security(sim::sid_standard_user())), FileVerdict::kUntrustedOwner);
  Security no_owner = locked();
  no_owner.has_owner = false;
  EXPECT_EQ(judge(no_owner), FileVerdict::kUntrustedOwner);
  Security no_dacl{true, sim::sid_administrators(), false, {}};
  EXPECT_EQ(judge(no_dacl), FileVerdict::kNoDacl);
}

TEST_F(TrustTest, AnyOtherAccountWithAChangingRightIsRefused) {
  for (const Sid& sid : {sim::sid_users(), sim::sid_authenticated_users(), sim::sid_standard_user(),
                         kCreatorOwner, kEveryone, kLocalService}) {
    for (uint32_t right : {platform::kFileAppendData, platform::kDelete, platform::kWriteDac,
                           platform::kGenericAll}) {
      EXPECT_EQ(judge(locked({sim::allow(sid, right)})), FileVerdict::kChangeable)
          << std::hex << right;
    }
  }
}

TEST_F(TrustTest, EntriesThatDoNotApplyOrOnlyDenyAreSkippedAndUnknownOnesRefused) {
  Ace inherit_only = sim::allow(sim::sid_users(), platform::kGenericAll);
  inherit_only.flags = platform::kAceInheritOnly | 0x03;
  EXPECT_EQ(judge(locked({inherit_only})), FileVerdict::kTrusted);
  Ace inherited = inherit_only;
  inherited.flags = 0x10 | 0x03;  // inherited, object and container inherit: it applies
  EXPECT_EQ(judge(locked({inherited})), FileVerdict::kChangeable);

  Ace deny{AceType::kDeny, 0, platform::kGenericAll, kEveryone};
  EXPECT_EQ(judge(locked({deny})), FileVerdict::kTrusted);
  // Deny entries are not weighed against allow entries: an allow that a deny may cancel still
  // refuses the file.
  EXPECT_EQ(judge(locked({deny, sim::allow(kEveryone, platform::kFileWriteData)})),
            FileVerdict::kChangeable);

  Ace other{AceType::kOther, 0, 0, {}};
  EXPECT_EQ(judge(locked({other})), FileVerdict::kUnknownEntry);
  other.flags = platform::kAceInheritOnly;
  EXPECT_EQ(judge(locked({other})), FileVerdict::kUnknownEntry);
}

}  // namespace
}  // namespace fwu

namespace fwu {
namespace {

Security posix(uint32_t owner, uint32_t mode, bool link = false, bool extended_acl = false) {
  Security security;
  security.has_posix = true;
  security.posix = {owner, 100, mode, link, extended_acl};
  return security;
}

TEST_F(TrustTest, APosixObjectIsTrustedWhenOnlyRootOrTheRunningUserCanChangeIt) {
  EXPECT_EQ(judge(posix(0, 0644)), FileVerdict::kTrusted);
  EXPECT_EQ(judge(posix(0, 01755), ObjectKind::kDirectory), FileVerdict::kTrusted);
  EXPECT_EQ(judge(posix(1000, 0600)), FileVerdict::kUntrustedOwner);
  EXPECT_EQ(judge(posix(0, 0664)), FileVerdict::kChangeable) << "its group may write";
  EXPECT_EQ(judge(posix(0, 0646)), FileVerdict::kChangeable) << "everyone may write";
  EXPECT_EQ(judge(posix(0, 01777), ObjectKind::kDirectory), FileVerdict::kChangeable)
      << "a sticky directory open to all, such as /tmp";
  EXPECT_EQ(judge(posix(0, 0644, false, true)), FileVerdict::kUnknownEntry);
  EXPECT_EQ(judge(posix(0, 0777, true)), FileVerdict::kTrusted) << "a link's own mode is moot";
  EXPECT_EQ(judge(posix(1000, 0777, true)), FileVerdict::kUntrustedOwner);

  // A run as user 1000 trusts that user's objects too, and no other user's.
  sim::process().user = platform::unix_user_sid(1000);
  EXPECT_EQ(judge(posix(1000, 0600)), FileVerdict::kTrusted);
  EXPECT_EQ(judge(posix(1001, 0600)), FileVerdict::kUntrustedOwner);
  EXPECT_EQ(judge(posix(0, 0600)), FileVerdict::kTrusted) << "root is always trusted";
}

}  // namespace
}  // namespace fwu
