// The owner and access list of an open file, directory or named object, in the boundary's terms.
#pragma once

#include <windows.h>

// After windows.h, which it needs.
#include <aclapi.h>

#include "platform/security.h"

namespace platform::win32 {

// A valid SID in the boundary's terms.
Sid to_sid(PSID sid);

// GetSecurityInfo for the owner and the access list of `object`. False when the system refuses
// or reports a list that cannot be read.
bool read_security(HANDLE object, SE_OBJECT_TYPE type, Security* security);

}  // namespace platform::win32
