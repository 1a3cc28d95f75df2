// What both stand-ins of cfgmgr32.dll (the stand-ins' world's and the virtual touchpad's) answer
// alike: the property the program asks of an interface, and a device node's status.
#pragma once

#include <windows.h>

// After windows.h.
#include <cfgmgr32.h>
#include <devpropdef.h>

namespace e2e {

// DEVPKEY_Device_InstanceId, which MinGW's headers define only where initguid.h is included.
constexpr DEVPROPKEY kDeviceInstanceIdKey = {
    {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};

// CM_Get_DevNode_Status's status and problem for a node with or without DN_HAS_PROBLEM: a
// disabled node's problem is CM_PROB_DISABLED, any other a failed start.
inline void devnode_status(bool has_problem, bool disabled, ULONG* status, ULONG* problem) {
  *status = DN_DRIVER_LOADED | (has_problem ? DN_HAS_PROBLEM : DN_STARTED);
  *problem = !has_problem ? 0 : disabled ? CM_PROB_DISABLED : CM_PROB_FAILED_START;
}

}  // namespace e2e
