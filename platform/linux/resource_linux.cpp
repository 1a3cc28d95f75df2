#include "platform/resource.h"

// The shipped image, taken into the binary as it is in the source tree (FWU_FIRMWARE_HEX is its
// path): the Linux program carries the same bytes as resource 104 of the Windows one.
asm(".pushsection .rodata.fwu_firmware_hex, \"a\"\n"
    ".global fwu_firmware_hex_begin\n"
    ".global fwu_firmware_hex_end\n"
    "fwu_firmware_hex_begin:\n"
    ".incbin \"" FWU_FIRMWARE_HEX
    "\"\n"
    "fwu_firmware_hex_end:\n"
    ".popsection\n");

extern "C" const char fwu_firmware_hex_begin[];
extern "C" const char fwu_firmware_hex_end[];

namespace platform {

std::span<const char> firmware_resource() {
  return std::span<const char>(fwu_firmware_hex_begin, fwu_firmware_hex_end);
}

}  // namespace platform
