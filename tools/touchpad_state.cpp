#include "tools/touchpad_state.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <vector>

#include "platform/sim/touchpad.h"

namespace fwu::tools {

bool write_touchpad_state(const std::string& folder) {
  const std::map<uint32_t, uint8_t>& programmed = sim::touchpad().flash;
  uint32_t base = programmed.empty() ? 0 : programmed.begin()->first;
  uint32_t length = programmed.empty() ? 0 : programmed.rbegin()->first - base + 1;
  char text[96];
  std::snprintf(text, sizeof text, "mode %s\nversion %u\nflash-base 0x%08X\n",
                sim::touchpad().mode == sim::Mode::kFirmware ? "firmware" : "bootloader",
                sim::running_version(), base);
  std::vector<uint8_t> flash = sim::flash_bytes(base, length);
  std::ofstream record(folder + "/record.txt", std::ios::binary);
  std::ofstream bytes(folder + "/flash.bin", std::ios::binary);
  record << text;
  bytes.write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(length));
  return record.good() && bytes.good();
}

}  // namespace fwu::tools
