#include "pnp/stale_device_removal.h"

#include <string>

#include "platform/devnode.h"

namespace fwu {

namespace {

namespace devnode = platform::devnode;

bool has_problem(devnode::DevNode node) {
  bool problem = false;
  return devnode::status(node, &problem) && problem;
}

// 0 when the device came back without a problem, 1 otherwise.
int restart(const devnode::AcpiHidDevices& list, devnode::DevNode node) {
  devnode::Disable disabled = devnode::disable(node);
  if (disabled == devnode::Disable::kNotDisableable) {
    list.uninstall();
    disabled = devnode::disable(node);
  }
  if (disabled != devnode::Disable::kDisabled || !devnode::enable(node)) return 1;
  bool problem = true;
  return devnode::status(node, &problem) && !problem ? 0 : 1;
}

}  // namespace

int stale_device_removal() {
  devnode::AcpiHidDevices list = devnode::AcpiHidDevices::present();
  if (!list.is_valid()) return -1;
  int result = -1;
  devnode::DevNode node = 0;
  for (uint32_t index = 0; list.select(index, &node); ++index) {
    std::u16string service;
    if (!list.service_name(&service) || !devnode::equal_ignoring_case(service.c_str(), u"hidi2c") ||
        !has_problem(node)) {
      continue;
    }
    // A device still in trouble is not made good by another one repaired after it: which of them
    // comes last is only the order in which the system lists them.
    int restarted = restart(list, node);
    result = result == 1 ? 1 : restarted;
  }
  return result;
}

}  // namespace fwu
