// The texts that the kernel publishes in sysfs, read into what the Linux backend needs. Every
// reader takes the attribute's whole text as the kernel wrote it (usually ending with a line end)
// and refuses what does not have the expected form.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform::sysfs {

struct HidId {
  uint16_t bus = 0;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
};

// HID_ID=BBBB:VVVVVVVV:PPPPPPPP from a HID device's uevent (hexadecimal, as hid-core writes it).
// False when the line is missing, malformed, or a field does not fit 16 bits.
bool parse_hid_id(std::string_view uevent, HidId* id);

// An input device's id/version: hexadecimal, at most four digits, then an optional line end.
bool parse_hex16(std::string_view text, uint16_t* value);

// The number of a hidraw node's name ("hidraw7" gives 7); false for any other name.
bool parse_hidraw_number(std::string_view name, uint32_t* number);

// Whether an ACPI companion is a HID-over-I2C device: its hid attribute, or one of the ids in its
// modalias ("acpi:HID:CID1:CID2:"), is PNP0C50 or ACPI0C50. Either text may be empty when the
// attribute is absent.
bool is_hid_over_i2c(std::string_view acpi_hid, std::string_view acpi_modalias);

}  // namespace platform::sysfs
