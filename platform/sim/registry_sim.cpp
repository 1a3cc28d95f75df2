#include <algorithm>
#include <cctype>
#include <utility>

#include "platform/registry.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {

Registry g_registry;

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

struct OpenKey {
  std::string lower_path;
};

const char kExportHeader[] = "Windows Registry Editor Version 5.00";
const char kRoot[] = "HKEY_LOCAL_MACHINE\\";

std::string to_utf16le(const std::string& text) {
  std::string result = "\xFF\xFE";
  for (char c : text) {
    result += c;
    result += '\0';
  }
  return result;
}

bool from_utf16le(const std::string& bytes, std::string* text) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0 || bytes.compare(0, 2, "\xFF\xFE") != 0) {
    return false;
  }
  for (size_t i = 2; i < bytes.size(); i += 2) {
    if (bytes[i + 1] != '\0') return false;
    *text += bytes[i];
  }
  return true;
}

std::string quoted(const std::string& value) {
  std::string result = "\"";
  for (char c : value) {
    if (c == '\\' || c == '"') result += '\\';
    result += c;
  }
  return result + "\"";
}

// Creates the key and every key above it, as the registry does.
void create_path(const std::string& path) {
  for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1)) {
    std::string above = path.substr(0, at);
    g_registry.keys.try_emplace(lower(above), RegistryKeyRecord{above});
  }
  g_registry.keys.try_emplace(lower(path), RegistryKeyRecord{path});
}

}  // namespace

Registry& registry() {
  return g_registry;
}

void reset_registry() {
  g_registry = Registry{};
}

const RegistryKeyRecord* find_key(const std::string& path) {
  auto it = g_registry.keys.find(lower(path));
  return it == g_registry.keys.end() ? nullptr : &it->second;
}

std::string default_string(const RegistryKeyRecord& key) {
  return key.default_data.substr(0, key.default_data.find('\0'));
}

std::string export_registry() {
  std::string text = std::string(kExportHeader) + "\r\n\r\n";
  std::vector<const RegistryKeyRecord*> keys;
  for (const auto& entry : g_registry.keys) keys.push_back(&entry.second);
  for (const RegistryKeyRecord* key : keys) {
    text += "[" + std::string(kRoot) + key->path + "]\r\n";
    if (key->has_default_value) text += "@=" + quoted(default_string(*key)) + "\r\n";
    text += "\r\n";
  }
  return to_utf16le(text);
}

bool import_registry(const std::string& exported) {
  std::string text;
  if (!from_utf16le(exported, &text) || text.rfind(kExportHeader, 0) != 0) return false;
  Registry loaded;
  std::string current;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 2;
    if (line.size() > sizeof kRoot && line.front() == '[' && line.back() == ']' &&
        line.compare(1, sizeof kRoot - 1, kRoot) == 0) {
      current = line.substr(sizeof kRoot, line.size() - sizeof kRoot - 1);
      loaded.keys.try_emplace(lower(current), RegistryKeyRecord{current});
    } else if (line.rfind("@=\"", 0) == 0 && line.size() >= 4 && line.back() == '"' &&
               !current.empty()) {
      std::string value;
      for (size_t i = 3; i + 1 < line.size(); ++i) {
        if (line[i] == '\\' && i + 2 < line.size()) ++i;
        value += line[i];
      }
      RegistryKeyRecord& key = loaded.keys[lower(current)];
      key.has_default_value = true;
      key.default_type = kRegSz;
      key.default_data = value + '\0';
    }
  }
  g_registry.keys = std::move(loaded.keys);
  return true;
}

}  // namespace sim

namespace platform {

void RegistryKey::close() {
  if (handle_ == nullptr) return;
  delete static_cast<sim::OpenKey*>(handle_);
  handle_ = nullptr;
  --sim::registry().open_keys;
}

RegistryKey RegistryKey::create(const char* path, uint32_t rights) {
  sim::Registry& registry = sim::registry();
  registry.rights_requested.push_back(rights);
  std::string name(path);
  // The registry refuses a path that starts with a backslash.
  if (name.empty() || name[0] == '\\' || registry.fail_create.count(sim::lower(name)) != 0) {
    return RegistryKey();
  }
  sim::create_path(name);
  ++registry.open_keys;
  return RegistryKey(new sim::OpenKey{sim::lower(name)});
}

bool RegistryKey::set_default_value(const char* data, uint32_t size) {
  if (handle_ == nullptr) return false;
  sim::Registry& registry = sim::registry();
  const std::string& path = static_cast<sim::OpenKey*>(handle_)->lower_path;
  if (registry.fail_set.count(path) != 0) return false;
  sim::RegistryKeyRecord& key = registry.keys[path];
  key.has_default_value = true;
  key.default_type = sim::kRegSz;
  key.default_data.assign(data, size);
  return true;
}

}  // namespace platform
