#include "testing/wine/standins/record.h"

#include <cstdio>
#include <map>

#include "platform/sim/device_tree.h"
#include "platform/sim/touchpad.h"
#include "testing/wine/standins/narrow.h"

namespace e2e {

namespace {

std::string line(const char* name, long long value) {
  return std::string(name) + " " + std::to_string(value) + "\n";
}

// The flash from its lowest programmed address (*base) to its highest: its length in bytes; 0,
// with *base 0, when nothing is programmed.
uint32_t programmed_extent(uint32_t* base) {
  const std::map<uint32_t, uint8_t>& programmed = sim::touchpad().flash;
  *base = programmed.empty() ? 0 : programmed.begin()->first;
  return programmed.empty() ? 0 : programmed.rbegin()->first - *base + 1;
}

std::string node_line(const sim::Node& node) {
  char text[512];
  std::snprintf(text, sizeof text,
                "node %s present %d disabled %d problem %d disables %u enables %u "
                "reenumerations %u removals %u uninstalls %u\n",
                narrow(node.instance_id).c_str(), node.present, node.disabled, node.has_problem,
                node.disables, node.enables, node.reenumerations, node.removals, node.uninstalls);
  return text;
}

}  // namespace

std::string touchpad_record_lines(bool (*shown)(const sim::Node&)) {
  const sim::Touchpad& t = sim::touchpad();
  uint32_t base = 0;
  uint32_t flash_bytes = programmed_extent(&base);
  std::string text =
      std::string("mode ") + (t.mode == sim::Mode::kFirmware ? "firmware" : "bootloader") + "\n";
  text += line("version", sim::running_version());
  text += line("image-valid", t.image_valid);
  text += line("commands", t.commands_received);
  text += line("status-reads", t.status_reads);
  text += line("boots", t.boots);
  char flash_base[32];
  std::snprintf(flash_base, sizeof flash_base, "flash-base 0x%08X\n", base);
  text += flash_base;
  text += line("flash-bytes", static_cast<long long>(flash_bytes));
  for (const sim::Node& node : sim::device_tree().nodes) {
    if (shown == nullptr || shown(node)) text += node_line(node);
  }
  return text;
}

std::vector<uint8_t> programmed_flash(uint32_t* base) {
  uint32_t length = programmed_extent(base);
  if (length == 0) return {};
  return sim::flash_bytes(*base, length);
}

}  // namespace e2e
