#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/linux/logic/device_tree.h"
#include "platform/linux/logic/report_descriptor.h"
#include "platform/linux/logic/sysfs_io.h"
#include "platform/linux/logic/sysfs_text.h"

struct platform::hid::InterfacePath::Impl {
  std::u16string path;  // "/dev/hidrawN"
};

struct platform::hid::InterfaceList::Impl {
  std::vector<uint32_t> numbers;  // of the hidraw nodes, ascending
  bool selected = false;
  uint32_t number = 0;
};

namespace platform::hid {

namespace {

struct DeviceHandle {
  int fd = -1;
  std::string node;  // "hidrawN", the name it was opened by
};

struct Descriptor {
  std::vector<uint8_t> report_ids;
};

int fd_of(void* handle) {
  return static_cast<DeviceHandle*>(handle)->fd;
}

std::u16string widen(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

std::string narrow(const char16_t* text) {
  std::string result;
  for (; *text != 0; ++text) {
    if (*text > 0x7F) return {};  // no node of ours has such a name
    result.push_back(static_cast<char>(*text));
  }
  return result;
}

// The version of the HID device: its input children carry it (the lowest-numbered one is read);
// a device without one, such as a collection of vendor reports alone, shows none.
uint16_t version_number(const std::string& hid_directory) {
  DIR* inputs = opendir((hid_directory + "/input").c_str());
  if (inputs == nullptr) return 0;
  std::string first;
  while (dirent* entry = readdir(inputs)) {
    std::string name = entry->d_name;
    if (!name.starts_with("input") || name.size() == 5) continue;
    if (first.empty() || name.size() < first.size() ||
        (name.size() == first.size() && name < first)) {
      first = name;
    }
  }
  closedir(inputs);
  std::string text;
  uint16_t version = 0;
  if (first.empty() ||
      !sysfs::read_attribute(hid_directory + "/input/" + first + "/id/version", &text) ||
      !sysfs::parse_hex16(text, &version)) {
    return 0;
  }
  return version;
}

}  // namespace

const char16_t* InterfacePath::device_path() const {
  return impl_->path.c_str();
}

void InterfacePath::reset() {
  delete impl_;
  impl_ = nullptr;
}

InterfaceList InterfaceList::present() {
  DIR* nodes = opendir((std::string(sysfs::kRoot) + "/class/hidraw").c_str());
  if (nodes == nullptr) return InterfaceList();
  Impl* impl = new Impl;
  while (dirent* entry = readdir(nodes)) {
    uint32_t number = 0;
    if (sysfs::parse_hidraw_number(entry->d_name, &number)) impl->numbers.push_back(number);
  }
  closedir(nodes);
  // By the node's number: the order the kernel made them in, the same on every walk.
  std::sort(impl->numbers.begin(), impl->numbers.end());
  return InterfaceList(impl);
}

void InterfaceList::release() {
  delete impl_;
  impl_ = nullptr;
}

bool InterfaceList::select(uint32_t index) {
  if (impl_ == nullptr || index >= impl_->numbers.size()) return false;
  impl_->selected = true;
  impl_->number = impl_->numbers[index];
  return true;
}

namespace {

std::string node_path(uint32_t number) {
  return "/dev/hidraw" + std::to_string(number);
}

}  // namespace

uint32_t InterfaceList::detail_size() const {
  if (impl_ == nullptr || !impl_->selected) return 0;
  return static_cast<uint32_t>((node_path(impl_->number).size() + 1) * sizeof(char16_t));
}

bool InterfaceList::read_detail(uint32_t size, InterfacePath* path) const {
  path->reset();
  if (size == 0 || size < detail_size()) return false;
  *path = InterfacePath(new InterfacePath::Impl{widen(node_path(impl_->number))});
  return true;
}

Device Device::open(const InterfacePath& path) {
  if (!path.is_present()) return Device();
  std::string name = narrow(path.device_path());
  if (name.empty()) return Device();
  // Read and write, as feature reports need; hidraw never takes the device from the input stack.
  int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return Device();
  return Device(new DeviceHandle{fd, sysfs::base_name(name)});
}

void Device::close() {
  if (handle_ == nullptr) return;
  ::close(fd_of(handle_));
  delete static_cast<DeviceHandle*>(handle_);
  handle_ = nullptr;
}

bool Device::get_attributes(Attributes* attributes) const {
  std::string directory;
  std::string uevent;
  sysfs::HidId id;
  // By the node's name, as the walk found it: the node stays this device's while it is held open.
  if (handle_ == nullptr ||
      !sysfs::DeviceTree(sysfs::kRoot)
           .hid_device_of(static_cast<DeviceHandle*>(handle_)->node, &directory) ||
      !sysfs::read_attribute(directory + "/uevent", &uevent) || !sysfs::parse_hid_id(uevent, &id)) {
    return false;
  }
  *attributes = {id.vendor_id, id.product_id, version_number(directory)};
  return true;
}

// The kernel answers with how many bytes went or came; a device that takes or gives fewer than
// the whole report has not done what was asked.
bool Device::set_feature(uint8_t* report, uint32_t length) const {
  if (handle_ == nullptr || length == 0) return false;
  return sysfs::whole_report(ioctl(fd_of(handle_), HIDIOCSFEATURE(length), report), length);
}

bool Device::get_feature(uint8_t* report, uint32_t length) const {
  if (handle_ == nullptr || length == 0) return false;
  return sysfs::whole_report(ioctl(fd_of(handle_), HIDIOCGFEATURE(length), report), length);
}

PreparsedData PreparsedData::get(const Device& device) {
  if (!device.is_valid()) return PreparsedData();
  int fd = fd_of(device.handle());
  int size = 0;
  if (ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size <= 0 || size > HID_MAX_DESCRIPTOR_SIZE) {
    return PreparsedData();
  }
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<uint32_t>(size);
  if (ioctl(fd, HIDIOCGRDESC, &descriptor) < 0) return PreparsedData();
  Descriptor* parsed = new Descriptor;
  if (!hidraw::feature_value_report_ids(descriptor.value, descriptor.size, &parsed->report_ids)) {
    delete parsed;
    return PreparsedData();
  }
  return PreparsedData(parsed);
}

void PreparsedData::release() {
  delete static_cast<Descriptor*>(data_);
  data_ = nullptr;
}

bool PreparsedData::feature_value_caps_count(uint16_t* count) const {
  if (data_ == nullptr) return false;
  size_t size = static_cast<Descriptor*>(data_)->report_ids.size();
  *count = static_cast<uint16_t>(std::min<size_t>(size, 0xFFFF));
  return true;
}

bool PreparsedData::feature_value_report_ids(uint16_t count,
                                             std::vector<uint8_t>* report_ids) const {
  if (data_ == nullptr) return false;
  const std::vector<uint8_t>& all = static_cast<Descriptor*>(data_)->report_ids;
  report_ids->assign(all.begin(), all.begin() + std::min<size_t>(count, all.size()));
  return true;
}

}  // namespace platform::hid
