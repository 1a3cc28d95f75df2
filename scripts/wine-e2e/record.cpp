#include "scripts/wine-e2e/record.h"

#include <cstdio>
#include <map>

#include "platform/sim/device_tree.h"
#include "platform/sim/touchpad.h"

namespace e2e {

namespace {

std::string line(const char* name, long long value) {
  return std::string(name) + " " + std::to_string(value) + "\n";
}

std::string narrow(const std::u16string& text) {
  std::string result;
  for (char16_t c : text) result += c < 0x80 ? static_cast<char>(c) : '?';
  return result;
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
  size_t flash_bytes = programmed_flash(&base).size();
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
  const std::map<uint32_t, uint8_t>& programmed = sim::touchpad().flash;
  *base = 0;
  if (programmed.empty()) return {};
  *base = programmed.begin()->first;
  return sim::flash_bytes(*base, programmed.rbegin()->first - *base + 1);
}

}  // namespace e2e
