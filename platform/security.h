// Who owns an object of the system and who may do what with it: the owner and the access list of
// a file, a directory or a named object, as the system reports them (or, on a POSIX system, its
// owner, group, mode and whether it has an access list). The core judges them.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// A security identifier: S-1-AUTHORITY-SUB-SUB-..., for example S-1-5-32-544 (authority 5,
// sub-authorities 32 and 544).
struct Sid {
  uint64_t authority = 0;  // 48 bits
  std::vector<uint32_t> sub_authorities;

  bool operator==(const Sid&) const = default;
};

enum class AceType {
  kAllow,  // grants its rights to its SID
  kDeny,   // denies them (any type of deny entry)
  kOther,  // any other type of entry; its SID is not read
};

// An access list entry applies to its object unless it only serves to be inherited.
constexpr uint8_t kAceInheritOnly = 0x08;

// Access rights, as an entry's mask carries them.
constexpr uint32_t kFileReadData = 0x0001;  // also: list a directory
constexpr uint32_t kFileWriteData = 0x0002;
constexpr uint32_t kFileAppendData = 0x0004;
constexpr uint32_t kFileReadEa = 0x0008;
constexpr uint32_t kFileWriteEa = 0x0010;
constexpr uint32_t kFileExecute = 0x0020;
constexpr uint32_t kFileDeleteChild = 0x0040;
constexpr uint32_t kFileReadAttributes = 0x0080;
constexpr uint32_t kFileWriteAttributes = 0x0100;
constexpr uint32_t kDelete = 0x00010000;
constexpr uint32_t kReadControl = 0x00020000;
constexpr uint32_t kWriteDac = 0x00040000;
constexpr uint32_t kWriteOwner = 0x00080000;
constexpr uint32_t kSynchronize = 0x00100000;
constexpr uint32_t kAccessSystemSecurity = 0x01000000;
constexpr uint32_t kMaximumAllowed = 0x02000000;
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kGenericExecute = 0x20000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kGenericRead = 0x80000000;

struct Ace {
  AceType type = AceType::kOther;
  uint8_t flags = 0;  // kAceInheritOnly, and the other inheritance flags
  uint32_t mask = 0;
  Sid sid;  // empty for kOther
};

// A Unix account among the SIDs above: S-1-22-1-UID, the form Unix users take where the two kinds
// of system meet.
inline Sid unix_user_sid(uint32_t uid) {
  return Sid{22, {1, uid}};
}

// Who may change an object of a POSIX system: its owner (who may always change its mode), and
// whom its mode and access list let write to it.
struct PosixAccess {
  uint32_t owner = 0;         // user ID; 0 is root
  uint32_t group = 0;         // group ID
  uint32_t mode = 0;          // the permission bits (07777)
  bool link = false;          // a symbolic link: its own mode means nothing, its directory decides
  bool extended_acl = false;  // an access list with entries beyond the mode bits
};

struct Security {
  bool has_owner = false;
  Sid owner;
  // False when the object has no access list at all, which lets everyone do everything.
  bool has_dacl = false;
  std::vector<Ace> dacl;  // in its order
  // A POSIX system tells `posix` instead of the owner and access list above.
  bool has_posix = false;
  PosixAccess posix{};
};

}  // namespace platform
