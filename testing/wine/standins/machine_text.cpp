#include "testing/wine/standins/machine_text.h"

#include <vector>

#include "tools/sim_options.h"

namespace e2e {

bool machine_from_text(const std::string& text, sim::MachineSetup* setup, std::string* error) {
  std::vector<std::string> words{"fwu-e2e"};
  for (size_t at = 0; at < text.size();) {
    size_t start = text.find_first_not_of(" \t", at);
    if (start == std::string::npos) break;
    size_t end = text.find_first_of(" \t", start);
    if (end == std::string::npos) end = text.size();
    words.push_back(text.substr(start, end - start));
    at = end;
  }
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  fwu::tools::SimOptions options;
  if (!fwu::tools::parse_sim_options(static_cast<int>(argv.size()), argv.data(), &options, error)) {
    return false;
  }
  const fwu::tools::SimOptions defaults;
  bool machine_only = options.answers.empty() && options.image_file.empty() &&
                      options.registry_file == defaults.registry_file && !options.fast &&
                      !options.list_waits && options.state_folder.empty() &&
                      options.argument_text.empty();
  if (!machine_only) {
    *error =
        "only machine options: --answer, --image, --registry, --fast, --list-waits, --state and "
        "-- have no meaning for a real program";
    return false;
  }
  *setup = options.machine;
  return true;
}

}  // namespace e2e
