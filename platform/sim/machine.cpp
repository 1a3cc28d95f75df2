#include "platform/sim/machine.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "platform/sim/sim_internal.h"

namespace sim {

namespace {

CallLog g_calls;
DevNode g_touchpad_transport = 0;
DevNode g_stale_device = 0;

constexpr char16_t kHidInterfaceClass[] = u"{4d1e55b2-f16f-11cf-88cb-001111000030}";

// The device path of a HID node's interface: "\\?\" and the instance ID with '#' for '\', then
// the HID interface class.
std::u16string interface_path(const std::u16string& instance_id) {
  std::u16string path = u"\\\\?\\";
  for (char16_t c : instance_id) path += c == u'\\' ? u'#' : c;
  return path + u"#" + kHidInterfaceClass;
}

DevNode add_transport(const char16_t* instance_id, const char16_t* enumerator,
                      const char16_t* service) {
  Node node;
  node.instance_id = instance_id;
  node.hid_class = true;
  node.enumerator = enumerator;
  node.service = service;
  return add_node(std::move(node));
}

struct Collection {
  const char16_t* instance_id;
  const char16_t* service;
  std::vector<uint8_t> report_ids;
  uint32_t report_length;
};

void add_collection(DevNode parent, const Collection& collection, HidInterface identity) {
  Node node;
  node.instance_id = collection.instance_id;
  node.parent = parent;
  node.hid_class = true;
  node.enumerator = u"HID";
  node.service = collection.service;
  identity.path = interface_path(node.instance_id);
  identity.node = add_node(std::move(node));
  identity.feature_value_report_ids = collection.report_ids;
  identity.feature_report_length = collection.report_length;
  hid_world().interfaces.push_back(std::move(identity));
}

HidInterface identity(uint16_t vendor_id, uint16_t product_id, uint16_t version, bool touchpad) {
  HidInterface interface;
  interface.vendor_id = vendor_id;
  interface.product_id = product_id;
  interface.version_number = version;
  interface.touchpad = touchpad;
  return interface;
}

void build_default_machine() {
  DevNode keyboard = add_transport(u"ACPI\\KBD0001\\1", u"ACPI", u"hidspi");
  add_collection(keyboard, {u"HID\\KBD0001&COL01\\6&2C4E7A11&0&0000", u"kbdhid", {1}, 3},
                 identity(0x2E5D, 0x0401, 0x0110, false));

  DevNode touchscreen = add_transport(u"ACPI\\TSC0001\\1", u"ACPI", u"hidi2c");
  add_collection(touchscreen,
                 {u"HID\\TSC0001&COL01\\5&3B7D0E22&0&0000", u"", {kReportId}, kReportLength},
                 identity(0x4D21, kFirmwareProductId, 0x0200, false));

  g_touchpad_transport = add_transport(u"ACPI\\TPD0001\\1", u"ACPI", u"hidi2c");
  HidInterface touchpad_identity = identity(kTouchpadVendorId, 0, 0x0100, true);
  add_collection(g_touchpad_transport,
                 {u"HID\\TPD0001&COL01\\5&1F2A9C3D&0&0000", u"mouhid", {1, 3}, 64},
                 touchpad_identity);
  add_collection(g_touchpad_transport, {u"HID\\TPD0001&COL02\\5&1F2A9C3D&0&0001", u"", {}, 0},
                 touchpad_identity);
  add_collection(g_touchpad_transport,
                 {u"HID\\TPD0001&COL03\\5&1F2A9C3D&0&0002", u"", {kReportId}, kReportLength},
                 touchpad_identity);

  DevNode mouse = add_transport(u"USB\\VID_5E11&PID_0002\\8&0A1B2C3D&0&1", u"USB", u"HidUsb");
  add_collection(mouse, {u"HID\\VID_5E11&PID_0002\\9&1D2E3F40&0&0000", u"mouhid", {2}, 8},
                 identity(0x5E11, 0x0002, 0x0100, false));
}

void set_up_touchpad(const MachineSetup& setup) {
  Touchpad& t = touchpad();
  t.firmware_version = setup.firmware_version;
  t.new_version = setup.new_version;
  t.big_endian_info = setup.big_endian_info;
  t.info_length = setup.info_length;
  t.protocol = setup.protocol;
  t.erase_delay = setup.erase_delay;
  t.write_rate = setup.write_rate;
  t.firmware_signature = setup.firmware_signature;
  t.image_never_valid = setup.image_never_valid;
  t.image_valid = setup.device != DeviceStart::kBootloader;
  for (const CommandFailure& failure : setup.failures) {
    t.faults[static_cast<size_t>(failure.command)] = Fault::from_nth(failure.from_nth);
  }
  for (const BusyReads& busy : setup.busy) {
    t.status_faults.push_back({busy.command, busy.reads, kErrorBusy, false});
  }
}

void set_up_nodes(const MachineSetup& setup) {
  if (setup.device == DeviceStart::kNone) {
    for (Node& each : device_tree().nodes) {
      bool below = &each == &node(g_touchpad_transport) || each.parent == g_touchpad_transport;
      if (below) each.present = false;
    }
  }
  Node& transport = node(g_touchpad_transport);
  transport.has_problem = setup.device == DeviceStart::kAfterRepair;
  if (setup.restart_fails) {
    transport.problem_after_enable = true;
    transport.reenumerate = Fault::always();
  }
  if (setup.stale != Stale::kNone) {
    g_stale_device = add_transport(u"ACPI\\SNS0001\\1", u"ACPI", u"hidi2c");
    node(g_stale_device).has_problem = true;
    node(g_stale_device).problem_after_enable = setup.stale == Stale::kStays;
  }
}

bool parse_number(const char* text, uint32_t max, uint32_t* value) {
  char* end = nullptr;
  unsigned long parsed = std::strtoul(text, &end, 0);
  if (end == text || *end != '\0' || parsed > max) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

template <typename T>
bool parse_into(const char* text, uint32_t max, T* field) {
  uint32_t value = 0;
  if (!parse_number(text, max, &value)) return false;
  *field = static_cast<T>(value);
  return true;
}

bool parse_device(const std::string& word, DeviceStart* device) {
  if (word == "normal")
    *device = DeviceStart::kNormal;
  else if (word == "bootloader")
    *device = DeviceStart::kBootloader;
  else if (word == "none")
    *device = DeviceStart::kNone;
  else if (word == "after-repair")
    *device = DeviceStart::kAfterRepair;
  else
    return false;
  return true;
}

bool parse_stale(const std::string& word, Stale* stale) {
  if (word == "none")
    *stale = Stale::kNone;
  else if (word == "ok")
    *stale = Stale::kRepaired;
  else if (word == "fail")
    *stale = Stale::kStays;
  else
    return false;
  return true;
}

// An option with one value: `value` is argv[*i + 1].
bool parse_valued(const std::string& option, const char* value, MachineSetup* setup) {
  if (option == "--device") return parse_device(value, &setup->device);
  if (option == "--firmware") return parse_into(value, 0xFFFF, &setup->firmware_version);
  if (option == "--new-firmware") return parse_into(value, 0xFFFF, &setup->new_version);
  if (option == "--info-length") return parse_into(value, 516, &setup->info_length);
  if (option == "--erase-delay") return parse_into(value, 0xFF, &setup->erase_delay);
  if (option == "--write-rate") return parse_into(value, 0xFF, &setup->write_rate);
  if (option == "--signature") return parse_into(value, 0xFFFF, &setup->firmware_signature);
  if (option == "--protocol") {
    return parse_into(value, 9, &setup->protocol) && setup->protocol >= 7;
  }
  if (option == "--restart") {
    setup->restart_fails = std::strcmp(value, "fail") == 0;
    return setup->restart_fails || std::strcmp(value, "ok") == 0;
  }
  if (option == "--stale") return parse_stale(value, &setup->stale);
  return false;
}

// --fail COMMAND N and --busy COMMAND N.
bool parse_command_fault(const std::string& option, const char* name, const char* count,
                         MachineSetup* setup) {
  Command command = Command::kStatus;
  uint32_t n = 0;
  if (!command_from_name(name, &command) || !parse_number(count, 0xFFFFFFFF, &n)) return false;
  if (option == "--fail") {
    if (n == 0) return false;
    setup->failures.push_back({command, n});
  } else {
    setup->busy.push_back({command, n});
  }
  return true;
}

}  // namespace

CallLog& calls() {
  return g_calls;
}

void reset_devices() {
  set_up_machine(MachineSetup{});
}

void set_up_machine(const MachineSetup& setup) {
  g_calls = CallLog{};
  hid_world() = HidWorld{};
  device_tree() = DeviceTree{};
  touchpad() = Touchpad{};
  g_stale_device = 0;
  build_default_machine();
  set_up_touchpad(setup);
  set_up_nodes(setup);
  refresh_interfaces();
  // Building the machine is not the program's doing.
  g_calls = CallLog{};
}

DevNode touchpad_transport() {
  return g_touchpad_transport;
}

DevNode stale_device() {
  return g_stale_device;
}

OptionResult parse_machine_option(int argc, const char* const* argv, int* i, MachineSetup* setup) {
  std::string option = argv[*i];
  if (option == "--big-endian" || option == "--image-never-valid") {
    (option == "--big-endian" ? setup->big_endian_info : setup->image_never_valid) = true;
    ++*i;
    return OptionResult::kTaken;
  }
  if (option == "--fail" || option == "--busy") {
    if (*i + 2 >= argc) return OptionResult::kBad;
    if (!parse_command_fault(option, argv[*i + 1], argv[*i + 2], setup)) {
      return OptionResult::kBad;
    }
    *i += 3;
    return OptionResult::kTaken;
  }
  static const char* const kValued[] = {
      "--device",      "--firmware",   "--new-firmware", "--info-length", "--protocol",
      "--erase-delay", "--write-rate", "--signature",    "--restart",     "--stale"};
  for (const char* valued : kValued) {
    if (option != valued) continue;
    if (*i + 1 >= argc || !parse_valued(option, argv[*i + 1], setup)) return OptionResult::kBad;
    *i += 2;
    return OptionResult::kTaken;
  }
  return OptionResult::kNotMine;
}

const char* machine_options_usage() {
  return "  --device normal|bootloader|none|after-repair   the touchpad at the start\n"
         "  --firmware N          firmware version in the flash (16)\n"
         "  --new-firmware N      version a newly written image carries (17)\n"
         "  --big-endian          the device information block is big-endian\n"
         "  --info-length N       length of the device information block (27)\n"
         "  --protocol 7|8|9      protocol version (9)\n"
         "  --erase-delay N       announced erase delay, ms per KiB (50)\n"
         "  --write-rate N        announced write rate, ms per 1000 bytes (10)\n"
         "  --signature 0xNNNN    status signature of the firmware (0x5AC3)\n"
         "  --fail COMMAND N      the Nth HID call of COMMAND and every later one fail\n"
         "  --busy COMMAND N      from the first COMMAND on, N status reads report busy\n"
         "  --image-never-valid   validate image never finds the image valid\n"
         "  --restart ok|fail     whether restarting the touchpad's transport device works\n"
         "  --stale ok|fail|none  a stale hidi2c device that a restart repairs, or does not\n"
         "  COMMAND: status info reset invoke format-image format-region write flush validate\n";
}

}  // namespace sim
