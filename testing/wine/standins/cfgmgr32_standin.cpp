// cfgmgr32.dll: the configuration manager on the world's device tree.
#include <cstring>
#include <string>

#include "platform/devnode.h"
#include "platform/sim/device_tree.h"
#include "testing/wine/standins/devnode_answers.h"
#include "testing/wine/standins/standins.h"
#include "testing/wine/standins/world.h"

namespace {

bool all_zero(const BYTE* buffer, ULONG size) {
  for (ULONG i = 0; i < size; ++i) {
    if (buffer[i] != 0) return false;
  }
  return true;
}

CONFIGRET outcome(bool ok) {
  return ok ? CR_SUCCESS : CR_FAILURE;
}

}  // namespace

CONFIGRET WINAPI standin_CM_Get_Device_Interface_PropertyW(LPCWSTR interface_path,
                                                           const DEVPROPKEY* key, DEVPROPTYPE* type,
                                                           PBYTE buffer, PULONG size, ULONG flags) {
  e2e::ensure_world();
  const char* function = "CM_Get_Device_Interface_PropertyW";
  e2e::require(interface_path != nullptr && type != nullptr && buffer != nullptr && size != nullptr,
               function, "no path, type, buffer or size");
  e2e::require(key != nullptr && std::memcmp(key, &e2e::kDeviceInstanceIdKey, sizeof *key) == 0,
               function, "a property other than DEVPKEY_Device_InstanceId");
  e2e::require_value(function, "the flags", flags, 0);
  e2e::require_value(function, "the buffer size", *size, 400);
  e2e::require(all_zero(buffer, *size), function, "the buffer is not zeroed");
  const platform::hid::InterfacePath* path = e2e::remembered(interface_path);
  std::u16string instance_id;
  bool is_string = false;
  if (path == nullptr ||
      !platform::devnode::interface_instance_id(*path, &instance_id, &is_string)) {
    return CR_NO_SUCH_DEVICE_INTERFACE;
  }
  // A value of another type: the same text as a list of strings, with its second zero.
  *type = is_string ? DEVPROP_TYPE_STRING : DEVPROP_TYPE_STRING_LIST;
  if (!is_string) instance_id += u'\0';
  ULONG needed = static_cast<ULONG>(sizeof(char16_t) * (instance_id.size() + 1));
  if (needed > *size) {
    *size = needed;
    return CR_BUFFER_SMALL;
  }
  std::memcpy(buffer, instance_id.c_str(), needed);
  *size = needed;
  return CR_SUCCESS;
}

CONFIGRET WINAPI standin_CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W instance_id, ULONG flags) {
  e2e::ensure_world();
  const char* function = "CM_Locate_DevNodeW";
  e2e::require(node != nullptr && instance_id != nullptr, function, "no node or instance ID");
  e2e::require_value(function, "the flags", flags, CM_LOCATE_DEVNODE_NORMAL);
  platform::devnode::DevNode found = 0;
  if (!platform::devnode::locate(reinterpret_cast<const char16_t*>(instance_id), &found)) {
    return CR_NO_SUCH_DEVNODE;
  }
  *node = found;
  return CR_SUCCESS;
}

CONFIGRET WINAPI standin_CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG flags) {
  e2e::ensure_world();
  e2e::require(parent != nullptr, "CM_Get_Parent", "no place for the parent");
  e2e::require_value("CM_Get_Parent", "the flags", flags, 0);
  platform::devnode::DevNode found = 0;
  if (!platform::devnode::parent(node, &found)) return CR_NO_SUCH_DEVNODE;
  *parent = found;
  return CR_SUCCESS;
}

CONFIGRET WINAPI standin_CM_Disable_DevNode(DEVINST node, ULONG flags) {
  e2e::ensure_world();
  e2e::require_value("CM_Disable_DevNode", "the flags", flags, CM_DISABLE_UI_NOT_OK);
  e2e::forget_closed_handles();
  switch (platform::devnode::disable(node)) {
    case platform::devnode::Disable::kDisabled:
      return CR_SUCCESS;
    case platform::devnode::Disable::kNotDisableable:
      return CR_NOT_DISABLEABLE;
    case platform::devnode::Disable::kFailed:
      break;
  }
  return CR_FAILURE;
}

CONFIGRET WINAPI standin_CM_Enable_DevNode(DEVINST node, ULONG flags) {
  e2e::ensure_world();
  e2e::require_value("CM_Enable_DevNode", "the flags", flags, 0);
  return outcome(platform::devnode::enable(node));
}

CONFIGRET WINAPI standin_CM_Reenumerate_DevNode(DEVINST node, ULONG flags) {
  e2e::ensure_world();
  e2e::require_value("CM_Reenumerate_DevNode", "the flags", flags,
                     CM_REENUMERATE_RETRY_INSTALLATION | CM_REENUMERATE_ASYNCHRONOUS);
  return outcome(platform::devnode::reenumerate(node));
}

CONFIGRET WINAPI standin_CM_Get_DevNode_Status(PULONG status, PULONG problem, DEVINST node,
                                               ULONG flags) {
  e2e::ensure_world();
  const char* function = "CM_Get_DevNode_Status";
  e2e::require(status != nullptr && problem != nullptr, function, "no status or problem");
  e2e::require_value(function, "the flags", flags, 0);
  bool has_problem = false;
  if (!platform::devnode::status(node, &has_problem)) return CR_NO_SUCH_DEVNODE;
  e2e::devnode_status(has_problem, sim::node(node).disabled, status, problem);
  return CR_SUCCESS;
}
