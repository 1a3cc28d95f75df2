// hid.dll: the HID class driver interface on the world's HID interfaces.
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

#include "testing/wine/standins/standins.h"
#include "testing/wine/standins/world.h"

namespace {

constexpr GUID kHidInterfaceClass = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// What the program holds as preparsed data: the simulated one, and the feature value capability
// count that HidP_GetCaps told, which is what HidP_GetValueCaps must be asked for.
struct Preparsed {
  platform::hid::PreparsedData data;
  bool caps_told = false;
  uint16_t feature_value_caps = 0;
};

std::set<Preparsed*>& given_out() {
  static std::set<Preparsed*>* made = new std::set<Preparsed*>;
  return *made;
}

Preparsed* preparsed(PHIDP_PREPARSED_DATA data, const char* function) {
  Preparsed* held = reinterpret_cast<Preparsed*>(data);
  e2e::require(given_out().count(held) != 0, function,
               "preparsed data that HidD_GetPreparsedData did not give out, or that is freed");
  return held;
}

const platform::hid::Device* device(HANDLE handle) {
  const platform::hid::Device* found = e2e::device_for(handle);
  if (found == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return found;
}

BOOLEAN result(bool ok) {
  if (!ok) SetLastError(ERROR_GEN_FAILURE);
  return ok ? TRUE : FALSE;
}

}  // namespace

void WINAPI standin_HidD_GetHidGuid(LPGUID hid_guid) {
  e2e::ensure_world();
  e2e::require(hid_guid != nullptr, "HidD_GetHidGuid", "no place for the GUID");
  *hid_guid = kHidInterfaceClass;
}

BOOLEAN WINAPI standin_HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
  e2e::ensure_world();
  e2e::require(attributes != nullptr, "HidD_GetAttributes", "no HIDD_ATTRIBUTES");
  e2e::require_value("HidD_GetAttributes", "HIDD_ATTRIBUTES.Size", attributes->Size, 12);
  const platform::hid::Device* opened = device(handle);
  platform::hid::Attributes read;
  if (opened == nullptr || !result(opened->get_attributes(&read))) return FALSE;
  attributes->VendorID = read.vendor_id;
  attributes->ProductID = read.product_id;
  attributes->VersionNumber = read.version_number;
  return TRUE;
}

BOOLEAN WINAPI standin_HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* data) {
  e2e::ensure_world();
  e2e::require(data != nullptr, "HidD_GetPreparsedData", "no place for the preparsed data");
  const platform::hid::Device* opened = device(handle);
  if (opened == nullptr) return FALSE;
  platform::hid::PreparsedData got = platform::hid::PreparsedData::get(*opened);
  if (!result(got.is_valid())) return FALSE;
  Preparsed* held = new Preparsed{std::move(got)};
  given_out().insert(held);
  *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(held);
  return TRUE;
}

BOOLEAN WINAPI standin_HidD_FreePreparsedData(PHIDP_PREPARSED_DATA data) {
  e2e::ensure_world();
  Preparsed* held = preparsed(data, "HidD_FreePreparsedData");
  given_out().erase(held);
  delete held;
  return TRUE;
}

BOOLEAN WINAPI standin_HidD_SetFeature(HANDLE handle, PVOID report, ULONG length) {
  e2e::ensure_world();
  e2e::require(report != nullptr, "HidD_SetFeature", "no report buffer");
  const platform::hid::Device* opened = device(handle);
  return opened != nullptr && result(opened->set_feature(static_cast<uint8_t*>(report), length));
}

BOOLEAN WINAPI standin_HidD_GetFeature(HANDLE handle, PVOID report, ULONG length) {
  e2e::ensure_world();
  e2e::require(report != nullptr, "HidD_GetFeature", "no report buffer");
  const platform::hid::Device* opened = device(handle);
  return opened != nullptr && result(opened->get_feature(static_cast<uint8_t*>(report), length));
}

NTSTATUS WINAPI standin_HidP_GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
  e2e::ensure_world();
  Preparsed* held = preparsed(data, "HidP_GetCaps");
  e2e::require(caps != nullptr, "HidP_GetCaps", "no HIDP_CAPS");
  uint16_t count = 0;
  if (!held->data.feature_value_caps_count(&count)) return HIDP_STATUS_INVALID_PREPARSED_DATA;
  *caps = HIDP_CAPS{};
  caps->NumberFeatureValueCaps = count;
  held->caps_told = true;
  held->feature_value_caps = count;
  return HIDP_STATUS_SUCCESS;
}

NTSTATUS WINAPI standin_HidP_GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps,
                                          PUSHORT count, PHIDP_PREPARSED_DATA data) {
  e2e::ensure_world();
  const char* function = "HidP_GetValueCaps";
  Preparsed* held = preparsed(data, function);
  e2e::require_value(function, "the report type", type, HidP_Feature);
  e2e::require(caps != nullptr && count != nullptr, function, "no array or no count");
  e2e::require(held->caps_told, function, "asked before HidP_GetCaps told the count");
  e2e::require_value(function, "the count of HIDP_VALUE_CAPS", *count, held->feature_value_caps);
  std::vector<uint8_t> report_ids;
  if (!held->data.feature_value_report_ids(*count, &report_ids)) {
    return HIDP_STATUS_INVALID_PREPARSED_DATA;
  }
  for (size_t i = 0; i < report_ids.size(); ++i) {
    caps[i] = HIDP_VALUE_CAPS{};
    caps[i].ReportID = report_ids[i];
  }
  *count = static_cast<USHORT>(report_ids.size());
  return HIDP_STATUS_SUCCESS;
}
