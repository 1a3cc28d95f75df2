// What the two drivers of the virtual touchpad need of the kernel: the DDK's wdm.h, and the HID
// minidriver interface that MinGW-w64 lacks (hidport.h) or gets wrong (the internal HID control
// codes in ddk/hidclass.h are placeholders 0 to 5). Values and layouts are the DDK's.
#pragma once

// wdm.h defines these two itself; without the markers intrin.h defines them first, and C++
// refuses the second definition.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ddk/wdm.h>
// After wdm.h: hidclass.h needs its types, and hidusage.h first.
#include <hidusage.h>

#include <ddk/hidclass.h>

namespace kernel {

// The internal control codes that the HID class driver sends to a minidriver.
constexpr ULONG hid_control_code(ULONG id) {
  return FILE_DEVICE_KEYBOARD << 16 | id << 2 | METHOD_NEITHER;
}
constexpr ULONG kHidGetDeviceDescriptor = hid_control_code(0);
constexpr ULONG kHidGetReportDescriptor = hid_control_code(1);
constexpr ULONG kHidReadReport = hid_control_code(2);
constexpr ULONG kHidGetString = hid_control_code(4);
constexpr ULONG kHidActivateDevice = hid_control_code(7);
constexpr ULONG kHidDeactivateDevice = hid_control_code(8);
constexpr ULONG kHidGetDeviceAttributes = hid_control_code(9);
// The feature reports travel with the codes that user mode uses too.
constexpr ULONG kHidSetFeature = IOCTL_HID_SET_FEATURE;
constexpr ULONG kHidGetFeature = IOCTL_HID_GET_FEATURE;

constexpr ULONG kHidRevision = 1;

struct HidMinidriverRegistration {
  ULONG revision = kHidRevision;
  DRIVER_OBJECT* driver_object = nullptr;
  UNICODE_STRING* registry_path = nullptr;
  ULONG device_extension_size = 0;
  BOOLEAN devices_are_polled = FALSE;
  UCHAR reserved[3] = {};
};

// The start of the device extension of every device object that the HID class driver makes for
// a minidriver.
struct HidDeviceExtension {
  DEVICE_OBJECT* physical_device_object;
  DEVICE_OBJECT* next_device_object;
  void* mini_device_extension;
};

struct HidDeviceAttributes {
  ULONG size;
  USHORT vendor_id;
  USHORT product_id;
  USHORT version_number;
  USHORT reserved[11];
};

#pragma pack(push, 1)
struct HidDescriptor {
  UCHAR length;
  UCHAR descriptor_type;  // 0x21
  USHORT hid_version;
  UCHAR country;
  UCHAR descriptor_count;
  UCHAR report_type;  // 0x22: the report descriptor
  USHORT report_length;
};
#pragma pack(pop)

}  // namespace kernel

extern "C" NTSTATUS NTAPI HidRegisterMinidriver(kernel::HidMinidriverRegistration* registration);

// The entry point of each driver; the image's entry point (entry.cpp) calls it.
NTSTATUS driver_main(DRIVER_OBJECT* driver, UNICODE_STRING* registry_path);
