// fwupdate-sim: the firmware updater, whole, on the simulated machine.
//
//   fwupdate-sim [machine options] [-- argument text of the program]
//
// Every box is printed as it would appear; questions are asked on the terminal when there is one,
// otherwise answered from --answer (or No). The exit status is the program's exit code.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/program.h"
#include "platform/sim/sim.h"

namespace {

struct Options {
  bool fast = false;
  std::vector<int> answers;
  std::string argument_text;
};

void usage() {
  std::fprintf(stderr,
               "usage: fwupdate-sim [--fast] [--answer yes|no[,yes|no...]] [-- ARGUMENT TEXT]\n");
}

bool parse_answers(const std::string& list, std::vector<int>* answers) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string word = list.substr(start, end - start);
    if (word == "yes") {
      answers->push_back(sim::kIdYes);
    } else if (word == "no") {
      answers->push_back(sim::kIdNo);
    } else {
      return false;
    }
    start = end + 1;
  }
  return !answers->empty();
}

bool parse(int argc, char** argv, Options* options) {
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--fast") {
      options->fast = true;
    } else if (arg == "--answer" && i + 1 < argc) {
      if (!parse_answers(argv[++i], &options->answers)) return false;
    } else {
      return false;
    }
  }
  for (; i < argc; ++i) {
    if (!options->argument_text.empty()) options->argument_text += ' ';
    options->argument_text += argv[i];
  }
  return true;
}

std::string narrow(const std::u16string& text) {
  std::string result;
  for (char16_t c : text) result += c < 0x80 ? static_cast<char>(c) : '?';
  return result;
}

const char* icon_name(uint32_t style) {
  switch (style & 0xF0) {
    case 0x10: return "error";
    case 0x30: return "warning";
    case 0x40: return "information";
    default: return "none";
  }
}

void print_box(const sim::ShownBox& box) {
  if (box.closed_by_stop) {
    std::printf("[box closed: the background notice was stopped]\n");
    return;
  }
  bool yes_no = (box.style & 0x0F) == 0x04;
  const char* buttons = !yes_no ? "OK" : (box.style & 0x100) != 0 ? "Yes/[No]" : "[Yes]/No";
  std::printf("+--- %s --- %s, %s%s\n", narrow(box.caption).c_str(), icon_name(box.style),
              buttons, box.notice ? ", background notice" : "");
  std::string text = narrow(box.text);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::printf("| %s\n", text.substr(start, end - start).c_str());
    start = end + 1;
  }
  const char* answer = box.answer == sim::kIdYes ? "Yes"
                       : box.answer == sim::kIdNo ? "No"
                       : box.answer == sim::kIdOk ? "OK"
                                                  : "(left open)";
  std::printf("+--- %s\n", answer);
}

int ask_on_terminal(const sim::ShownBox& box) {
  std::printf("+--- %s --- question\n| %s\n", narrow(box.caption).c_str(),
              narrow(box.text).c_str());
  for (;;) {
    std::printf("Yes or No? ");
    std::fflush(stdout);
    std::string line;
    if (!std::getline(std::cin, line)) return sim::kIdNo;
    if (line == "y" || line == "yes" || line == "Yes") return sim::kIdYes;
    if (line == "n" || line == "no" || line == "No") return sim::kIdNo;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, &options)) {
    usage();
    return 2;
  }
  sim::reset();
  sim::clock().real_time = !options.fast;
  sim::process().command_line = "fwupdate.exe" + (options.argument_text.empty()
                                                      ? std::string()
                                                      : " " + options.argument_text);
  sim::Ui& ui = sim::ui();
  ui.answers.assign(options.answers.begin(), options.answers.end());
  if (!options.answers.empty()) ui.default_answer = options.answers.back();
  if (options.answers.empty() && isatty(STDIN_FILENO)) ui.responder = ask_on_terminal;
  ui.on_box = print_box;

  int exit_code = fwu::run_program(options.argument_text, sim::process().command_line.c_str());

  std::printf("exit code: %d\n", exit_code);
  std::printf("waited: %llu ms\n", static_cast<unsigned long long>(sim::clock().waited_ms));
  return exit_code;
}
