#include "log/windows_names.h"

#include <algorithm>

namespace fwu {

namespace {

bool ends_in_dot_or_space(std::string_view name) {
  return !name.empty() && (name.back() == '.' || name.back() == ' ');
}

std::string upper_ascii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// A port's number: a digit, or a superscript 1, 2 or 3 as the ANSI code page 1252 writes it
// (0xB9, 0xB2, 0xB3) or as UTF-8 does (the same after 0xC2), Windows's ANSI code page where a
// machine is set to UTF-8. In other code pages the same bytes are other letters: such a name is
// refused too, which costs nothing anyone needs.
bool is_port_number(std::string_view number) {
  if (number.size() == 1 && number[0] >= '0' && number[0] <= '9') return true;
  if (number.size() == 2 && number[0] == '\xC2') number.remove_prefix(1);
  return number.size() == 1 && (number[0] == '\xB9' || number[0] == '\xB2' || number[0] == '\xB3');
}

}  // namespace

bool is_device_name(std::string_view name) {
  std::string_view base = name.substr(0, name.find_first_of(".:"));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  std::string upper = upper_ascii(base);
  static constexpr std::string_view kDevices[] = {"NUL", "CON", "AUX", "PRN", "CONIN$", "CONOUT$"};
  if (std::find(std::begin(kDevices), std::end(kDevices), upper) != std::end(kDevices)) {
    return true;
  }
  std::string_view port(upper);
  return port.size() > 3 && (port.substr(0, 3) == "COM" || port.substr(0, 3) == "LPT") &&
         is_port_number(port.substr(3));
}

bool windows_name(std::string_view name, bool last, std::string* result) {
  if (name.find(':') != std::string_view::npos || is_device_name(name)) return false;
  if (last) {
    while (ends_in_dot_or_space(name)) name.remove_suffix(1);
  } else if (name.size() >= 2 && name.back() == '.' && name[name.size() - 2] != '.') {
    name.remove_suffix(1);  // "logs." is "logs", but "logs.." stays as it is
  }
  if (name.empty() || ends_in_dot_or_space(name)) return false;
  result->assign(name);
  return true;
}

bool plain_name(std::string_view name) {
  return !name.empty() && !ends_in_dot_or_space(name) && name.find(':') == std::string_view::npos &&
         !is_device_name(name);
}

}  // namespace fwu
