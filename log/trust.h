// Whom the program trusts. It runs elevated, often as SYSTEM, so a file or object that a standard
// user could have written, replaced or redirected must not steer it. What matters is who can
// change a thing, not who owns it: a folder an administrator made under C:\ may still be open to
// every user. Trusted are the accounts no standard user can act as (SYSTEM, the Administrators
// group and TrustedInstaller) and the account the program itself runs as: a file that only that
// account and administrators can change cannot have been planted by another account.
#pragma once

#include <cstdint>

#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/security.h"

namespace fwu {

// S-1-5-18, S-1-5-32-544, S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464, and
// the user of the process's token.
class TrustedAccounts {
 public:
  // Reads the token's user; when the system cannot tell, the three fixed accounts alone.
  static TrustedAccounts of_this_process();

  bool contains(const platform::Sid& sid) const;

 private:
  bool has_running_account_ = false;
  platform::Sid running_account_;
};

enum class ObjectKind { kFile, kDirectory };

// Rights of an access list entry that change the object or who may use it: its data, its extended
// attributes and attributes, deleting it, its access list and its owner, and the generic rights
// that include them; on a directory also adding a file or a subdirectory and deleting a child.
// Every right that is not known to leave the object alone counts as one.
bool grants_change(uint32_t mask, ObjectKind kind);

enum class FileVerdict {
  kTrusted,
  kLink,            // a symbolic link, junction or mount point
  kReparsePoint,    // a reparse point of another kind
  kLinked,          // it has more than one name
  kNetworkVolume,   // its owner and access list come from a server
  kUntrustedOwner,  // no owner, or one that is not trusted
  kNoDacl,          // no access list: everyone may change it
  kChangeable,      // the access list lets an account that is not trusted change it
  kUnknownEntry,    // the access list has an entry of a type that cannot be judged
  kTooLarge,
  kUnknown,  // the system could not tell what the file is or who owns it
};

// Judges an owner and access list: kTrusted, kUntrustedOwner, kNoDacl, kChangeable or
// kUnknownEntry. Deny entries never grant; entries that only serve to be inherited do not apply.
// A POSIX object's owner must be root or a trusted account; nobody but its owner may write to it
// (no group or other write bit: whoever else is in its group is not known here), and an access
// list beyond the mode is kUnknownEntry, its entries not weighed. A link's own mode is not looked
// at: whoever may change its directory may replace it, so that directory is judged as well.
FileVerdict judge_security(const platform::Security& security, ObjectKind kind,
                           const TrustedAccounts& accounts);

// Judges a file held open, from that handle alone: it must be no reparse point, have one name,
// live on a local volume, satisfy judge_security and hold at most `max_size` bytes. On kTrusted,
// `*size` is its size.
FileVerdict judge_file(const platform::HeldFile& file, uint64_t max_size, uint64_t* size);

}  // namespace fwu
