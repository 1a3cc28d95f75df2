#include <windows.h>

#include "platform/resource.h"

namespace platform {

std::span<const char> firmware_resource() {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(104), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (found == nullptr) return {};
  DWORD size = SizeofResource(nullptr, found);
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (size == 0 || loaded == nullptr) return {};
  // A loaded resource is mapped with the module and is never unloaded or unlocked.
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr) return {};
  return std::span<const char>(static_cast<const char*>(bytes), size);
}

}  // namespace platform
