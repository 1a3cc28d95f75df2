// A whole command line from the fuzzer: its argument text, the settings read from that, and a log
// line written to the path they name, inside a scratch directory. The settings keep their
// contract, and a log file that was written holds exactly the line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "app/settings.h"
#include "fuzz/scratch_directory.h"
#include "log/log_file.h"
#include "platform/sim/sim.h"
#include "testing/process_state.h"

namespace {

void require(bool condition) {
  if (!condition) std::abort();
}

void check_argument_text(std::string_view command_line, std::string_view arguments) {
  require(arguments.empty() ||
          (arguments.data() >= command_line.data() &&
           arguments.data() + arguments.size() == command_line.data() + command_line.size()));
  require(arguments.empty() || (arguments.front() != ' ' && arguments.front() != '\t'));
}

void check_settings(std::string_view arguments) {
  const fwu::ProgramSettings& s = fwu::settings();
  require(s.notice == !s.silent);
  require(s.log_path.size() <= fwu::kMaxLogPath);
  require(s.log_enabled == !s.log_path.empty());
  require(arguments.find(s.log_path) != std::string_view::npos);
}

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Only paths that stay inside the scratch directory are written to.
void check_log_line() {
  const fwu::ProgramSettings& s = fwu::settings();
  std::string path = s.log_path.c_str();  // the platform sees the path up to its first zero
  if (!s.log_enabled || path.empty() || path.find("..") != std::string::npos) return;
  fwu::log_line("%s", "fuzz line");
  std::string host = sim::host_path(path.c_str());
  std::error_code error;
  if (std::filesystem::is_regular_file(host, error)) require(contents(host) == "fuzz line\r\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fwu::fuzzing::enter_empty_scratch_directory();
  sim::reset();
  fwu::testing::reset_process_state();
  std::string_view command_line(reinterpret_cast<const char*>(data), size);
  std::string_view arguments = fwu::argument_text(command_line);
  check_argument_text(command_line, arguments);
  fwu::read_command_line(arguments);
  check_settings(arguments);
  check_log_line();
  return 0;
}
