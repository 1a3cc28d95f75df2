#include "platform/linux/logic/sysfs_text.h"

namespace platform::sysfs {

namespace {

std::string_view without_line_end(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A field of one to eight hexadecimal digits whose value fits 16 bits.
bool parse_hex_field(std::string_view text, uint16_t* value) {
  if (text.empty() || text.size() > 8) return false;
  uint32_t result = 0;
  for (char c : text) {
    int digit = hex_digit(c);
    if (digit < 0) return false;
    result = result << 4 | static_cast<uint32_t>(digit);
  }
  if (result > 0xFFFF) return false;
  *value = static_cast<uint16_t>(result);
  return true;
}

bool is_hid_over_i2c_id(std::string_view id) {
  return id == "PNP0C50" || id == "ACPI0C50";
}

}  // namespace

bool parse_hid_id(std::string_view uevent, HidId* id) {
  constexpr std::string_view kKey = "HID_ID=";
  size_t at = 0;
  while (at < uevent.size()) {
    size_t end = uevent.find('\n', at);
    if (end == std::string_view::npos) end = uevent.size();
    std::string_view line = uevent.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with(kKey)) continue;
    line.remove_prefix(kKey.size());
    size_t first = line.find(':');
    size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) return false;
    HidId parsed;
    if (!parse_hex_field(line.substr(0, first), &parsed.bus) ||
        !parse_hex_field(line.substr(first + 1, second - first - 1), &parsed.vendor_id) ||
        !parse_hex_field(line.substr(second + 1), &parsed.product_id)) {
      return false;
    }
    *id = parsed;
    return true;
  }
  return false;
}

bool parse_hex16(std::string_view text, uint16_t* value) {
  text = without_line_end(text);
  return text.size() <= 4 && parse_hex_field(text, value);
}

bool parse_hidraw_number(std::string_view name, uint32_t* number) {
  constexpr std::string_view kPrefix = "hidraw";
  if (!name.starts_with(kPrefix) || name.size() == kPrefix.size() ||
      name.size() > kPrefix.size() + 9) {
    return false;
  }
  uint32_t result = 0;
  for (char c : name.substr(kPrefix.size())) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint32_t>(c - '0');
  }
  *number = result;
  return true;
}

bool is_hid_over_i2c(std::string_view acpi_hid, std::string_view acpi_modalias) {
  if (is_hid_over_i2c_id(without_line_end(acpi_hid))) return true;
  std::string_view ids = without_line_end(acpi_modalias);
  if (!ids.starts_with("acpi:")) return false;
  ids.remove_prefix(5);
  while (!ids.empty()) {
    size_t end = ids.find(':');
    if (end == std::string_view::npos) end = ids.size();
    if (is_hid_over_i2c_id(ids.substr(0, end))) return true;
    ids.remove_prefix(end == ids.size() ? end : end + 1);
  }
  return false;
}

}  // namespace platform::sysfs
