// Calls the stand-in system DLLs the way the program does, or with one argument wrong, to show
// that their checks hold and fire.
//
//   standin_probe ok        the program's own calls: prints what it found, exit status 0
//   standin_probe MISUSE    the same with one argument wrong (see kMisuses): the stand-in must
//                           end the process with status 77; status 1 means it let the call pass
//
// Like the program, it takes setupapi.dll from its import table and loads hid.dll, cfgmgr32.dll
// and newdev.dll from the system directory.
#include <windows.h>

// After windows.h; hidsdi.h brings hidusage.h and hidpi.h in the order they need.
#include <cfgmgr32.h>
#include <devpropdef.h>
#include <hidsdi.h>
#include <newdev.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kMisuses[] = {
    "class-devs-flags",      // the HID interface list without DIGCF_PRESENT
    "interface-data-size",   // an SP_DEVICE_INTERFACE_DATA of the 32-bit size, 28
    "detail-size-field",     // an SP_DEVICE_INTERFACE_DETAIL_DATA_W size field of 32-bit Windows
    "detail-without-query",  // the detail read without the size query before it
    "open-access",           // a device handle opened with read access
    "attributes-size",       // an HIDD_ATTRIBUTES size field of 16
    "property-buffer",       // the instance ID read into 256 bytes instead of 400
    "disable-flags",         // a disable with flags 0 instead of CM_DISABLE_UI_NOT_OK
    "reenumerate-flags",     // a re-enumeration without CM_REENUMERATE_ASYNCHRONOUS
    "acpi-list-flags",       // the ACPI HID-class list with DIGCF_ALLCLASSES too
    "devinfo-size",          // an SP_DEVINFO_DATA of the 32-bit size, 28
    "service-property",      // SPDRP_DEVICEDESC instead of SPDRP_SERVICE
    "service-buffer",        // the service name read into 256 bytes instead of 260
};

const char* g_misuse = "ok";

bool misuse(const char* name) {
  return std::strcmp(g_misuse, name) == 0;
}

constexpr DEVPROPKEY kDeviceInstanceIdKey = {
    {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};
constexpr GUID kHidDeviceClass = {
    0x745a17a0, 0x74d3, 0x11d0, {0xb6, 0xfe, 0x00, 0xa0, 0xc9, 0x0f, 0x57, 0xda}};

// The functions of the DLLs that the program loads at run time.
struct Loaded {
  decltype(&HidD_GetHidGuid) get_hid_guid = nullptr;
  decltype(&HidD_GetAttributes) get_attributes = nullptr;
  decltype(&HidD_GetPreparsedData) get_preparsed = nullptr;
  decltype(&HidD_FreePreparsedData) free_preparsed = nullptr;
  decltype(&HidP_GetCaps) get_caps = nullptr;
  decltype(&HidP_GetValueCaps) get_value_caps = nullptr;
  CONFIGRET(WINAPI* get_interface_property)
  (LPCWSTR, const DEVPROPKEY*, DEVPROPTYPE*, PBYTE, PULONG, ULONG) = nullptr;
  decltype(&CM_Locate_DevNodeW) locate = nullptr;
  decltype(&CM_Get_Parent) get_parent = nullptr;
  decltype(&CM_Disable_DevNode) disable = nullptr;
  decltype(&CM_Enable_DevNode) enable = nullptr;
  decltype(&CM_Reenumerate_DevNode) reenumerate = nullptr;
  decltype(&CM_Get_DevNode_Status) get_status = nullptr;
  decltype(&DiUninstallDevice) uninstall = nullptr;
};

template <typename Fn>
void find(HMODULE module, const char* name, Fn* fn) {
  FARPROC proc = module != nullptr ? GetProcAddress(module, name) : nullptr;
  *fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(proc));
  if (*fn == nullptr) std::printf("missing: %s\n", name);
}

bool load(Loaded* l) {
  HMODULE hid = LoadLibraryExW(L"hid.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  HMODULE cfgmgr32 = LoadLibraryExW(L"cfgmgr32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  HMODULE newdev = LoadLibraryExW(L"newdev.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  find(hid, "HidD_GetHidGuid", &l->get_hid_guid);
  find(hid, "HidD_GetAttributes", &l->get_attributes);
  find(hid, "HidD_GetPreparsedData", &l->get_preparsed);
  find(hid, "HidD_FreePreparsedData", &l->free_preparsed);
  find(hid, "HidP_GetCaps", &l->get_caps);
  find(hid, "HidP_GetValueCaps", &l->get_value_caps);
  find(cfgmgr32, "CM_Get_Device_Interface_PropertyW", &l->get_interface_property);
  find(cfgmgr32, "CM_Locate_DevNodeW", &l->locate);
  find(cfgmgr32, "CM_Get_Parent", &l->get_parent);
  find(cfgmgr32, "CM_Disable_DevNode", &l->disable);
  find(cfgmgr32, "CM_Enable_DevNode", &l->enable);
  find(cfgmgr32, "CM_Reenumerate_DevNode", &l->reenumerate);
  find(cfgmgr32, "CM_Get_DevNode_Status", &l->get_status);
  find(newdev, "DiUninstallDevice", &l->uninstall);
  return l->get_hid_guid && l->get_attributes && l->get_preparsed && l->free_preparsed &&
         l->get_caps && l->get_value_caps && l->get_interface_property && l->locate &&
         l->get_parent && l->disable && l->enable && l->reenumerate && l->get_status &&
         l->uninstall;
}

// True when the open interface carries a feature value capability with report ID 7.
bool carries_report_7(const Loaded& l, HANDLE device) {
  PHIDP_PREPARSED_DATA data = nullptr;
  if (!l.get_preparsed(device, &data)) return false;
  HIDP_CAPS caps{};
  bool found = false;
  if (l.get_caps(data, &caps) == HIDP_STATUS_SUCCESS && caps.NumberFeatureValueCaps > 0) {
    std::vector<HIDP_VALUE_CAPS> values(caps.NumberFeatureValueCaps);
    USHORT count = caps.NumberFeatureValueCaps;
    if (l.get_value_caps(HidP_Feature, values.data(), &count, data) == HIDP_STATUS_SUCCESS) {
      for (USHORT i = 0; i < count; ++i) found = found || values[i].ReportID == 7;
    }
  }
  l.free_preparsed(data);
  return found;
}

std::wstring detail_path(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* data) {
  DWORD size = 0;
  if (!misuse("detail-without-query") &&
      (SetupDiGetDeviceInterfaceDetailW(list, data, nullptr, 0, &size, nullptr) ||
       GetLastError() != ERROR_INSUFFICIENT_BUFFER)) {
    return L"";
  }
  if (misuse("detail-without-query")) size = 512;
  std::vector<BYTE> record(size);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.data());
  detail->cbSize = misuse("detail-size-field") ? 6 : 8;
  if (!SetupDiGetDeviceInterfaceDetailW(list, data, detail, size, nullptr, nullptr)) return L"";
  return detail->DevicePath;
}

// The device path of the touchpad's collection that carries report 7, or "".
std::wstring find_touchpad(const Loaded& l) {
  GUID hid_guid;
  l.get_hid_guid(&hid_guid);
  DWORD flags =
      misuse("class-devs-flags") ? DIGCF_DEVICEINTERFACE : DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
  HDEVINFO list = SetupDiGetClassDevsW(&hid_guid, nullptr, nullptr, flags);
  if (list == INVALID_HANDLE_VALUE) return L"";
  std::wstring found;
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = misuse("interface-data-size") ? 28 : 32;
  for (DWORD i = 0;
       found.empty() && SetupDiEnumDeviceInterfaces(list, nullptr, &hid_guid, i, &data); ++i) {
    std::wstring path = detail_path(list, &data);
    DWORD access = misuse("open-access") ? GENERIC_READ : 0;
    HANDLE device = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE) continue;
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = misuse("attributes-size") ? 16 : 12;
    if (l.get_attributes(device, &attributes) && attributes.VendorID == 0x3A7C &&
        attributes.ProductID == 0x1042 && carries_report_7(l, device)) {
      found = path;
    }
    CloseHandle(device);
  }
  SetupDiDestroyDeviceInfoList(list);
  return found;
}

// Restarts the device above the interface at `path` as the program does; false on any failure.
bool restart_transport(const Loaded& l, const std::wstring& path) {
  std::vector<BYTE> buffer(400, 0);
  ULONG size = misuse("property-buffer") ? 256 : 400;
  DEVPROPTYPE type = 0;
  if (l.get_interface_property(path.c_str(), &kDeviceInstanceIdKey, &type, buffer.data(), &size,
                               0) != CR_SUCCESS ||
      type != DEVPROP_TYPE_STRING) {
    return false;
  }
  DEVINST node = 0;
  DEVINST transport = 0;
  if (l.locate(&node, reinterpret_cast<wchar_t*>(buffer.data()), CM_LOCATE_DEVNODE_NORMAL) !=
          CR_SUCCESS ||
      l.get_parent(&transport, node, 0) != CR_SUCCESS) {
    return false;
  }
  std::printf("instance: %ls\n", reinterpret_cast<const wchar_t*>(buffer.data()));
  ULONG disable_flags = misuse("disable-flags") ? 0 : CM_DISABLE_UI_NOT_OK;
  ULONG reenumerate_flags = misuse("reenumerate-flags")
                                ? CM_REENUMERATE_RETRY_INSTALLATION
                                : CM_REENUMERATE_RETRY_INSTALLATION | CM_REENUMERATE_ASYNCHRONOUS;
  ULONG status = 0;
  ULONG problem = 0;
  return l.disable(transport, disable_flags) == CR_SUCCESS &&
         l.enable(transport, 0) == CR_SUCCESS &&
         l.reenumerate(transport, reenumerate_flags) == CR_SUCCESS &&
         l.get_status(&status, &problem, transport, 0) == CR_SUCCESS &&
         (status & DN_HAS_PROBLEM) == 0;
}

// Prints the service of every present ACPI HID-class device and uninstalls the first one whose
// service is not "hidi2c"; false when the list cannot be had.
bool walk_acpi_devices(const Loaded& l) {
  DWORD flags = misuse("acpi-list-flags") ? DIGCF_PRESENT | DIGCF_ALLCLASSES : DIGCF_PRESENT;
  HDEVINFO list = SetupDiGetClassDevsW(&kHidDeviceClass, L"ACPI", nullptr, flags);
  if (list == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device{};
  device.cbSize = misuse("devinfo-size") ? 28 : 32;
  bool uninstalled = false;
  std::wstring services;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(list, i, &device); ++i) {
    wchar_t service[130] = {};
    DWORD property = misuse("service-property") ? SPDRP_DEVICEDESC : SPDRP_SERVICE;
    DWORD size = misuse("service-buffer") ? 256 : 260;
    if (!SetupDiGetDeviceRegistryPropertyW(list, &device, property, nullptr,
                                           reinterpret_cast<BYTE*>(service), size, nullptr)) {
      continue;
    }
    services += std::wstring(L" ") + service;
    if (!uninstalled && lstrcmpiW(service, L"hidi2c") != 0) {
      BOOL reboot = FALSE;
      uninstalled = l.uninstall(nullptr, list, &device, 0, &reboot) != FALSE;
    }
  }
  std::printf("services:%ls\nuninstalled: %s\n", services.c_str(), uninstalled ? "yes" : "no");
  SetupDiDestroyDeviceInfoList(list);
  return true;
}

bool known_case(const char* name) {
  if (std::strcmp(name, "ok") == 0) return true;
  for (const char* each : kMisuses) {
    if (std::strcmp(name, each) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || !known_case(argv[1])) {
    std::printf("usage: standin_probe ok|MISUSE\n");
    return 2;
  }
  g_misuse = argv[1];
  // A stand-in that ends the process must not take the lines printed before with it.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  Loaded loaded;
  if (!load(&loaded)) return 3;
  std::wstring touchpad = find_touchpad(loaded);
  std::printf("touchpad: %ls\n", touchpad.empty() ? L"(none)" : touchpad.c_str());
  bool restarted = !touchpad.empty() && restart_transport(loaded, touchpad);
  std::printf("restart: %s\n", restarted ? "ok" : "failed");
  bool walked = walk_acpi_devices(loaded);
  bool all = !touchpad.empty() && restarted && walked;
  if (!misuse("ok")) {
    std::printf("FAILED: the stand-ins let \"%s\" pass\n", g_misuse);
    return 1;
  }
  return all ? 0 : 1;
}
