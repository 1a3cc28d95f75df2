#include "log/trust.h"

namespace fwu {

namespace {

using platform::Sid;

constexpr uint64_t kNtAuthority = 5;

// Rights that read or run an object, or that only serve to wait on it: an account that holds
// only these cannot change what the program reads or where a path leads.
constexpr uint32_t kLeavesObjectAlone = platform::kFileReadData | platform::kFileReadEa |
                                        platform::kFileExecute | platform::kFileReadAttributes |
                                        platform::kReadControl | platform::kSynchronize |
                                        platform::kGenericRead | platform::kGenericExecute;

// Deleting a child is a directory's right; on a file it means nothing.
constexpr uint32_t kLeavesFileAlone = kLeavesObjectAlone | platform::kFileDeleteChild;

bool is_fixed_trusted_account(const Sid& sid) {
  static const Sid kTrusted[] = {
      {kNtAuthority, {18}},       // SYSTEM
      {kNtAuthority, {32, 544}},  // BUILTIN\Administrators
      {kNtAuthority, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}},
  };
  for (const Sid& trusted : kTrusted) {
    if (sid == trusted) return true;
  }
  return false;
}

}  // namespace

TrustedAccounts TrustedAccounts::of_this_process() {
  TrustedAccounts accounts;
  accounts.has_running_account_ = platform::process_user(&accounts.running_account_);
  return accounts;
}

bool TrustedAccounts::contains(const Sid& sid) const {
  return is_fixed_trusted_account(sid) || (has_running_account_ && sid == running_account_);
}

bool grants_change(uint32_t mask, ObjectKind kind) {
  uint32_t harmless = kind == ObjectKind::kFile ? kLeavesFileAlone : kLeavesObjectAlone;
  return (mask & ~harmless) != 0;
}

namespace {

constexpr uint32_t kGroupWrite = 0020;
constexpr uint32_t kOtherWrite = 0002;

FileVerdict judge_posix(const platform::PosixAccess& access, const TrustedAccounts& accounts) {
  if (access.owner != 0 && !accounts.contains(platform::unix_user_sid(access.owner))) {
    return FileVerdict::kUntrustedOwner;
  }
  if (access.link) return FileVerdict::kTrusted;
  if (access.extended_acl) return FileVerdict::kUnknownEntry;
  if ((access.mode & (kGroupWrite | kOtherWrite)) != 0) return FileVerdict::kChangeable;
  return FileVerdict::kTrusted;
}

}  // namespace

FileVerdict judge_security(const platform::Security& security, ObjectKind kind,
                           const TrustedAccounts& accounts) {
  if (security.has_posix) return judge_posix(security.posix, accounts);
  if (!security.has_owner || !accounts.contains(security.owner)) {
    return FileVerdict::kUntrustedOwner;
  }
  if (!security.has_dacl) return FileVerdict::kNoDacl;
  for (const platform::Ace& ace : security.dacl) {
    // A deny entry takes rights away, whatever its kind; ignoring it can only make the verdict
    // stricter.
    if (ace.type == platform::AceType::kDeny) continue;
    // Conditional, object and compound entries, and whatever a later system adds, may grant
    // rights on terms this program cannot weigh.
    if (ace.type == platform::AceType::kOther) return FileVerdict::kUnknownEntry;
    if ((ace.flags & platform::kAceInheritOnly) != 0) continue;
    if (grants_change(ace.mask, kind) && !accounts.contains(ace.sid)) {
      return FileVerdict::kChangeable;
    }
  }
  return FileVerdict::kTrusted;
}

FileVerdict judge_file(const platform::HeldFile& file, uint64_t max_size, uint64_t* size) {
  platform::FileFacts facts;
  bool remote = true;
  platform::Security security;
  if (!file.facts(&facts)) return FileVerdict::kUnknown;
  if (facts.reparse_point) {
    return platform::is_link(facts.reparse_tag) ? FileVerdict::kLink : FileVerdict::kReparsePoint;
  }
  if (facts.links != 1) return FileVerdict::kLinked;
  // A server reports whatever owner and access list it likes, and "Administrators" there means
  // the server's own; a standard user may run the program from a share of a computer of theirs.
  if (!file.on_network_volume(&remote)) return FileVerdict::kUnknown;
  if (remote) return FileVerdict::kNetworkVolume;
  if (!file.security(&security)) return FileVerdict::kUnknown;
  FileVerdict verdict =
      judge_security(security, ObjectKind::kFile, TrustedAccounts::of_this_process());
  if (verdict != FileVerdict::kTrusted) return verdict;
  if (facts.size > max_size) return FileVerdict::kTooLarge;
  *size = facts.size;
  return FileVerdict::kTrusted;
}

}  // namespace fwu
