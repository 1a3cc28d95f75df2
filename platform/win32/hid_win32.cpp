#include <windows.h>

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "platform/hid.h"
#include "platform/win32/system_dlls.h"

namespace sys = platform::win32::system_dll;

// The fixed sizes that the structures must have on x64, where the calls check them.
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8);
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);

struct platform::hid::InterfacePath::Impl {
  // An SP_DEVICE_INTERFACE_DETAIL_DATA_W record of the size the system asked for.
  std::unique_ptr<uint8_t[]> record;

  const SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail() const {
    return reinterpret_cast<const SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.get());
  }
};

struct platform::hid::InterfaceList::Impl {
  HDEVINFO list = INVALID_HANDLE_VALUE;
  GUID hid_guid{};
  SP_DEVICE_INTERFACE_DATA selected{};
};

namespace platform::hid {

void InterfaceList::release() {
  if (impl_ == nullptr) return;
  SetupDiDestroyDeviceInfoList(impl_->list);
  delete impl_;
  impl_ = nullptr;
}

void PreparsedData::release() {
  if (data_ == nullptr) return;
  sys::HidD_FreePreparsedData(static_cast<PHIDP_PREPARSED_DATA>(data_));
  data_ = nullptr;
}

const char16_t* InterfacePath::device_path() const {
  return reinterpret_cast<const char16_t*>(impl_->detail()->DevicePath);
}

void InterfacePath::reset() {
  delete impl_;
  impl_ = nullptr;
}

InterfaceList InterfaceList::present() {
  GUID hid_guid;
  if (!sys::HidD_GetHidGuid(&hid_guid)) return InterfaceList();
  HDEVINFO list =
      SetupDiGetClassDevsW(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list == INVALID_HANDLE_VALUE) return InterfaceList();
  return InterfaceList(new Impl{list, hid_guid, {}});
}

bool InterfaceList::select(uint32_t index) {
  if (impl_ == nullptr) return false;
  impl_->selected = SP_DEVICE_INTERFACE_DATA{};
  impl_->selected.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
  return SetupDiEnumDeviceInterfaces(impl_->list, nullptr, &impl_->hid_guid, index,
                                     &impl_->selected) != FALSE;
}

uint32_t InterfaceList::detail_size() const {
  if (impl_ == nullptr) return 0;
  DWORD size = 0;
  if (SetupDiGetDeviceInterfaceDetailW(impl_->list, &impl_->selected, nullptr, 0, &size, nullptr)) {
    return 0;
  }
  return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? size : 0;
}

bool InterfaceList::read_detail(uint32_t size, InterfacePath* path) const {
  path->reset();
  if (impl_ == nullptr || size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
  // The size comes from the system: a refused allocation is a failed read, not the end of the
  // process.
  std::unique_ptr<uint8_t[]> record(new (std::nothrow) uint8_t[size]());
  if (record == nullptr) return false;
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.get());
  // The fixed part of the record, not the whole buffer: the call checks this against the size
  // it expects for the process's bitness.
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(impl_->list, &impl_->selected, detail, size, nullptr,
                                        nullptr)) {
    return false;
  }
  *path = InterfacePath(new InterfacePath::Impl{std::move(record)});
  return true;
}

Device Device::open(const InterfacePath& path) {
  if (!path.is_present()) return Device();
  // No access rights: enough for attributes and feature reports, and granted even while the
  // system's own input stack holds the touchpad open.
  HANDLE handle =
      CreateFileW(reinterpret_cast<const wchar_t*>(path.device_path()), 0,
                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  // The core knows one invalid handle, null; the system has two.
  if (handle == INVALID_HANDLE_VALUE) handle = nullptr;
  return Device(handle);
}

void Device::close() {
  if (handle_ != nullptr) CloseHandle(handle_);
  handle_ = nullptr;
}

bool Device::get_attributes(Attributes* attributes) const {
  if (handle_ == nullptr) return false;
  HIDD_ATTRIBUTES read{};
  read.Size = sizeof(HIDD_ATTRIBUTES);
  if (!sys::HidD_GetAttributes(handle_, &read)) return false;
  *attributes = Attributes{read.VendorID, read.ProductID, read.VersionNumber};
  return true;
}

bool Device::set_feature(uint8_t* report, uint32_t length) const {
  return handle_ != nullptr && sys::HidD_SetFeature(handle_, report, length);
}

bool Device::get_feature(uint8_t* report, uint32_t length) const {
  return handle_ != nullptr && sys::HidD_GetFeature(handle_, report, length);
}

PreparsedData PreparsedData::get(const Device& device) {
  if (!device.is_valid()) return PreparsedData();
  PHIDP_PREPARSED_DATA data = nullptr;
  if (!sys::HidD_GetPreparsedData(device.handle(), &data)) return PreparsedData();
  return PreparsedData(data);
}

bool PreparsedData::feature_value_caps_count(uint16_t* count) const {
  if (data_ == nullptr) return false;
  HIDP_CAPS caps{};
  if (sys::HidP_GetCaps(static_cast<PHIDP_PREPARSED_DATA>(data_), &caps) != HIDP_STATUS_SUCCESS) {
    return false;
  }
  *count = caps.NumberFeatureValueCaps;
  return true;
}

bool PreparsedData::feature_value_report_ids(uint16_t count,
                                             std::vector<uint8_t>* report_ids) const {
  report_ids->clear();
  if (data_ == nullptr) return false;
  std::vector<HIDP_VALUE_CAPS> caps(count);
  USHORT returned = count;
  if (sys::HidP_GetValueCaps(HidP_Feature, caps.data(), &returned,
                             static_cast<PHIDP_PREPARSED_DATA>(data_)) != HIDP_STATUS_SUCCESS) {
    return false;
  }
  returned = std::min<USHORT>(returned, count);
  for (USHORT i = 0; i < returned; ++i) report_ids->push_back(caps[i].ReportID);
  return true;
}

}  // namespace platform::hid
