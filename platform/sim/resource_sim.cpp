#include <string>
#include <utility>

#include "platform/resource.h"
#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

// The shipped image, taken into the binary as it is in the source tree (FWU_FIRMWARE_HEX is its
// path), so the simulated program carries the same bytes as the Windows one.
asm(".pushsection .rodata.fwu_firmware_hex, \"a\"\n"
    ".global fwu_sim_firmware_hex_begin\n"
    ".global fwu_sim_firmware_hex_end\n"
    "fwu_sim_firmware_hex_begin:\n"
    ".incbin \"" FWU_FIRMWARE_HEX
    "\"\n"
    "fwu_sim_firmware_hex_end:\n"
    ".popsection\n");

extern "C" const char fwu_sim_firmware_hex_begin[];
extern "C" const char fwu_sim_firmware_hex_end[];

namespace sim {

namespace {

struct Resource {
  bool replaced = false;
  std::string text;
};
Resource g_resource;

}  // namespace

std::span<const char> embedded_firmware_resource() {
  return std::span<const char>(fwu_sim_firmware_hex_begin, fwu_sim_firmware_hex_end);
}

void set_firmware_resource(std::string text) {
  g_resource.replaced = true;
  g_resource.text = std::move(text);
}

void reset_resource() {
  g_resource = Resource{};
}

}  // namespace sim

namespace platform {

std::span<const char> firmware_resource() {
  if (!sim::g_resource.replaced) return sim::embedded_firmware_resource();
  return std::span<const char>(sim::g_resource.text.data(), sim::g_resource.text.size());
}

}  // namespace platform
