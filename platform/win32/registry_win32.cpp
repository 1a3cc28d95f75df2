#include <windows.h>

#include "platform/registry.h"

static_assert(platform::kKeySetValue == KEY_SET_VALUE);
static_assert(platform::kKeyWow64View64 == KEY_WOW64_64KEY);

namespace platform {

void RegistryKey::close() {
  if (handle_ != nullptr) RegCloseKey(static_cast<HKEY>(handle_));
  handle_ = nullptr;
}

RegistryKey RegistryKey::create(const char* path, uint32_t rights) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, rights,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return RegistryKey();
  }
  return RegistryKey(key);
}

bool RegistryKey::set_default_value(const char* data, uint32_t size) {
  if (handle_ == nullptr) return false;
  return RegSetValueExA(static_cast<HKEY>(handle_), nullptr, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

}  // namespace platform
