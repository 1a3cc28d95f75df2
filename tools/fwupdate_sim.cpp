// fwupdate-sim: the firmware updater, whole, on the simulated machine.
//
//   fwupdate-sim [machine options] [-- argument text of the program]
//
// Every box is printed as it would appear; questions are asked on the terminal when there is one,
// otherwise answered from --answer (or No). The exit status is the program's exit code.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim.h"
#include "tools/sim_options.h"
#include "tools/touchpad_state.h"

namespace {

std::string narrow(const std::u16string& text) {
  std::string result;
  for (char16_t c : text) result += c < 0x80 ? static_cast<char>(c) : '?';
  return result;
}

const char* icon_name(uint32_t style) {
  switch (style & 0xF0) {
    case 0x10:
      return "error";
    case 0x30:
      return "warning";
    case 0x40:
      return "information";
    default:
      return "no icon";
  }
}

const char* answer_name(int answer) {
  switch (answer) {
    case sim::kIdYes:
      return "Yes";
    case sim::kIdNo:
      return "No";
    case sim::kIdOk:
      return "OK";
    case 0:
      return "(left open)";
    default:
      return "(other)";
  }
}

void print_box_frame(const sim::ShownBox& box) {
  bool yes_no = (box.style & 0x0F) == 0x04;
  const char* buttons = !yes_no ? "[OK]" : (box.style & 0x100) != 0 ? "Yes [No]" : "[Yes] No";
  std::printf("\n+-- %s -- %s, %s%s\n", narrow(box.caption).c_str(), icon_name(box.style), buttons,
              box.notice ? " (background notice)" : "");
  std::string text = narrow(box.text);
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::printf("| %s\n", text.substr(start, end - start).c_str());
    start = end + 1;
  }
}

void print_box(const sim::ShownBox& box) {
  if (box.closed_by_stop) {
    std::printf("+-- (the background notice was stopped; its box went away)\n");
  } else {
    print_box_frame(box);
    std::printf("+-- %s\n", answer_name(box.answer));
  }
  std::fflush(stdout);
}

int ask_on_terminal(const sim::ShownBox& box) {
  print_box_frame(box);
  bool no_default = (box.style & 0x100) != 0;
  for (;;) {
    std::printf("+-- Yes or No? [%s] ", no_default ? "No" : "Yes");
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line)) return sim::kIdNo;
    if (line.empty()) return no_default ? sim::kIdNo : sim::kIdYes;
    if (line == "y" || line == "yes" || line == "Yes") return sim::kIdYes;
    if (line == "n" || line == "no" || line == "No") return sim::kIdNo;
  }
}

bool read_text(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

std::string device_state() {
  bool firmware = sim::touchpad().mode == sim::Mode::kFirmware;
  return std::string(firmware ? "firmware " : "bootloader ") +
         std::to_string(sim::running_version());
}

// Data bytes of every write that reached the touchpad.
unsigned long long written_bytes() {
  unsigned long long total = 0;
  for (const sim::ReceivedReport& report : sim::touchpad().received) {
    const std::vector<uint8_t>& b = report.bytes;
    if (report.delivered && b.size() > 9 && b[1] == 0x00) {
      total += b[6] | b[7] << 8 | b[8] << 16 | static_cast<unsigned long long>(b[9]) << 24;
    }
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  fwu::tools::SimOptions options;
  std::string error;
  if (!fwu::tools::parse_sim_options(argc, argv, &options, &error)) {
    std::fprintf(stderr, "fwupdate-sim: %s\n%s", error.c_str(), fwu::tools::sim_usage());
    return 2;
  }
  sim::reset();
  sim::set_up_machine(options.machine);
  if (!options.image_file.empty()) {
    std::string text;
    if (!read_text(options.image_file, &text)) {
      std::fprintf(stderr, "fwupdate-sim: cannot read %s\n", options.image_file.c_str());
      return 2;
    }
    sim::set_firmware_resource(text);
  }
  std::string registry;
  bool had_registry = read_text(options.registry_file, &registry);
  if (had_registry && !sim::import_registry(registry)) {
    std::fprintf(stderr, "fwupdate-sim: %s is not a registry export\n",
                 options.registry_file.c_str());
    return 2;
  }

  sim::clock().real_time = !options.fast;
  sim::process().command_line = "fwupdate.exe";
  if (!options.argument_text.empty()) sim::process().command_line += " " + options.argument_text;
  sim::Ui& ui = sim::ui();
  ui.answers.assign(options.answers.begin(), options.answers.end());
  ui.default_answer = options.answers.empty() ? sim::kIdNo : options.answers.back();
  if (options.answers.empty() && isatty(STDIN_FILENO)) ui.responder = ask_on_terminal;
  ui.on_box = print_box;

  std::string before = device_state();
  int exit_code = fwu::run_program(options.argument_text, sim::process().command_line.c_str());

  if (had_registry || !sim::registry().keys.empty()) {
    std::ofstream(options.registry_file, std::ios::binary) << sim::export_registry();
  }
  std::printf("\n");
  for (const std::string& what : sim::touchpad().irregularities) {
    std::printf("touchpad saw: %s\n", what.c_str());
  }
  std::printf("exit code: %d\n", exit_code);
  std::printf("device: %s -> %s\n", before.c_str(), device_state().c_str());
  std::printf("written: %llu bytes\n", written_bytes());
  std::printf("waited: %llu ms\n", static_cast<unsigned long long>(sim::clock().waited_ms));
  if (!options.state_folder.empty() && !fwu::tools::write_touchpad_state(options.state_folder)) {
    std::fprintf(stderr, "fwupdate-sim: cannot write the end state to %s\n",
                 options.state_folder.c_str());
    return 2;
  }
  if (options.list_waits) {
    std::printf("waits:");
    for (uint32_t ms : sim::clock().waits) std::printf(" %u", ms);
    std::printf("\n");
  }
  return exit_code;
}
