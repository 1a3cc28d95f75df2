#include "platform/linux/logic/value_store.h"

namespace platform::store {

namespace {

constexpr std::string_view kRoot = "HKEY_LOCAL_MACHINE\\";

bool has_control_character(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

bool same_key(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

bool is_storable(std::string_view text) {
  return !text.empty() && !has_control_character(text);
}

bool set_default_value(std::string_view text, std::string_view key, std::string_view value,
                       std::string* updated) {
  if (!is_storable(key) || has_control_character(value)) return false;
  if (!text.empty() && text.back() != '\n') return false;
  std::string result;
  bool replaced = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    std::string_view entry = text.substr(at, end - at);
    at = end + 1;
    size_t tab = entry.find('\t');
    if (!entry.starts_with(kRoot) || tab == std::string_view::npos) return false;
    if (!replaced && same_key(entry.substr(kRoot.size(), tab - kRoot.size()), key)) {
      // The key keeps the name it was made with, as a registry key does.
      result.append(entry.substr(0, tab + 1)).append(value).push_back('\n');
      replaced = true;
    } else {
      result.append(entry).push_back('\n');
    }
  }
  if (!replaced) result.append(kRoot).append(key).append("\t").append(value).push_back('\n');
  *updated = std::move(result);
  return true;
}

}  // namespace platform::store
