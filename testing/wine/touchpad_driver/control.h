// The control path of the virtual touchpad: what the test's tools and the configuration-manager
// stand-in ask of the bus driver (bus_driver.cpp), through its control device. Shared by the
// driver and by user-mode code, so it includes neither the kernel's headers nor windows.h.
//
// Every request is a DeviceIoControl with METHOD_BUFFERED on "\\.\FwuE2ETouchpad", which any
// number of processes may hold open at once; the driver serves one request at a time.
#pragma once

#include <cstdint>

namespace touchpad_control {

// The control device as user mode opens it, and its kernel names.
constexpr wchar_t kUserPath[] = L"\\\\.\\FwuE2ETouchpad";
constexpr wchar_t kDeviceName[] = L"\\Device\\FwuE2ETouchpad";
constexpr wchar_t kLinkName[] = L"\\DosDevices\\FwuE2ETouchpad";

// CTL_CODE(FILE_DEVICE_UNKNOWN, function, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr uint32_t control_code(uint32_t function) {
  return 0x22u << 16 | function << 2;
}

// In: machine options in the syntax of fwupdate-sim (blank-separated words, 8-bit text); empty:
// the default machine. When they are accepted, the machine is built afresh, the record starts
// again and the touchpad's transport device is unplugged and plugged as the new machine has it.
// Out: a SetUpAnswer, then, when refused, why (text, cut to the room the caller gave).
constexpr uint32_t kSetUp = control_code(0x800);
// Out: the record, lines of text (record.txt).
constexpr uint32_t kRecord = control_code(0x801);
// Out: a FlashHeader, then the flash from its lowest programmed address to its highest, 0xFF
// where nothing is programmed (flash.bin).
constexpr uint32_t kFlash = control_code(0x802);
// In: a NodeRequest; out: a NodeAnswer. The configuration manager's calls on a device node.
constexpr uint32_t kNode = control_code(0x803);
// Out: a TransportState.
constexpr uint32_t kState = control_code(0x804);

struct SetUpAnswer {
  uint32_t accepted = 0;
};

struct FlashHeader {
  uint32_t base = 0;
  uint32_t length = 0;
};

struct TransportState {
  uint32_t plugged = 0;     // the bus has the touchpad's transport device now
  uint32_t product_id = 0;  // the product ID it appeared with
  // The transport device is not yet as the machine has it: the bus is still plugging it in or
  // unplugging it, Wine has not yet removed the one that left or started the one plugged in, or
  // the touchpad's interfaces are still to appear (--appear-ms).
  uint32_t settling = 0;
};

enum class NodeCall : uint32_t {
  kStatus,       // CM_Get_DevNode_Status
  kDisable,      // CM_Disable_DevNode
  kEnable,       // CM_Enable_DevNode
  kReenumerate,  // CM_Reenumerate_DevNode
  kUninstall,    // DiUninstallDevice
};

constexpr uint32_t kInstanceIdChars = 200;  // the configuration manager's limit

struct NodeRequest {
  NodeCall call = NodeCall::kStatus;
  char16_t instance_id[kInstanceIdChars] = {};  // zero-terminated
};

enum class NodeResult : uint32_t {
  kDone,            // done; for kStatus, has_problem tells the DN_HAS_PROBLEM bit
  kNotDisableable,  // kDisable: the device cannot be disabled
  kFailed,          // the device refused the call
  kNotPresent,      // the machine has that device, but it is not present
  kUnknown,         // the machine has no device of that instance ID
};

struct NodeAnswer {
  NodeResult result = NodeResult::kUnknown;
  uint32_t has_problem = 0;
  uint32_t disabled = 0;
};

}  // namespace touchpad_control
