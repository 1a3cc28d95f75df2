#include "pnp/device_restart.h"

#include <string>

#include "platform/devnode.h"

namespace fwu {

namespace {

namespace devnode = platform::devnode;

// Removes every present ACPI HID-class device whose node is `node`; the walk does not stop at a
// match.
void remove_from_acpi_hid_list(devnode::DevNode node) {
  devnode::AcpiHidDevices list = devnode::AcpiHidDevices::present();
  if (!list.is_valid()) return;
  devnode::DevNode entry = 0;
  for (uint32_t index = 0; list.select(index, &entry); ++index) {
    if (entry == node) list.remove();
  }
}

devnode::Disable disable_transport(devnode::DevNode transport) {
  devnode::Disable result = devnode::disable(transport);
  if (result == devnode::Disable::kNotDisableable) {
    remove_from_acpi_hid_list(transport);
    result = devnode::disable(transport);
  }
  return result;
}

}  // namespace

int device_restart(DeviceConnection& connection) {
  if (!connection.is_open() || !connection.has_device_handle() ||
      !connection.interface_path().is_present()) {
    return -1;
  }
  std::u16string instance_id;
  bool is_string = false;
  if (!devnode::interface_instance_id(connection.interface_path(), &instance_id, &is_string) ||
      !is_string) {
    return -1;
  }
  // None of our own handles may hold the device while it is disabled.
  connection.close();

  devnode::DevNode node = 0;
  devnode::DevNode transport = 0;
  if (!devnode::locate(instance_id, &node) || !devnode::parent(node, &transport)) return -1;
  if (disable_transport(transport) != devnode::Disable::kDisabled) return -1;
  if (!devnode::enable(transport) && !devnode::reenumerate(transport)) return -1;
  bool has_problem = true;
  if (!devnode::status(transport, &has_problem) || has_problem) return -1;
  return 0;
}

}  // namespace fwu
