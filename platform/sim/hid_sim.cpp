#include <algorithm>
#include <cstring>

#include "platform/hid.h"
#include "platform/sim/device_tree.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/sim/touchpad.h"

namespace sim {

namespace {
HidWorld g_hid;
}  // namespace

HidWorld& hid_world() {
  return g_hid;
}

int find_interface(const std::u16string& path) {
  for (size_t i = 0; i < g_hid.interfaces.size(); ++i) {
    if (g_hid.interfaces[i].path == path) return static_cast<int>(i);
  }
  return -1;
}

int touchpad_interface() {
  for (size_t i = 0; i < g_hid.interfaces.size(); ++i) {
    const HidInterface& each = g_hid.interfaces[i];
    const std::vector<uint8_t>& ids = each.feature_value_report_ids;
    if (each.touchpad && std::find(ids.begin(), ids.end(), kReportId) != ids.end()) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void refresh_interfaces() {
  // The touchpad boots once when its interfaces come back, however many of them do.
  bool touchpad_booted = false;
  for (HidInterface& each : g_hid.interfaces) {
    bool started = is_started(each.node);
    if (started && !each.present) {
      ++each.appearance;
      if (each.touchpad) {
        if (!touchpad_booted && touchpad().powered) touchpad_boot();
        touchpad_booted = true;
        each.product_id = product_id_for_mode();
      }
    }
    each.present = started;
  }
}

void reappear_touchpad_interfaces() {
  for (HidInterface& each : g_hid.interfaces) {
    if (!each.touchpad || !each.present) continue;
    ++each.appearance;
    each.product_id = product_id_for_mode();
  }
}

}  // namespace sim

// ---- Interface paths and the interface list --------------------------------------------------

struct platform::hid::InterfacePath::Impl {
  std::u16string path;
};

struct platform::hid::InterfaceList::Impl {
  std::vector<size_t> interfaces;  // the present ones when the list was made
  int selected = -1;
};

namespace {

// A device handle: the interface, and which appearance of it was opened.
struct Handle {
  size_t interface = 0;
  uint32_t appearance = 0;
};

struct Preparsed {
  size_t interface = 0;
  std::vector<uint8_t> report_ids;
};

void log(const char* name) {
  sim::calls().names.emplace_back(name);
  sim::record_event(name);
}

// The event of a feature report call: for the touchpad, the command a report carries, or the
// error code of the status it answered.
void record_feature_call(const char* name, const sim::HidInterface* interface,
                         const uint8_t* report, uint32_t length, bool set, bool succeeded) {
  std::string line = name;
  sim::Command command = sim::Command::kStatus;
  if (set && interface != nullptr && interface->touchpad && length == sim::kReportLength &&
      sim::command_of(report[1], &command)) {
    line += std::string(" ") + sim::command_name(command);
    if (command == sim::Command::kWrite) {
      line += " " + std::to_string(report[6] | report[7] << 8 | report[8] << 16 | report[9] << 24);
    }
  }
  // A status with an error code says so: the host's retries answer to it.
  if (!set && succeeded && interface->touchpad && report[4] != 0) {
    line += " error " + std::to_string(report[4]);
  }
  sim::record_event(succeeded ? line : line + " failed");
}

// The interface behind a handle while that appearance of it is still there; null otherwise.
sim::HidInterface* live_interface(void* handle) {
  const Handle* h = static_cast<const Handle*>(handle);
  std::vector<sim::HidInterface>& interfaces = sim::hid_world().interfaces;
  if (h->interface >= interfaces.size()) return nullptr;
  sim::HidInterface& interface = interfaces[h->interface];
  if (!interface.present || interface.appearance != h->appearance) return nullptr;
  if (interface.touchpad && !sim::touchpad().powered) return nullptr;
  return &interface;
}

// The HID stack's own check of a feature report before any device sees it.
bool acceptable_report(const sim::HidInterface& interface, const uint8_t* report, uint32_t length) {
  if (length == 0 || length != interface.feature_report_length) return false;
  const std::vector<uint8_t>& ids = interface.feature_value_report_ids;
  return std::find(ids.begin(), ids.end(), report[0]) != ids.end();
}

// SP_DEVICE_INTERFACE_DETAIL_DATA_W: a 32-bit size field, then the zero-terminated wide path.
uint32_t detail_bytes(const std::u16string& path) {
  return 4 + 2 * static_cast<uint32_t>(path.size() + 1);
}

}  // namespace

namespace platform::hid {

const char16_t* InterfacePath::device_path() const {
  return impl_->path.c_str();
}

void InterfacePath::reset() {
  if (impl_ == nullptr) return;
  delete impl_;
  impl_ = nullptr;
  --sim::hid_world().interface_paths;
}

void InterfaceList::release() {
  if (impl_ == nullptr) return;
  log("SetupDiDestroyDeviceInfoList");
  delete impl_;
  impl_ = nullptr;
  --sim::hid_world().interface_lists;
}

InterfaceList InterfaceList::present() {
  log("HidD_GetHidGuid");
  log("SetupDiGetClassDevsW");
  sim::refresh_interfaces();  // devices that started in their own time since the last change
  sim::HidWorld& world = sim::hid_world();
  if (world.list.hit()) return InterfaceList();
  Impl* impl = new Impl;
  for (size_t i = 0; i < world.interfaces.size(); ++i) {
    if (world.interfaces[i].present) impl->interfaces.push_back(i);
  }
  ++world.interface_lists;
  return InterfaceList(impl);
}

bool InterfaceList::select(uint32_t index) {
  log("SetupDiEnumDeviceInterfaces");
  if (impl_ == nullptr || index >= impl_->interfaces.size()) return false;
  impl_->selected = static_cast<int>(index);
  return true;
}

uint32_t InterfaceList::detail_size() const {
  log("SetupDiGetDeviceInterfaceDetailW");
  if (impl_ == nullptr || impl_->selected < 0) return 0;
  sim::HidInterface& interface = sim::hid_world().interfaces[impl_->interfaces[impl_->selected]];
  if (interface.detail_size.hit()) return 0;
  return detail_bytes(interface.path);
}

bool InterfaceList::read_detail(uint32_t size, InterfacePath* path) const {
  log("SetupDiGetDeviceInterfaceDetailW");
  path->reset();
  if (impl_ == nullptr || impl_->selected < 0) return false;
  sim::HidInterface& interface = sim::hid_world().interfaces[impl_->interfaces[impl_->selected]];
  if (size < detail_bytes(interface.path) || interface.detail_read.hit()) return false;
  *path = InterfacePath(new InterfacePath::Impl{interface.path});
  ++sim::hid_world().interface_paths;
  return true;
}

// ---- Devices ----------------------------------------------------------------------------------

Device Device::open(const InterfacePath& path) {
  log("CreateFileW");
  if (!path.is_present()) return Device();
  int index = sim::find_interface(path.device_path());
  if (index < 0) return Device();
  sim::HidInterface& interface = sim::hid_world().interfaces[index];
  if (!interface.present || interface.open.hit()) return Device();
  if (interface.touchpad && !sim::touchpad().powered) return Device();
  ++interface.opens;
  ++interface.handles;
  ++sim::hid_world().open_handles;
  return Device(new Handle{static_cast<size_t>(index), interface.appearance});
}

void Device::close() {
  if (handle_ == nullptr) return;
  log("CloseHandle");
  Handle* handle = static_cast<Handle*>(handle_);
  std::vector<sim::HidInterface>& interfaces = sim::hid_world().interfaces;
  if (handle->interface < interfaces.size()) --interfaces[handle->interface].handles;
  delete handle;
  handle_ = nullptr;
  --sim::hid_world().open_handles;
}

bool Device::get_attributes(Attributes* attributes) const {
  log("HidD_GetAttributes");
  if (handle_ == nullptr) return false;
  sim::HidInterface* interface = live_interface(handle_);
  if (interface == nullptr || interface->attributes.hit()) return false;
  *attributes = {interface->vendor_id, interface->product_id, interface->version_number};
  return true;
}

bool Device::set_feature(uint8_t* report, uint32_t length) const {
  sim::calls().names.emplace_back("HidD_SetFeature");
  sim::HidInterface* interface = handle_ == nullptr ? nullptr : live_interface(handle_);
  bool sent = interface != nullptr && acceptable_report(*interface, report, length);
  // The touchpad answers for itself; another device takes the report and ignores it.
  if (sent && interface->touchpad) sent = sim::touchpad_set_feature(report, length);
  record_feature_call("HidD_SetFeature", interface, report, length, true, sent);
  return sent;
}

bool Device::get_feature(uint8_t* report, uint32_t length) const {
  sim::calls().names.emplace_back("HidD_GetFeature");
  sim::HidInterface* interface = handle_ == nullptr ? nullptr : live_interface(handle_);
  bool read = interface != nullptr && acceptable_report(*interface, report, length);
  if (read && interface->touchpad) {
    read = sim::touchpad_get_feature(report, length);
  } else if (read) {
    std::memset(report + 1, 0, length - 1);
  }
  record_feature_call("HidD_GetFeature", interface, report, length, false, read);
  return read;
}

// ---- Preparsed data ---------------------------------------------------------------------------

void PreparsedData::release() {
  if (data_ == nullptr) return;
  log("HidD_FreePreparsedData");
  delete static_cast<Preparsed*>(data_);
  data_ = nullptr;
  --sim::hid_world().preparsed_data;
}

PreparsedData PreparsedData::get(const Device& device) {
  log("HidD_GetPreparsedData");
  if (!device.is_valid()) return PreparsedData();
  sim::HidInterface* interface = live_interface(device.handle());
  if (interface == nullptr || interface->preparsed.hit()) return PreparsedData();
  size_t index = static_cast<size_t>(interface - sim::hid_world().interfaces.data());
  ++sim::hid_world().preparsed_data;
  return PreparsedData(new Preparsed{index, interface->feature_value_report_ids});
}

bool PreparsedData::feature_value_caps_count(uint16_t* count) const {
  log("HidP_GetCaps");
  if (data_ == nullptr) return false;
  const Preparsed* data = static_cast<const Preparsed*>(data_);
  if (sim::hid_world().interfaces[data->interface].caps.hit()) return false;
  *count = static_cast<uint16_t>(data->report_ids.size());
  return true;
}

bool PreparsedData::feature_value_report_ids(uint16_t count,
                                             std::vector<uint8_t>* report_ids) const {
  log("HidP_GetValueCaps");
  if (data_ == nullptr) return false;
  const Preparsed* data = static_cast<const Preparsed*>(data_);
  sim::HidInterface& interface = sim::hid_world().interfaces[data->interface];
  if (interface.value_caps.hit()) return false;
  size_t n = std::min<size_t>({count, data->report_ids.size(), interface.value_caps_limit});
  report_ids->assign(data->report_ids.begin(), data->report_ids.begin() + n);
  return true;
}

}  // namespace platform::hid
