// Keys under the local-machine root of the registry.
#pragma once

#include <cstdint>
#include <utility>

namespace platform {

constexpr uint32_t kKeySetValue = 0x0002;     // KEY_SET_VALUE
constexpr uint32_t kKeyWow64View64 = 0x0100;  // KEY_WOW64_64KEY

// An open registry key. Move-only owner; closes the key when destroyed.
class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(RegistryKey&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  RegistryKey& operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey() { close(); }

  // Creates or opens `path` below the local-machine root, non-volatile, default security, with
  // the access `rights`. Not open on failure.
  static RegistryKey create(const char* path, uint32_t rights);

  bool is_open() const { return handle_ != nullptr; }
  // Sets the key's default (unnamed) value, type REG_SZ, to `size` bytes from `data`.
  bool set_default_value(const char* data, uint32_t size);

 private:
  explicit RegistryKey(void* handle) : handle_(handle) {}
  void close();
  void* handle_ = nullptr;
};

}  // namespace platform
