// cfgmgr32.dll for the program's runs on the virtual touchpad. Wine 8's configuration manager
// has none of the calls the program makes: CM_Get_Device_Interface_PropertyW is missing,
// CM_Disable_DevNode and CM_Enable_DevNode end the process, CM_Locate_DevNodeW, CM_Get_Parent and
// CM_Reenumerate_DevNode are stubs that fail, and CM_Get_DevNode_Status is a stub that reports
// success without a status. These stand in for them, on Wine's own SetupAPI for everything Wine
// knows (device instance IDs, interfaces, device nodes) and on the virtual touchpad's bus driver
// for the state of its devices (bus_client.h). Every other function of cfgmgr32.dll is forwarded
// to Wine (cfgmgr32.def).
//
// Device nodes (DEVINST) are Wine's own: the numbers that Wine's SetupAPI gives each device of a
// device information list, here of a list kept for the life of the process.
// These are cfgmgr32.dll's own functions here, not imports.
#define CMAPI
#include <windows.h>

// After windows.h.
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "testing/wine/standins/devnode_answers.h"
#include "testing/wine/touchpad_driver/bus_client.h"

// Not declared by MinGW's cfgmgr32.h; the signature is that of the Windows SDK.
extern "C" CONFIGRET WINAPI CM_Get_Device_Interface_PropertyW(LPCWSTR interface_path,
                                                              const DEVPROPKEY* key,
                                                              DEVPROPTYPE* type, PBYTE buffer,
                                                              PULONG size, ULONG flags);

namespace {

namespace control = touchpad_control;

// Long enough for Wine to add or remove the touchpad on a busy machine.
constexpr uint32_t kSettleMs = 30000;

// The device information list whose numbers this DLL hands out as device nodes.
HDEVINFO located() {
  static HDEVINFO list = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  return list;
}

// The instance ID of a device node that Wine's SetupAPI numbered; empty when there is none.
std::wstring instance_id(DEVINST node) {
  wchar_t id[MAX_DEVICE_ID_LEN] = {};
  if (CM_Get_Device_IDW(node, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return L"";
  return id;
}

bool open_node(const std::wstring& id, DEVINST* node) {
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  if (!SetupDiOpenDeviceInfoW(located(), id.c_str(), nullptr, 0, &device)) return false;
  *node = device.DevInst;
  return true;
}

bool same_text(const std::wstring& a, const std::wstring& b) {
  return lstrcmpiW(a.c_str(), b.c_str()) == 0;
}

// Wine's HID class driver names the HID device above a device "ENUMERATOR\NAME\INSTANCE"
// "HID\NAME\INSTANCE" (with "&COLnn" after NAME when it has several top-level collections), and
// keeps no other record of the parent: this finds the device that the name came from.
std::wstring parent_of_hid_device(const std::wstring& id) {
  size_t first = id.find(L'\\');
  size_t last = id.rfind(L'\\');
  if (first == std::wstring::npos || first == last || !same_text(id.substr(0, first), L"HID")) {
    return L"";
  }
  std::wstring name = id.substr(first + 1, last - first - 1);
  size_t collection = name.size() >= 6 ? name.size() - 6 : std::wstring::npos;
  if (collection != std::wstring::npos && same_text(name.substr(collection, 4), L"&COL")) {
    name.resize(collection);
  }
  std::wstring tail = L"\\" + name + id.substr(last);
  std::wstring found;
  HDEVINFO all = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (all == INVALID_HANDLE_VALUE) return L"";
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; found.empty() && SetupDiEnumDeviceInfo(all, i, &device); ++i) {
    wchar_t each[MAX_DEVICE_ID_LEN] = {};
    if (!SetupDiGetDeviceInstanceIdW(all, &device, each, MAX_DEVICE_ID_LEN, nullptr)) continue;
    std::wstring candidate = each;
    size_t enumerator = candidate.find(L'\\');
    if (candidate.size() > tail.size() && enumerator == candidate.size() - tail.size() &&
        same_text(candidate.substr(enumerator), tail) &&
        !same_text(candidate.substr(0, enumerator), L"HID")) {
      found = candidate;
    }
  }
  SetupDiDestroyDeviceInfoList(all);
  return found;
}

// The instance ID of the device that carries the interface at `path`, found among the
// interfaces of its class (the GUID that ends the path), as Wine 8's SetupDiOpenDeviceInterfaceW
// does not open one; empty when there is none.
std::wstring interface_instance_id(const wchar_t* path) {
  const wchar_t* guid_text = std::wcsrchr(path, L'{');
  GUID guid{};
  unsigned int d[8] = {};
  if (guid_text == nullptr || std::swscanf(guid_text, L"{%8lx-%4hx-%4hx-%2x%2x-%2x%2x%2x%2x%2x%2x}",
                                           &guid.Data1, &guid.Data2, &guid.Data3, &d[0], &d[1],
                                           &d[2], &d[3], &d[4], &d[5], &d[6], &d[7]) != 11) {
    return L"";
  }
  for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<BYTE>(d[i]);
  HDEVINFO list = SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_DEVICEINTERFACE);
  if (list == INVALID_HANDLE_VALUE) return L"";
  std::wstring found;
  SP_DEVICE_INTERFACE_DATA each{};
  each.cbSize = sizeof each;
  for (DWORD i = 0; found.empty() && SetupDiEnumDeviceInterfaces(list, nullptr, &guid, i, &each);
       ++i) {
    wchar_t record[sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) / sizeof(wchar_t) + MAX_PATH] = {};
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record);
    detail->cbSize = sizeof *detail;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    wchar_t id[MAX_DEVICE_ID_LEN] = {};
    if (SetupDiGetDeviceInterfaceDetailW(list, &each, detail, sizeof record, nullptr, &device) &&
        lstrcmpiW(detail->DevicePath, path) == 0 &&
        SetupDiGetDeviceInstanceIdW(list, &device, id, MAX_DEVICE_ID_LEN, nullptr)) {
      found = id;
    }
  }
  SetupDiDestroyDeviceInfoList(list);
  return found;
}

CONFIGRET answer_of(const control::NodeAnswer& answer) {
  switch (answer.result) {
    case control::NodeResult::kDone:
      return CR_SUCCESS;
    case control::NodeResult::kNotDisableable:
      return CR_NOT_DISABLEABLE;
    case control::NodeResult::kFailed:
      return CR_FAILURE;
    case control::NodeResult::kNotPresent:
    case control::NodeResult::kUnknown:
      break;
  }
  return CR_NO_SUCH_DEVNODE;
}

// A call on the node carried out by the bus driver; `settle`: return, as Windows does, once the
// touchpad's transport device that the call stops or starts is stopped and removed, or started
// (bus_client.h). The HID device above it comes and goes in Wine's own time, as on Windows.
CONFIGRET bus_call(DEVINST node, control::NodeCall call, bool settle,
                   control::NodeAnswer* answer = nullptr) {
  std::wstring id = instance_id(node);
  if (id.empty()) return CR_INVALID_DEVNODE;
  control::NodeAnswer got;
  if (!control::node_call(id.c_str(), call, &got)) return CR_FAILURE;
  if (answer != nullptr) *answer = got;
  if (settle && got.result == control::NodeResult::kDone &&
      control::wait_until_settled(kSettleMs) != control::Settled::kSettled) {
    return CR_FAILURE;
  }
  return answer_of(got);
}

}  // namespace

CONFIGRET WINAPI CM_Get_Device_Interface_PropertyW(LPCWSTR interface_path, const DEVPROPKEY* key,
                                                   DEVPROPTYPE* type, PBYTE buffer, PULONG size,
                                                   ULONG flags) {
  if (interface_path == nullptr || key == nullptr || type == nullptr || size == nullptr) {
    return CR_INVALID_POINTER;
  }
  if (flags != 0) return CR_INVALID_FLAG;
  if (std::memcmp(key, &e2e::kDeviceInstanceIdKey, sizeof *key) != 0) return CR_NO_SUCH_VALUE;
  std::wstring id = interface_instance_id(interface_path);
  if (id.empty()) return CR_NO_SUCH_DEVICE_INTERFACE;
  ULONG needed = static_cast<ULONG>((id.size() + 1) * sizeof(wchar_t));
  ULONG room = *size;
  *size = needed;
  *type = DEVPROP_TYPE_STRING;
  if (buffer == nullptr || room < needed) return CR_BUFFER_SMALL;
  std::memcpy(buffer, id.c_str(), needed);
  return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST node, DEVINSTID_W id, ULONG flags) {
  if (node == nullptr) return CR_INVALID_POINTER;
  if ((flags & ~CM_LOCATE_DEVNODE_BITS) != 0) return CR_INVALID_FLAG;
  *node = 0;
  if (id == nullptr || *id == L'\0') return CR_NO_SUCH_DEVNODE;
  // A device of the bus must be present unless a phantom is asked for; Wine keeps no presence
  // for its other devices, which are taken as present while it knows them.
  control::NodeAnswer answer;
  bool absent = control::node_call(id, control::NodeCall::kStatus, &answer) &&
                answer.result == control::NodeResult::kNotPresent;
  if (absent && (flags & CM_LOCATE_DEVNODE_PHANTOM) == 0) return CR_NO_SUCH_DEVNODE;
  return open_node(id, node) ? CR_SUCCESS : CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI CM_Get_Parent(PDEVINST parent, DEVINST node, ULONG flags) {
  if (parent == nullptr) return CR_INVALID_POINTER;
  if (flags != 0) return CR_INVALID_FLAG;
  *parent = 0;
  std::wstring id = instance_id(node);
  if (id.empty()) return CR_INVALID_DEVNODE;
  std::wstring parent_id = parent_of_hid_device(id);
  if (parent_id.empty() || !open_node(parent_id, parent)) return CR_NO_SUCH_DEVNODE;
  return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Disable_DevNode(DEVINST node, ULONG flags) {
  if ((flags & ~CM_DISABLE_BITS) != 0) return CR_INVALID_FLAG;
  return bus_call(node, control::NodeCall::kDisable, true);
}

CONFIGRET WINAPI CM_Enable_DevNode(DEVINST node, ULONG flags) {
  if (flags != 0) return CR_INVALID_FLAG;
  return bus_call(node, control::NodeCall::kEnable, true);
}

CONFIGRET WINAPI CM_Reenumerate_DevNode(DEVINST node, ULONG flags) {
  if ((flags & ~CM_REENUMERATE_BITS) != 0) return CR_INVALID_FLAG;
  return bus_call(node, control::NodeCall::kReenumerate,
                  (flags & CM_REENUMERATE_ASYNCHRONOUS) == 0);
}

CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG status, PULONG problem, DEVINST node, ULONG flags) {
  if (status == nullptr || problem == nullptr) return CR_INVALID_POINTER;
  if (flags != 0) return CR_INVALID_FLAG;
  control::NodeAnswer answer;
  CONFIGRET result = bus_call(node, control::NodeCall::kStatus, false, &answer);
  if (result != CR_SUCCESS) return result;
  e2e::devnode_status(answer.has_problem != 0, answer.disabled != 0, status, problem);
  return CR_SUCCESS;
}
