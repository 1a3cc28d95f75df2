// HID interfaces: discovery, open, attributes, feature capabilities and feature reports.
// Each call stands for one call of the HID class driver or SetupAPI interface functions; the
// walk over interfaces and every decision live in the core.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform::hid {

// The device path of one HID interface (the interface's detail record on Windows). Move-only
// owner; empty when default-constructed.
class InterfacePath {
 public:
  InterfacePath() = default;
  InterfacePath(InterfacePath&& other) noexcept : impl_(std::exchange(other.impl_, nullptr)) {}
  InterfacePath& operator=(InterfacePath&& other) noexcept {
    if (this != &other) {
      reset();
      impl_ = std::exchange(other.impl_, nullptr);
    }
    return *this;
  }
  InterfacePath(const InterfacePath&) = delete;
  InterfacePath& operator=(const InterfacePath&) = delete;
  ~InterfacePath() { reset(); }

  bool is_present() const { return impl_ != nullptr; }
  // The zero-terminated wide device path; requires is_present().
  const char16_t* device_path() const;
  void reset();

  struct Impl;
  explicit InterfacePath(Impl* impl) : impl_(impl) {}
  Impl* impl() const { return impl_; }

 private:
  Impl* impl_ = nullptr;
};

// The present HID interfaces of the machine, in the platform's order, with one of them selected.
// Move-only owner of the list.
class InterfaceList {
 public:
  InterfaceList() = default;
  InterfaceList(InterfaceList&& other) noexcept : impl_(std::exchange(other.impl_, nullptr)) {}
  InterfaceList& operator=(InterfaceList&& other) noexcept {
    if (this != &other) {
      release();
      impl_ = std::exchange(other.impl_, nullptr);
    }
    return *this;
  }
  InterfaceList(const InterfaceList&) = delete;
  InterfaceList& operator=(const InterfaceList&) = delete;
  ~InterfaceList() { release(); }

  // The list of present HID interfaces (HidD_GetHidGuid, SetupDiGetClassDevsW with
  // DIGCF_PRESENT | DIGCF_DEVICEINTERFACE). Not valid when the list cannot be had.
  static InterfaceList present();
  bool is_valid() const { return impl_ != nullptr; }

  // Selects the interface at `index` (SetupDiEnumDeviceInterfaces). False when there is none,
  // which ends a walk.
  bool select(uint32_t index);
  // The byte size of the selected interface's detail record, from a size query that must fail
  // with ERROR_INSUFFICIENT_BUFFER; 0 when the query does anything else.
  uint32_t detail_size() const;
  // Reads the selected interface's detail record into a new buffer of `size` bytes and makes it
  // `*path`. False (and `*path` empty) when the read fails.
  bool read_detail(uint32_t size, InterfacePath* path) const;

  struct Impl;

 private:
  explicit InterfaceList(Impl* impl) : impl_(impl) {}
  void release();  // frees the list and leaves this empty
  Impl* impl_ = nullptr;
};

struct Attributes {
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t version_number = 0;
};

// An open HID interface (CreateFileW with no access rights and both share modes). Move-only
// owner of the handle.
class Device {
 public:
  Device() = default;
  Device(Device&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Device& operator=(Device&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;
  ~Device() { close(); }

  // Opens the interface; not valid when the handle is invalid or null.
  static Device open(const InterfacePath& path);
  bool is_valid() const { return handle_ != nullptr; }
  void close();

  // HidD_GetAttributes.
  bool get_attributes(Attributes* attributes) const;
  // HidD_SetFeature: `length` bytes, report ID in byte 0.
  bool set_feature(uint8_t* report, uint32_t length) const;
  // HidD_GetFeature: `report` holds the report ID in byte 0 and receives `length` bytes.
  bool get_feature(uint8_t* report, uint32_t length) const;

  void* handle() const { return handle_; }

 private:
  explicit Device(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

// The preparsed HID data of an open interface (HidD_GetPreparsedData). Move-only owner; frees
// the data when destroyed.
class PreparsedData {
 public:
  PreparsedData() = default;
  PreparsedData(PreparsedData&& other) noexcept : data_(std::exchange(other.data_, nullptr)) {}
  PreparsedData& operator=(PreparsedData&& other) noexcept {
    if (this != &other) {
      release();
      data_ = std::exchange(other.data_, nullptr);
    }
    return *this;
  }
  PreparsedData(const PreparsedData&) = delete;
  PreparsedData& operator=(const PreparsedData&) = delete;
  ~PreparsedData() { release(); }

  static PreparsedData get(const Device& device);
  bool is_valid() const { return data_ != nullptr; }

  // HidP_GetCaps: the number of feature value capabilities (NumberFeatureValueCaps).
  bool feature_value_caps_count(uint16_t* count) const;
  // HidP_GetValueCaps for HidP_Feature with room for `count` entries: the report ID of each entry
  // returned, in order (the platform may return fewer than `count`).
  bool feature_value_report_ids(uint16_t count, std::vector<uint8_t>* report_ids) const;

 private:
  explicit PreparsedData(void* data) : data_(data) {}
  void release();  // frees the data and leaves this empty
  void* data_ = nullptr;
};

}  // namespace platform::hid
