#include "tools/sim_options.h"

#include <charconv>
#include <cstdint>
#include <string_view>
#include <utility>

#include "platform/sim/sim.h"

namespace fwu::tools {

namespace {

template <typename Number>
bool parse_number(std::string_view text, Number* value, int base = 10) {
  if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
  }
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value, base);
  return ec == std::errc() && ptr == end && !text.empty();
}

// COMMAND or COMMAND:N.
bool parse_command_count(std::string_view text, sim::Command* command, uint32_t* count) {
  size_t colon = text.find(':');
  std::string name(text.substr(0, colon));
  *count = 1;
  if (colon != std::string_view::npos &&
      (!parse_number(text.substr(colon + 1), count) || *count == 0)) {
    return false;
  }
  return sim::command_from_name(name.c_str(), command);
}

// COMMAND:MS for a command that keeps the touchpad busy for a time of its own.
bool parse_busy_time(std::string_view text, sim::MachineSetup* machine) {
  size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view name = text.substr(0, colon);
  uint32_t* ms = name == "format-image" ? &machine->format_image_ms
                 : name == "flush"      ? &machine->flush_ms
                 : name == "validate"   ? &machine->validate_ms
                                        : nullptr;
  return ms != nullptr && parse_number(text.substr(colon + 1), ms);
}

bool parse_answers(std::string_view list, std::vector<int>* answers) {
  answers->clear();
  for (;;) {
    size_t comma = list.find(',');
    std::string_view word = list.substr(0, comma);
    if (word == "yes") {
      answers->push_back(sim::kIdYes);
    } else if (word == "no") {
      answers->push_back(sim::kIdNo);
    } else {
      return false;
    }
    if (comma == std::string_view::npos) return true;
    list.remove_prefix(comma + 1);
  }
}

bool parse_device(std::string_view word, sim::DeviceStart* device) {
  if (word == "normal")
    *device = sim::DeviceStart::kNormal;
  else if (word == "bootloader")
    *device = sim::DeviceStart::kBootloader;
  else if (word == "none")
    *device = sim::DeviceStart::kNone;
  else if (word == "after-repair")
    *device = sim::DeviceStart::kAfterRepair;
  else
    return false;
  return true;
}

bool parse_stale(std::string_view word, sim::Stale* stale) {
  if (word == "ok")
    *stale = sim::Stale::kRepaired;
  else if (word == "fail")
    *stale = sim::Stale::kStays;
  else if (word == "none")
    *stale = sim::Stale::kNone;
  else
    return false;
  return true;
}

bool parse_breakage(std::string_view word, std::vector<sim::Breakage>* breakages) {
  static constexpr std::pair<std::string_view, sim::Breakage> kNames[] = {
      {"restart-not-disableable", sim::Breakage::kRestartNotDisableable},
      {"restart-enable", sim::Breakage::kRestartEnable},
      {"restart-disable", sim::Breakage::kRestartDisable},
      {"instance-id", sim::Breakage::kInstanceId},
      {"instance-id-type", sim::Breakage::kInstanceIdType},
      {"locate", sim::Breakage::kLocate},
      {"stale-not-disableable", sim::Breakage::kStaleNotDisableable},
      {"stale-service", sim::Breakage::kStaleService},
      {"reopen", sim::Breakage::kReopen},
      {"detail-size", sim::Breakage::kDetailSize},
      {"detail-read", sim::Breakage::kDetailRead},
      {"caps", sim::Breakage::kCaps},
      {"value-caps", sim::Breakage::kValueCaps},
  };
  for (const auto& [name, breakage] : kNames) {
    if (word == name) {
      breakages->push_back(breakage);
      return true;
    }
  }
  return false;
}

bool parse_restart(std::string_view word, bool* fails) {
  if (word != "ok" && word != "fail") return false;
  *fails = word == "fail";
  return true;
}

// One option that takes a value.
bool parse_valued(std::string_view name, std::string_view value, SimOptions* options) {
  sim::MachineSetup& m = options->machine;
  if (name == "--device") return parse_device(value, &m.device);
  if (name == "--version") return parse_number(value, &m.firmware_version);
  if (name == "--info-bytes") return parse_number(value, &m.info_length);
  if (name == "--protocol") return parse_number(value, &m.protocol);
  if (name == "--erase-delay") return parse_number(value, &m.erase_delay);
  if (name == "--write-rate") return parse_number(value, &m.write_rate);
  if (name == "--signature") return parse_number(value, &m.firmware_signature, 16);
  if (name == "--boot-ms") return parse_number(value, &m.boot_ms);
  if (name == "--appear-ms") return parse_number(value, &m.appear_ms);
  if (name == "--busy-ms") return parse_busy_time(value, &m);
  if (name == "--restart") return parse_restart(value, &m.restart_fails);
  if (name == "--stale") return parse_stale(value, &m.stale);
  if (name == "--break") return parse_breakage(value, &m.breakages);
  if (name == "--answer") return parse_answers(value, &options->answers);
  if (name == "--image") return !(options->image_file = value).empty();
  if (name == "--registry") return !(options->registry_file = value).empty();
  if (name == "--state") return !(options->state_folder = value).empty();
  if (name == "--fail") {
    sim::CommandFailure failure;
    if (!parse_command_count(value, &failure.command, &failure.from_nth)) return false;
    m.failures.push_back(failure);
    return true;
  }
  if (name == "--busy") {
    sim::BusyReads busy;
    if (!parse_command_count(value, &busy.command, &busy.reads)) return false;
    m.busy.push_back(busy);
    return true;
  }
  return false;
}

bool takes_value(std::string_view name) {
  for (std::string_view known :
       {"--device", "--version", "--info-bytes", "--protocol", "--erase-delay", "--write-rate",
        "--signature", "--boot-ms", "--appear-ms", "--busy-ms", "--restart", "--stale", "--break",
        "--answer", "--image", "--registry", "--state", "--fail", "--busy"}) {
    if (name == known) return true;
  }
  return false;
}

}  // namespace

bool parse_sim_options(int argc, const char* const* argv, SimOptions* options, std::string* error) {
  int i = 1;
  for (; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "--fast") {
      options->fast = true;
    } else if (arg == "--big-endian") {
      options->machine.big_endian_info = true;
    } else if (arg == "--list-waits") {
      options->list_waits = true;
    } else if (arg == "--image-never-valid") {
      options->machine.image_never_valid = true;
    } else if (takes_value(arg)) {
      if (i + 1 >= argc || !parse_valued(arg, argv[i + 1], options)) {
        *error = "bad or missing value for " + std::string(arg);
        return false;
      }
      ++i;
    } else {
      *error = "unknown option " + std::string(arg);
      return false;
    }
  }
  for (; i < argc; ++i) {
    if (!options->argument_text.empty()) options->argument_text += ' ';
    options->argument_text += argv[i];
  }
  return true;
}

const char* sim_usage() {
  return "usage: fwupdate-sim [machine options] [-- ARGUMENT TEXT OF THE PROGRAM]\n"
         "  --device normal|bootloader|none|after-repair   where the touchpad is (normal)\n"
         "  --version N          firmware version the touchpad runs (16)\n"
         "  --big-endian         device information block in big-endian order\n"
         "  --info-bytes N       length of the device information block it returns (27)\n"
         "  --protocol N         bootloader protocol version (9)\n"
         "  --erase-delay MS     erase delay it announces from protocol 8 on (50)\n"
         "  --write-rate MS      write rate it announces from protocol 8 on (10)\n"
         "  --signature 0xNNNN   status signature while it runs its firmware (0x5AC3)\n"
         "  --boot-ms MS         time it takes to start after reset and invoke (8)\n"
         "  --busy-ms COMMAND:MS time it stays busy after format-image (40), flush (8)\n"
         "                       or validate (8)\n"
         "  --fail COMMAND[:N]   the Nth send or read of COMMAND and every later one fail\n"
         "  --busy COMMAND[:N]   from the first COMMAND on, N status reads report an error\n"
         "                       COMMAND: status info reset invoke format-image\n"
         "                                format-region write flush validate\n"
         "  --image-never-valid  validation never succeeds\n"
         "  --restart ok|fail    whether restarting its transport device works (ok)\n"
         "  --stale ok|fail|none a stale HID-over-I2C device to repair (none)\n"
         "  --appear-ms MS       time the touchpad's interfaces take to appear after its\n"
         "                       transport device is started again (0)\n"
         "  --break FAULT        a fault of the device world (repeatable):\n"
         "                       restart-not-disableable (then removed), restart-enable\n"
         "                       (then re-enumerated),\n"
         "                       restart-disable, instance-id, instance-id-type, locate,\n"
         "                       stale-not-disableable (then uninstalled), stale-service,\n"
         "                       reopen (the touchpad's report 7 collection opens once);\n"
         "                       detail-size, detail-read, caps or value-caps of the touchpad's\n"
         "                       first collection\n"
         "  --answer yes|no[,...] answers to the questions, the last one repeating\n"
         "  --image FILE         Intel HEX text instead of the embedded image\n"
         "  --registry FILE      where the registry store is kept (registry.reg)\n"
         "  --state DIR          write the touchpad's end state to DIR/record.txt and\n"
         "                       DIR/flash.bin, as the virtual touchpad under Wine records it\n"
         "  --fast               waits advance the virtual clock only\n"
         "  --list-waits         print every wait the program asked for, in milliseconds\n";
}

}  // namespace fwu::tools
