#include "platform/win32/security_win32.h"

#include <cstddef>
#include <utility>

namespace platform::win32 {

namespace {

// GetSecurityInfo hands its descriptor over to be freed with LocalFree.
class LocalMemory {
 public:
  LocalMemory() = default;
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;
  ~LocalMemory() { LocalFree(memory_); }
  PSECURITY_DESCRIPTOR* receive() { return &memory_; }

 private:
  PSECURITY_DESCRIPTOR memory_ = nullptr;
};

bool is_deny(BYTE type) {
  return type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
         type == ACCESS_DENIED_CALLBACK_ACE_TYPE || type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE;
}

// Only the plain allow entry is read whole; of every other kind the type tells enough.
bool to_ace(const ACE_HEADER* header, Ace* ace) {
  ace->flags = header->AceFlags;
  if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
    const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    constexpr size_t kSidOffset = offsetof(ACCESS_ALLOWED_ACE, SidStart);
    if (header->AceSize < sizeof(ACCESS_ALLOWED_ACE) || !IsValidSid(sid) ||
        GetLengthSid(sid) > header->AceSize - kSidOffset) {
      return false;
    }
    ace->type = AceType::kAllow;
    ace->mask = allowed->Mask;
    ace->sid = to_sid(sid);
  } else {
    ace->type = is_deny(header->AceType) ? AceType::kDeny : AceType::kOther;
  }
  return true;
}

}  // namespace

Sid to_sid(PSID sid) {
  const SID* raw = static_cast<const SID*>(sid);
  Sid result;
  for (BYTE byte : raw->IdentifierAuthority.Value) result.authority = result.authority << 8 | byte;
  result.sub_authorities.assign(raw->SubAuthority, raw->SubAuthority + raw->SubAuthorityCount);
  return result;
}

bool read_security(HANDLE object, SE_OBJECT_TYPE type, Security* security) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  LocalMemory descriptor;
  if (GetSecurityInfo(object, type, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      nullptr, &dacl, nullptr, descriptor.receive()) != ERROR_SUCCESS) {
    return false;
  }
  *security = Security{};
  if (owner != nullptr && IsValidSid(owner)) {
    security->has_owner = true;
    security->owner = to_sid(owner);
  }
  // No list, or a null one: both let everyone do everything.
  if (dacl == nullptr) return true;
  security->has_dacl = true;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    Ace ace;
    if (!GetAce(dacl, i, &entry) || !to_ace(static_cast<const ACE_HEADER*>(entry), &ace)) {
      return false;
    }
    security->dacl.push_back(std::move(ace));
  }
  return true;
}

}  // namespace platform::win32
