#include "platform/sim/touchpad.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {

Touchpad g_touchpad;

constexpr uint32_t kWriteHeader = 10;  // report ID, command byte, address, length
constexpr uint32_t kMaxWriteData = kReportLength - kWriteHeader;
constexpr uint32_t kFoldBlock = 360;  // bytes summed between two folds

constexpr const char* kCommandNames[kCommandCount] = {"status", "info",         "reset",
                                                      "invoke", "format-image", "format-region",
                                                      "write",  "flush",        "validate"};

uint64_t now() {
  return clock().now_ms;
}

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

void put16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

void put32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

size_t index_of(Command command) {
  return static_cast<size_t>(command);
}

void irregular(std::string what) {
  g_touchpad.irregularities.push_back(std::move(what));
}

uint8_t flash_byte(uint32_t address) {
  auto it = g_touchpad.flash.find(address);
  return it == g_touchpad.flash.end() ? 0xFF : it->second;
}

// Everything the bootloader keeps in RAM.
void forget_ram() {
  Touchpad& t = g_touchpad;
  t.image_formatted = false;
  t.region_count = 0;
  t.regions.clear();
  t.unflushed.clear();
  t.pending_answer.clear();
  t.writes.clear();
  t.validated = false;
  t.busy_until_ms = 0;
  t.starting_until_ms = 0;
  t.last_error = kErrorNone;
}

// ---- Status and read memory answers --------------------------------------------------------

void put_status(uint8_t* report, uint8_t error_code) {
  const Touchpad& t = g_touchpad;
  std::memset(report, 0, kReportLength);
  report[0] = kReportId;
  put16(report + 1, t.mode == Mode::kFirmware ? t.firmware_signature : t.bootloader_signature);
  report[3] = t.protocol;
  report[4] = error_code;
  report[5] = t.image_valid ? kFlagImageValid : 0;
  if (t.protocol >= 8) {
    report[7] = t.write_rate;
    report[8] = t.erase_delay;
  }
}

std::vector<uint8_t> info_block() {
  const Touchpad& t = g_touchpad;
  std::vector<uint8_t> block(std::max<uint32_t>(t.info_length, kInfoLength), 0);
  const uint16_t fields[3] = {kTouchpadVendorId, product_id_for_mode(), running_version()};
  for (int i = 0; i < 3; ++i) {
    uint8_t* p = block.data() + 2 * i;
    p[t.big_endian_info ? 1 : 0] = static_cast<uint8_t>(fields[i]);
    p[t.big_endian_info ? 0 : 1] = static_cast<uint8_t>(fields[i] >> 8);
  }
  block[26] = t.big_endian_info ? 0x01 : 0x00;
  block.resize(t.info_length);
  return block;
}

// The bytes read memory gives for `address` and `count`; false for an address it has nothing at.
bool memory_at(uint32_t address, uint32_t count, std::vector<uint8_t>* data) {
  const Touchpad& t = g_touchpad;
  if (address >= kInfoAddress && address - kInfoAddress < t.info_length) {
    std::vector<uint8_t> block = info_block();
    uint32_t offset = address - kInfoAddress;
    uint32_t n = std::min(count, t.info_length - offset);
    data->assign(block.begin() + offset, block.begin() + offset + n);
    return true;
  }
  if (static_cast<uint64_t>(address) + count > kFlashEnd) return false;
  *data = flash_bytes(address, count);
  return true;
}

uint8_t read_memory(const uint8_t* command) {
  Touchpad& t = g_touchpad;
  uint32_t address = le32(command + 2);
  uint32_t count = le16(command + 6);
  bool extended = t.protocol >= 8;
  uint32_t data_at = extended ? 15 : 12;
  std::vector<uint8_t> data;
  uint8_t error = kErrorNone;
  if (count > kReportLength - data_at || !memory_at(address, count, &data)) {
    error = kErrorBadRead;
    data.clear();
  }
  t.pending_answer.assign(kReportLength, 0);
  uint8_t* answer = t.pending_answer.data();
  put_status(answer, error);
  put32(answer + (extended ? 9 : 6), address);
  put16(answer + data_at - 2, static_cast<uint16_t>(data.size()));
  std::copy(data.begin(), data.end(), answer + data_at);
  return error;
}

// ---- Bootloader commands ------------------------------------------------------------------

void set_busy(uint64_t ms) {
  g_touchpad.busy_until_ms = now() + ms;
}

uint8_t format_image(const uint8_t* command) {
  Touchpad& t = g_touchpad;
  uint16_t word = le16(command + 8);
  uint8_t byte = command[10];
  bool new_format = t.protocol >= 9;
  bool parameters_match = new_format ? word == 0xFFFF && byte == 0xFF : word == 32 && byte == 44;
  if (command[2] != 0 || command[3] == 0 || command[11] != kReportId || !parameters_match) {
    return kErrorBadParameter;
  }
  forget_ram();
  t.image_formatted = true;
  t.image_valid = false;
  t.region_count = command[3];
  t.second_image_word = le32(command + 4);
  t.format_word = word;
  t.format_byte = byte;
  set_busy(t.format_image_ms);
  return kErrorNone;
}

bool overlaps_other(uint8_t index, uint64_t start, uint64_t end) {
  for (const auto& [other, region] : g_touchpad.regions) {
    if (other == index) continue;
    if (start < region.start + static_cast<uint64_t>(region.length) && region.start < end) {
      return true;
    }
  }
  return false;
}

uint8_t format_region(const uint8_t* command) {
  Touchpad& t = g_touchpad;
  if (!t.image_formatted) return kErrorNotFormatted;
  uint8_t index = command[2];
  FormattedRegion region{le32(command + 3), le32(command + 7), le32(command + 11)};
  uint64_t end = static_cast<uint64_t>(region.start) + region.length;
  if (index >= t.region_count || region.length == 0 || end > kFlashEnd ||
      overlaps_other(index, region.start, end)) {
    return kErrorBadParameter;
  }
  t.flash.erase(t.flash.lower_bound(region.start), t.flash.lower_bound(end));
  std::erase_if(t.writes, [&](const auto& write) {
    return write.first >= region.start && write.first < end;
  });
  t.regions[index] = region;
  set_busy(static_cast<uint64_t>(effective_erase_delay()) * ((region.length >> 10) + 1));
  return kErrorNone;
}

bool inside_one_region(uint32_t address, uint32_t length) {
  uint64_t end = static_cast<uint64_t>(address) + length;
  for (const auto& [index, region] : g_touchpad.regions) {
    if (address >= region.start && end <= region.start + static_cast<uint64_t>(region.length)) {
      return true;
    }
  }
  return false;
}

// A write over bytes written before, other than the same write again.
bool overlaps_earlier_write(uint32_t address, const std::vector<uint8_t>& bytes) {
  uint64_t end = static_cast<uint64_t>(address) + bytes.size();
  for (const auto& [at, earlier] : g_touchpad.writes) {
    bool overlaps = address < at + static_cast<uint64_t>(earlier.size()) && at < end;
    if (overlaps && !(at == address && earlier == bytes)) return true;
  }
  return false;
}

uint8_t write_data(const uint8_t* command) {
  Touchpad& t = g_touchpad;
  uint32_t address = le32(command + 2);
  uint32_t length = le32(command + 6);
  if (length == 0 || length > kMaxWriteData) return kErrorBadParameter;
  if (!inside_one_region(address, length)) return kErrorOutsideRegion;
  const uint8_t* data = command + kWriteHeader;
  std::vector<uint8_t> bytes(data, data + length);
  if (overlaps_earlier_write(address, bytes)) irregular("write data overlaps an earlier write");
  t.writes.emplace_back(address, bytes);
  t.unflushed.emplace_back(address, std::move(bytes));
  set_busy(static_cast<uint64_t>(length) * effective_write_rate() / 1000 + 1);
  return kErrorNone;
}

uint8_t flush() {
  Touchpad& t = g_touchpad;
  for (const auto& [address, bytes] : t.unflushed) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      uint32_t at = address + static_cast<uint32_t>(i);
      t.flash[at] = static_cast<uint8_t>(flash_byte(at) & bytes[i]);
    }
  }
  t.unflushed.clear();
  set_busy(t.flush_ms);
  return kErrorNone;
}

bool image_checks_out() {
  const Touchpad& t = g_touchpad;
  if (!t.image_formatted || t.image_never_valid || t.regions.size() != t.region_count) {
    return false;
  }
  for (const auto& [index, region] : t.regions) {
    std::vector<uint8_t> bytes = flash_bytes(region.start, region.length);
    if (fletcher32(bytes.data(), bytes.size()) != region.checksum) return false;
  }
  const FormattedRegion& first = t.regions.begin()->second;
  if (first.length < 8) return false;
  std::vector<uint8_t> word = flash_bytes(first.start + 4, 4);
  return le32(word.data()) == t.second_image_word;
}

uint8_t validate(const uint8_t* command) {
  Touchpad& t = g_touchpad;
  if (command[2] != 0x01) return kErrorBadParameter;
  if (t.validated) irregular("validate image again after one format image");
  if (!t.unflushed.empty()) irregular("validate image before the written data is flushed");
  t.validated = true;
  set_busy(t.validate_ms);
  if (!image_checks_out()) return kErrorVerify;
  t.image_valid = true;
  t.firmware_version = t.new_version;
  return kErrorNone;
}

void start_up() {
  g_touchpad.starting_until_ms = now() + g_touchpad.boot_ms;
}

uint8_t reboot() {
  touchpad_boot();
  start_up();
  return kErrorNone;
}

uint8_t invoke_bootloader() {
  Touchpad& t = g_touchpad;
  if (t.mode == Mode::kBootloader) {
    irregular("invoke bootloader while the bootloader runs");
    return kErrorNone;
  }
  forget_ram();
  t.mode = Mode::kBootloader;
  start_up();
  return kErrorNone;
}

bool bootloader_only(Command command) {
  return command == Command::kFormatImage || command == Command::kFormatRegion ||
         command == Command::kWrite || command == Command::kFlush || command == Command::kValidate;
}

uint8_t carry_out(Command command, const uint8_t* report) {
  if (bootloader_only(command) && g_touchpad.mode != Mode::kBootloader) {
    return kErrorNotInBootloader;
  }
  switch (command) {
    case Command::kInfo:
      return read_memory(report);
    case Command::kReset:
      return reboot();
    case Command::kInvoke:
      return invoke_bootloader();
    case Command::kFormatImage:
      return format_image(report);
    case Command::kFormatRegion:
      return format_region(report);
    case Command::kWrite:
      return write_data(report);
    case Command::kFlush:
      return flush();
    case Command::kValidate:
      return validate(report);
    case Command::kStatus:
      break;
  }
  return kErrorUnknownCommand;
}

void arm_status_faults(Command command) {
  for (StatusFault& fault : g_touchpad.status_faults) {
    if (fault.command == command) fault.armed = true;
  }
}

// The error code a status read reports now.
uint8_t status_error() {
  Touchpad& t = g_touchpad;
  for (StatusFault& fault : t.status_faults) {
    if (fault.armed && fault.reads > 0) {
      --fault.reads;
      return fault.error_code;
    }
  }
  if (now() < t.busy_until_ms) {
    irregular("status read while busy");
    return kErrorBusy;
  }
  return t.last_error;
}

// Where a command's fields end in its report; every byte from there on must be 0.
size_t fields_end(Command command, const uint8_t* report) {
  switch (command) {
    case Command::kWrite:
      return kWriteHeader + std::min(le32(report + 6), kMaxWriteData);
    case Command::kValidate:
      return 3;
    case Command::kFormatImage:
      return 12;
    case Command::kFormatRegion:
      return 15;
    case Command::kInfo:
      return 8;
    default:
      return 2;
  }
}

// The command a report carries, by name, for the record.
std::string name_of(const uint8_t* report) {
  Command command = Command::kStatus;
  if (command_of(report[1], &command)) return command_name(command);
  return "command " + std::to_string(report[1]);
}

void receive(const uint8_t* report, bool known, Command command) {
  Touchpad& t = g_touchpad;
  ++t.commands_received;
  t.pending_answer.clear();
  if (known) arm_status_faults(command);
  for (size_t at = known ? fields_end(command, report) : 2; at < kReportLength; ++at) {
    if (report[at] != 0) {
      irregular(name_of(report) + ": byte " + std::to_string(at) + " after its fields is not 0");
      break;
    }
  }
  if (now() < t.busy_until_ms) {
    irregular(name_of(report) + " while busy");
    t.last_error = kErrorBusy;
  } else {
    t.last_error = known ? carry_out(command, report) : kErrorUnknownCommand;
    if (t.last_error != kErrorNone && t.last_error != kErrorVerify) {
      irregular(name_of(report) + " refused with error " + std::to_string(t.last_error));
    }
  }
  if (t.power_cut_after != 0 && t.commands_received == t.power_cut_after) power_cut();
}

// A device that is starting does not answer; the host's call fails. `report` is the command
// that came, or null for a status read.
bool starting(const uint8_t* report) {
  if (now() >= g_touchpad.starting_until_ms) return false;
  irregular((report != nullptr ? name_of(report) : "status read") + " while starting");
  return true;
}

}  // namespace

Touchpad& touchpad() {
  return g_touchpad;
}

uint16_t running_version() {
  return g_touchpad.mode == Mode::kFirmware ? g_touchpad.firmware_version : 0;
}

uint16_t product_id_for_mode() {
  return g_touchpad.mode == Mode::kFirmware ? kFirmwareProductId : kBootloaderProductId;
}

uint8_t effective_erase_delay() {
  return g_touchpad.protocol >= 8 ? g_touchpad.erase_delay : 50;
}

uint8_t effective_write_rate() {
  return g_touchpad.protocol >= 8 ? g_touchpad.write_rate : 10;
}

std::vector<uint8_t> flash_bytes(uint32_t address, uint32_t length) {
  std::vector<uint8_t> bytes(length);
  for (uint32_t i = 0; i < length; ++i) bytes[i] = flash_byte(address + i);
  return bytes;
}

bool flash_equals(uint32_t address, const std::vector<uint8_t>& bytes) {
  return flash_bytes(address, static_cast<uint32_t>(bytes.size())) == bytes;
}

uint32_t fletcher32(const uint8_t* data, size_t length) {
  uint32_t sum1 = 0xFFFF;
  uint32_t sum2 = 0xFFFF;
  size_t at = 0;
  while (at < length) {
    size_t block_end = std::min(length, at + kFoldBlock);
    for (; at < block_end; at += 2) {
      uint32_t high = at + 1 < length ? data[at + 1] : 0;
      sum1 += data[at] | high << 8;
      sum2 += sum1;
    }
    sum1 = (sum1 & 0xFFFF) + (sum1 >> 16);
    sum2 = (sum2 & 0xFFFF) + (sum2 >> 16);
  }
  sum1 = (sum1 & 0xFFFF) + (sum1 >> 16);
  sum2 = (sum2 & 0xFFFF) + (sum2 >> 16);
  return sum2 << 16 | sum1;
}

void power_cut() {
  g_touchpad.powered = false;
  forget_ram();
}

void power_up() {
  g_touchpad.powered = true;
  touchpad_boot();
  reappear_touchpad_interfaces();
}

bool command_of(uint8_t command_byte, Command* command) {
  switch (command_byte) {
    case 0x00:
      *command = Command::kWrite;
      return true;
    case 0x01:
      *command = Command::kFlush;
      return true;
    case 0x02:
      *command = Command::kValidate;
      return true;
    case 0x03:
      *command = Command::kReset;
      return true;
    case 0x04:
      *command = Command::kFormatImage;
      return true;
    case 0x05:
      *command = Command::kFormatRegion;
      return true;
    case 0x06:
      *command = Command::kInvoke;
      return true;
    case 0x08:
      *command = Command::kInfo;
      return true;
    default:
      return false;
  }
}

const char* command_name(Command command) {
  return kCommandNames[index_of(command)];
}

bool command_from_name(const char* name, Command* command) {
  for (size_t i = 0; i < kCommandCount; ++i) {
    if (std::strcmp(name, kCommandNames[i]) == 0) {
      *command = static_cast<Command>(i);
      return true;
    }
  }
  return false;
}

void touchpad_boot() {
  Touchpad& t = g_touchpad;
  forget_ram();
  t.mode = t.image_valid ? Mode::kFirmware : Mode::kBootloader;
  ++t.boots;
}

bool touchpad_set_feature(const uint8_t* report, uint32_t length) {
  Touchpad& t = g_touchpad;
  if (!t.powered) return false;
  Command command = Command::kStatus;
  bool known = command_of(report[1], &command);
  t.received.push_back({std::vector<uint8_t>(report, report + length), now(), true});
  if ((known && t.faults[index_of(command)].hit()) || starting(report)) {
    t.received.back().delivered = false;
    return false;
  }
  receive(report, known, command);
  return true;
}

bool touchpad_get_feature(uint8_t* report, uint32_t length) {
  Touchpad& t = g_touchpad;
  if (!t.powered || length != kReportLength) return false;
  bool answer = !t.pending_answer.empty();
  if (t.faults[index_of(answer ? Command::kInfo : Command::kStatus)].hit()) return false;
  if (starting(nullptr)) return false;
  if (!t.scripted_answers.empty()) {
    const std::vector<uint8_t>& scripted = t.scripted_answers.front();
    std::copy(scripted.begin(), scripted.begin() + std::min<size_t>(scripted.size(), length),
              report);
    t.scripted_answers.pop_front();
    t.pending_answer.clear();
    return true;
  }
  if (answer) {
    std::copy(t.pending_answer.begin(), t.pending_answer.end(), report);
    t.pending_answer.clear();
    return true;
  }
  ++t.status_reads;
  arm_status_faults(Command::kStatus);
  put_status(report, status_error());
  return true;
}

}  // namespace sim
