#include <windows.h>

#include <iterator>

#include "platform/devnode.h"
#include "platform/win32/system_dlls.h"

namespace sys = platform::win32::system_dll;

static_assert(sizeof(SP_DEVINFO_DATA) == 32);

namespace {

// Both are declared by MinGW only as extern objects that a GUID library would have to define;
// the values are fixed by Windows.
constexpr DEVPROPKEY kDeviceInstanceIdKey = {
    {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};
constexpr GUID kHidClass = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

constexpr size_t kInstanceIdBytes = 400;
constexpr size_t kServiceNameBytes = 260;

// A wide string out of a zeroed buffer the system wrote into, cut at its terminating zero or, if
// a value filled the buffer without one, at the buffer's end.
std::u16string from_buffer(const char16_t* buffer, size_t capacity) {
  size_t length = 0;
  while (length < capacity && buffer[length] != u'\0') ++length;
  return std::u16string(buffer, length);
}

}  // namespace

struct platform::devnode::AcpiHidDevices::Impl {
  HDEVINFO list = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA selected{};
  bool has_selection = false;
};

namespace platform::devnode {

bool interface_instance_id(const hid::InterfacePath& path, std::u16string* instance_id,
                           bool* is_string) {
  if (!path.is_present()) return false;
  char16_t buffer[kInstanceIdBytes / sizeof(char16_t)] = {};
  ULONG size = sizeof buffer;
  DEVPROPTYPE type = DEVPROP_TYPE_EMPTY;
  CONFIGRET result = sys::CM_Get_Device_Interface_PropertyW(
      reinterpret_cast<const wchar_t*>(path.device_path()), &kDeviceInstanceIdKey, &type,
      reinterpret_cast<BYTE*>(buffer), &size, 0);
  if (result != CR_SUCCESS) return false;
  *is_string = type == DEVPROP_TYPE_STRING;
  *instance_id = from_buffer(buffer, std::size(buffer));
  return true;
}

bool locate(const std::u16string& instance_id, DevNode* node) {
  // The call takes a non-const pointer but does not write through it; a copy keeps the caller's
  // string out of reach all the same.
  std::u16string id = instance_id;
  DEVINST found = 0;
  if (sys::CM_Locate_DevNodeW(&found, reinterpret_cast<wchar_t*>(id.data()),
                              CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) {
    return false;
  }
  *node = found;
  return true;
}

bool parent(DevNode node, DevNode* parent_node) {
  DEVINST found = 0;
  if (sys::CM_Get_Parent(&found, node, 0) != CR_SUCCESS) return false;
  *parent_node = found;
  return true;
}

Disable disable(DevNode node) {
  switch (sys::CM_Disable_DevNode(node, CM_DISABLE_UI_NOT_OK)) {
    case CR_SUCCESS:
      return Disable::kDisabled;
    case CR_NOT_DISABLEABLE:
      return Disable::kNotDisableable;
    default:
      return Disable::kFailed;
  }
}

bool enable(DevNode node) {
  return sys::CM_Enable_DevNode(node, 0) == CR_SUCCESS;
}

bool reenumerate(DevNode node) {
  return sys::CM_Reenumerate_DevNode(
             node, CM_REENUMERATE_RETRY_INSTALLATION | CM_REENUMERATE_ASYNCHRONOUS) == CR_SUCCESS;
}

bool status(DevNode node, bool* has_problem) {
  ULONG bits = 0;
  ULONG problem = 0;
  if (sys::CM_Get_DevNode_Status(&bits, &problem, node, 0) != CR_SUCCESS) return false;
  *has_problem = (bits & DN_HAS_PROBLEM) != 0;
  return true;
}

bool equal_ignoring_case(const char16_t* a, const char16_t* b) {
  return lstrcmpiW(reinterpret_cast<const wchar_t*>(a), reinterpret_cast<const wchar_t*>(b)) == 0;
}

void AcpiHidDevices::release() {
  if (impl_ == nullptr) return;
  SetupDiDestroyDeviceInfoList(impl_->list);
  delete impl_;
  impl_ = nullptr;
}

AcpiHidDevices AcpiHidDevices::present() {
  HDEVINFO list = SetupDiGetClassDevsW(&kHidClass, L"ACPI", nullptr, DIGCF_PRESENT);
  if (list == INVALID_HANDLE_VALUE) return AcpiHidDevices();
  return AcpiHidDevices(new Impl{list, {}, false});
}

bool AcpiHidDevices::select(uint32_t index, DevNode* node) {
  if (impl_ == nullptr) return false;
  impl_->selected = SP_DEVINFO_DATA{};
  impl_->selected.cbSize = sizeof(SP_DEVINFO_DATA);
  impl_->has_selection = SetupDiEnumDeviceInfo(impl_->list, index, &impl_->selected) != FALSE;
  if (impl_->has_selection) *node = impl_->selected.DevInst;
  return impl_->has_selection;
}

bool AcpiHidDevices::service_name(std::u16string* name) const {
  if (impl_ == nullptr || !impl_->has_selection) return false;
  char16_t buffer[kServiceNameBytes / sizeof(char16_t)] = {};
  if (!SetupDiGetDeviceRegistryPropertyW(impl_->list, &impl_->selected, SPDRP_SERVICE, nullptr,
                                         reinterpret_cast<BYTE*>(buffer), sizeof buffer, nullptr)) {
    return false;
  }
  *name = from_buffer(buffer, std::size(buffer));
  return true;
}

// Both act on whatever the entry names; without a selected entry they would act on nothing the
// caller chose, so they do nothing.
void AcpiHidDevices::remove() const {
  if (impl_ == nullptr || !impl_->has_selection) return;
  SetupDiCallClassInstaller(DIF_REMOVE, impl_->list, &impl_->selected);
}

void AcpiHidDevices::uninstall() const {
  if (impl_ == nullptr || !impl_->has_selection) return;
  BOOL need_reboot = FALSE;
  sys::DiUninstallDevice(nullptr, impl_->list, &impl_->selected, 0, &need_reboot);
}

}  // namespace platform::devnode
