// Plug and Play device nodes: the configuration manager and the SetupAPI device lists that the
// device restart and the stale device removal act through. One function, one platform call.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/hid.h"

namespace platform::devnode {

using DevNode = uint32_t;  // a device instance handle; 0 is unset

// CM_Get_Device_Interface_PropertyW(DEVPKEY_Device_InstanceId) into a zeroed 400-byte buffer.
// True on CR_SUCCESS; `*is_string` tells whether the value came back typed DEVPROP_TYPE_STRING.
bool interface_instance_id(const hid::InterfacePath& path, std::u16string* instance_id,
                           bool* is_string);
// CM_Locate_DevNodeW with CM_LOCATE_DEVNODE_NORMAL.
bool locate(const std::u16string& instance_id, DevNode* node);
// CM_Get_Parent.
bool parent(DevNode node, DevNode* parent_node);

enum class Disable { kDisabled, kNotDisableable, kFailed };
// CM_Disable_DevNode with CM_DISABLE_UI_NOT_OK; kNotDisableable for CR_NOT_DISABLEABLE.
Disable disable(DevNode node);
// CM_Enable_DevNode with flags 0.
bool enable(DevNode node);
// CM_Reenumerate_DevNode with CM_REENUMERATE_RETRY_INSTALLATION | CM_REENUMERATE_ASYNCHRONOUS.
bool reenumerate(DevNode node);
// CM_Get_DevNode_Status: `*has_problem` is the DN_HAS_PROBLEM bit.
bool status(DevNode node, bool* has_problem);

// lstrcmpiW(a, b) == 0.
bool equal_ignoring_case(const char16_t* a, const char16_t* b);

// The present HID-class devices enumerated by "ACPI" (SetupDiGetClassDevsW with
// GUID_DEVCLASS_HIDCLASS, "ACPI", DIGCF_PRESENT), with one of them selected. Move-only owner.
class AcpiHidDevices {
 public:
  AcpiHidDevices() = default;
  AcpiHidDevices(AcpiHidDevices&& other) noexcept : impl_(std::exchange(other.impl_, nullptr)) {}
  AcpiHidDevices& operator=(AcpiHidDevices&& other) noexcept {
    if (this != &other) {
      release();
      impl_ = std::exchange(other.impl_, nullptr);
    }
    return *this;
  }
  AcpiHidDevices(const AcpiHidDevices&) = delete;
  AcpiHidDevices& operator=(const AcpiHidDevices&) = delete;
  ~AcpiHidDevices() { release(); }

  static AcpiHidDevices present();
  bool is_valid() const { return impl_ != nullptr; }

  // Selects the device at `index` (SetupDiEnumDeviceInfo) and gives its node. False when there
  // is none, which ends a walk.
  bool select(uint32_t index, DevNode* node);
  // The selected device's SPDRP_SERVICE property, read into a 260-byte buffer.
  bool service_name(std::u16string* name) const;
  // SetupDiCallClassInstaller(DIF_REMOVE) on the selected device; the outcome is not reported.
  void remove() const;
  // DiUninstallDevice on the selected device, flags 0; the outcome is not reported.
  void uninstall() const;

  struct Impl;

 private:
  explicit AcpiHidDevices(Impl* impl) : impl_(impl) {}
  void release();  // frees the list and leaves this empty
  Impl* impl_ = nullptr;
};

}  // namespace platform::devnode
