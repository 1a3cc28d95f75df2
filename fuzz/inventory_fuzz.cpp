// mup.xml from the fuzzer, read by the inventory record in a scratch directory: every registry
// key it leaves names a path that stands in the file, every value it sets is text of the file,
// at most two values are set, and every key it opened is closed again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz/scratch_directory.h"
#include "log/inventory.h"
#include "platform/sim/sim.h"
#include "testing/process_state.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fwu::fuzzing::enter_empty_scratch_directory();
  sim::reset();
  fwu::testing::reset_process_state();
  std::string text(reinterpret_cast<const char*>(data), size);
  std::ofstream("mup.xml", std::ios::binary) << text;

  fwu::write_inventory_record(fwu::hold_current_directory());

  const sim::Registry& registry = sim::registry();
  require(registry.open_keys == 0);
  require(registry.rights_requested.size() <= 2);
  size_t values = 0;
  for (const auto& [lower_path, key] : registry.keys) {
    require(text.find(key.path) != std::string::npos);
    if (!key.has_default_value) continue;
    ++values;
    require(key.default_type == sim::kRegSz);
    require(text.find(sim::default_string(key)) != std::string::npos);
  }
  require(values <= 2);
  return 0;
}
