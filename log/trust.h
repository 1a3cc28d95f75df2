// Whom the program trusts. It runs elevated, often as SYSTEM, so a file or object that a standard
// user could have written, replaced or redirected must not steer it. Trusted are the accounts no
// standard user can act as: SYSTEM, the Administrators group and TrustedInstaller.
#pragma once

#include <cstdint>

#include "platform/file_system.h"
#include "platform/security.h"

namespace fwu {

// S-1-5-18, S-1-5-32-544, S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
bool is_trusted_account(const platform::Sid& sid);

// Rights of an access list entry that change a file or who may use it: its data, its extended
// attributes and attributes, deleting it, its access list and its owner, and the generic rights
// that include them. Every right that is not known to leave the file alone counts as one.
bool grants_change(uint32_t mask);

enum class FileVerdict {
  kTrusted,
  kReparsePoint,    // a link, junction or other reparse point
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
FileVerdict judge_security(const platform::Security& security);

// Judges a file held open, from that handle alone: it must be no reparse point, have one name,
// live on a local volume, satisfy judge_security and hold at most `max_size` bytes. On kTrusted,
// `*size` is its size.
FileVerdict judge_file(const platform::HeldFile& file, uint64_t max_size, uint64_t* size);

// Whether a directory held open may lead the program on: any directory that is no reparse
// point, and a reparse point (junction, link, mount point) whose owner is trusted.
bool is_trusted_directory(const platform::HeldFile& directory);

}  // namespace fwu
