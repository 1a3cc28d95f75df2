// Runs the parts of the Windows backend that the program's no-device road does not reach, on
// whatever Wine offers: the registry calls of the inventory record, the walk over the present
// HID interfaces and ACPI HID-class devices, and the case-blind comparison. (The configuration
// manager's disable, enable and interface property calls end a Wine process, so they stay out.)
// Prints one line per failed expectation; exit status 0 when there was none.
#include <cstdio>
#include <string>

#include "platform/devnode.h"
#include "platform/hid.h"
#include "platform/registry.h"

namespace {

int g_failures = 0;

void expect(bool condition, const char* what) {
  if (condition) return;
  ++g_failures;
  std::printf("FAILED: %s\n", what);
}

void registry() {
  using platform::RegistryKey;
  // Only the first two bytes are the value: the length given is the text's, without a zero.
  RegistryKey key = RegistryKey::create("SOFTWARE\\FwuSmoke\\Inventory", platform::kKeySetValue);
  expect(key.is_open(), "a key below the local-machine root is created with set-value rights");
  expect(key.set_default_value("17junk", 2), "its default value is set");
  RegistryKey view = RegistryKey::create("SOFTWARE\\FwuSmoke\\View",
                                         platform::kKeySetValue | platform::kKeyWow64View64);
  expect(view.is_open(), "a key is created with the 64-bit view named");
  expect(view.set_default_value("Touchpad", 8), "its default value is set");
  // Key names are at most 255 characters: a longer part is refused.
  std::string too_long = "SOFTWARE\\FwuSmoke\\" + std::string(300, 'k');
  RegistryKey bad = RegistryKey::create(too_long.c_str(), platform::kKeySetValue);
  expect(!bad.is_open(), "a key name of 300 characters is refused");
  expect(!bad.set_default_value("x", 1), "a key that is not open takes no value");
}

void hid_interfaces() {
  using namespace platform::hid;
  expect(!Device::open(InterfacePath()).is_valid(), "no path, no device");
  InterfaceList list = InterfaceList::present();
  expect(list.is_valid(), "the list of present HID interfaces");
  uint32_t count = 0;
  for (; list.select(count); ++count) {
    uint32_t size = list.detail_size();
    InterfacePath path;
    expect(size > 8, "each interface's detail record has a path part");
    expect(list.read_detail(size, &path) && path.is_present(), "each detail record reads");
    expect(!list.read_detail(4, &path) && !path.is_present(),
           "a record shorter than its fixed part is refused and leaves no path");
  }
  std::printf("HID interfaces present: %u\n", count);
}

void acpi_devices() {
  using namespace platform::devnode;
  AcpiHidDevices devices = AcpiHidDevices::present();
  expect(devices.is_valid(), "the list of present ACPI HID-class devices");
  std::u16string name;
  expect(!devices.service_name(&name), "no service name before a device is selected");
  DevNode node = 0;
  uint32_t count = 0;
  for (; devices.select(count, &node); ++count) devices.service_name(&name);
  std::printf("ACPI HID-class devices present: %u\n", count);
  expect(equal_ignoring_case(u"HIDI2C", u"hidi2c"), "case does not count");
  expect(!equal_ignoring_case(u"hidi2c", u"hidi2c0"), "length does");
}

}  // namespace

int main() {
  registry();
  hid_interfaces();
  acpi_devices();
  return g_failures == 0 ? 0 : 1;
}
