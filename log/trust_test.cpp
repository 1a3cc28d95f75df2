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

TEST(TrustTest, OnlySystemAdministratorsAndTrustedInstallerAreTrusted) {
  EXPECT_TRUE(is_trusted_account(sim::sid_system()));
  EXPECT_TRUE(is_trusted_account(sim::sid_administrators()));
  EXPECT_TRUE(is_trusted_account(sim::sid_trusted_installer()));
  for (const Sid& sid : {sim::sid_users(), sim::sid_authenticated_users(), sim::sid_standard_user(),
                         kCreatorOwner, kEveryone, kLocalService, kNearlyTrustedInstaller,
                         Sid{5, {32}}, Sid{5, {32, 544, 1}}, Sid{}}) {
    EXPECT_FALSE(is_trusted_account(sid)) << sid.sub_authorities.size();
  }
}

TEST(TrustTest, EveryRightThatChangesTheFileCountsAndReadingDoesNot) {
  for (uint32_t right : {platform::kFileWriteData, platform::kFileAppendData,
                         platform::kFileWriteEa, platform::kFileWriteAttributes, platform::kDelete,
                         platform::kWriteDac, platform::kWriteOwner, platform::kGenericWrite,
                         platform::kGenericAll, platform::kMaximumAllowed,
                         platform::kAccessSystemSecurity, 0x00000200u, 0x00200000u, 0x04000000u}) {
    EXPECT_TRUE(grants_change(right)) << std::hex << right;
    EXPECT_TRUE(grants_change(right | sim::kReadAndRun)) << std::hex << right;
  }
  EXPECT_FALSE(grants_change(0));
  EXPECT_FALSE(grants_change(sim::kReadAndRun));  // read and run, as Users usually hold
  EXPECT_FALSE(grants_change(platform::kGenericRead | platform::kGenericExecute |
                             platform::kFileDeleteChild));
}

TEST(TrustTest, FilesThatOnlyTrustedAccountsMayChangePass) {
  EXPECT_EQ(judge_security(locked()), FileVerdict::kTrusted);
  EXPECT_EQ(judge_security(locked({sim::allow(sim::sid_users(), sim::kReadAndRun)})),
            FileVerdict::kTrusted);
  EXPECT_EQ(judge_security(sim::locked_security(sim::sid_system())), FileVerdict::kTrusted);
  Security installer = sim::locked_security(
      sim::sid_trusted_installer(), {sim::allow(sim::sid_trusted_installer(), sim::kAllRights)});
  EXPECT_EQ(judge_security(installer), FileVerdict::kTrusted);
  Security empty{true, sim::sid_administrators(), true, {}};
  EXPECT_EQ(judge_security(empty), FileVerdict::kTrusted) << "an empty list grants nothing";
}

TEST(TrustTest, OwnerMustBeTrusted) {
  EXPECT_EQ(judge_security(sim::locked_security(sim::sid_standard_user())),
            FileVerdict::kUntrustedOwner);
  Security no_owner = locked();
  no_owner.has_owner = false;
  EXPECT_EQ(judge_security(no_owner), FileVerdict::kUntrustedOwner);
  Security no_dacl{true, sim::sid_administrators(), false, {}};
  EXPECT_EQ(judge_security(no_dacl), FileVerdict::kNoDacl);
}

TEST(TrustTest, AnyOtherAccountWithAChangingRightIsRefused) {
  for (const Sid& sid : {sim::sid_users(), sim::sid_authenticated_users(), sim::sid_standard_user(),
                         kCreatorOwner, kEveryone, kLocalService}) {
    for (uint32_t right : {platform::kFileAppendData, platform::kDelete, platform::kWriteDac,
                           platform::kGenericAll}) {
      EXPECT_EQ(judge_security(locked({sim::allow(sid, right)})), FileVerdict::kChangeable)
          << std::hex << right;
    }
  }
}

TEST(TrustTest, EntriesThatDoNotApplyOrOnlyDenyAreSkippedAndUnknownOnesRefused) {
  Ace inherit_only = sim::allow(sim::sid_users(), platform::kGenericAll);
  inherit_only.flags = platform::kAceInheritOnly | 0x03;
  EXPECT_EQ(judge_security(locked({inherit_only})), FileVerdict::kTrusted);
  Ace inherited = inherit_only;
  inherited.flags = 0x10 | 0x03;  // inherited, object and container inherit: it applies
  EXPECT_EQ(judge_security(locked({inherited})), FileVerdict::kChangeable);

  Ace deny{AceType::kDeny, 0, platform::kGenericAll, kEveryone};
  EXPECT_EQ(judge_security(locked({deny})), FileVerdict::kTrusted);
  // Deny entries are not weighed against allow entries: an allow that a deny may cancel still
  // refuses the file.
  EXPECT_EQ(judge_security(locked({deny, sim::allow(kEveryone, platform::kFileWriteData)})),
            FileVerdict::kChangeable);

  Ace other{AceType::kOther, 0, 0, {}};
  EXPECT_EQ(judge_security(locked({other})), FileVerdict::kUnknownEntry);
  other.flags = platform::kAceInheritOnly;
  EXPECT_EQ(judge_security(locked({other})), FileVerdict::kUnknownEntry);
}

}  // namespace
}  // namespace fwu
