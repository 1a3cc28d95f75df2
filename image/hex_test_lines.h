// Builds Intel HEX lines for the reader's tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fwu::testing {

// One record line with a correct checksum and the given line end; the byte count is the number of
// data bytes.
inline std::string hex_line(uint16_t address, uint8_t type, const std::vector<uint8_t>& data,
                            const char* end = "\r\n") {
  std::string line = ":";
  unsigned sum = 0;
  auto put = [&](uint8_t byte) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    line += pair;
    sum += byte;
  };
  put(static_cast<uint8_t>(data.size()));
  put(static_cast<uint8_t>(address >> 8));
  put(static_cast<uint8_t>(address));
  put(type);
  for (uint8_t byte : data) put(byte);
  put(static_cast<uint8_t>(-sum));
  return line + end;
}

inline std::string linear_base_line(uint16_t upper, const char* end = "\r\n") {
  return hex_line(0, 0x04, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)}, end);
}

inline std::string end_line(const char* end = "\r\n") {
  return hex_line(0, 0x01, {}, end);
}

}  // namespace fwu::testing
