// The 8-bit text of the record and of the machine options, made from UTF-16 text.
#pragma once

#include <string>
#include <string_view>

namespace e2e {

// Each character below 0x80 as itself, any other as '?'.
inline std::string narrow(std::u16string_view text) {
  std::string result;
  for (char16_t c : text) result += c < 0x80 ? static_cast<char>(c) : '?';
  return result;
}

}  // namespace e2e
