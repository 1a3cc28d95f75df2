// The touchpad's answers come from the fuzzer: each 48 bytes of the input are the start of one
// feature report that a read returns (the rest of the report is zero), which covers the status
// fields, the read memory header and the device information block.
//
// First the status and device information reads on their own: every answer ends in a result the
// caller knows, a record filled as its contract says, and never more bytes than the report holds.
// Then a whole silent update against the same answers (the device answers itself once they are
// used up): it ends with one of the program's result codes and gives back every handle. The
// update carries a small image of two regions, so that an input runs in well under a millisecond
// and the fuzzer reaches the later steps often.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/program.h"
#include "app/settings.h"
#include "app/update.h"
#include "device/bootloader_channel.h"
#include "platform/sim/device_tree.h"
#include "platform/sim/hid_world.h"
#include "platform/sim/sim.h"
#include "platform/sim/touchpad.h"
#include "testing/process_state.h"

namespace {

constexpr size_t kAnswerBytes = 48;
constexpr size_t kMaxAnswers = 64;

// Two regions: 16 bytes at 0x1000 (a first region long enough to announce) and 4 at 0x2000.
constexpr char kSmallImage[] =
    ":10100000000102030405060708090A0B0C0D0E0F68\r\n"
    ":04200000DEADBEEFA4\r\n"
    ":00000001FF\r\n";

void require(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::vector<uint8_t>> answers_of(const uint8_t* data, size_t size) {
  std::vector<std::vector<uint8_t>> answers;
  for (size_t at = 0; at < size && answers.size() < kMaxAnswers; at += kAnswerBytes) {
    std::vector<uint8_t> answer(sim::kReportLength, 0);
    std::copy(data + at, data + std::min(size, at + kAnswerBytes), answer.begin());
    answers.push_back(std::move(answer));
  }
  return answers;
}

bool known_signature(uint16_t signature) {
  return std::find(std::begin(fwu::kSignatures), std::end(fwu::kSignatures), signature) !=
         std::end(fwu::kSignatures);
}

void check_status(fwu::BootloaderChannel& channel, fwu::StatusRecord* status) {
  fwu::StatusRecord before = *status;
  int result = channel.get_status(status);
  require(result == 0 || result == fwu::kBadSignature);
  if (result == fwu::kBadSignature) {
    require(!known_signature(status->signature));
    before.signature = status->signature;
    require(std::memcmp(&before, status, sizeof before) == 0);
    return;
  }
  require(known_signature(status->signature));
  require(status->image_valid <= 1 && status->flag_state <= 2);
  if (status->protocol_version < 8) {
    require(status->extended == 0 && status->write_rate == 0 && status->erase_delay == 0);
  }
}

void check_information(fwu::BootloaderChannel& channel, const std::vector<uint8_t>& answer) {
  std::vector<uint8_t> info = {0xAA};
  int result = channel.read_device_information(&info);
  require(result == 0 || result == fwu::kReadFailed);
  if (result != 0) {
    require(info.empty());
    return;
  }
  size_t data_at = answer[3] >= 8 ? 15 : 12;
  require(data_at + info.size() <= sim::kReportLength);
  require(std::equal(info.begin(), info.end(), answer.begin() + static_cast<ptrdiff_t>(data_at)));
}

// Each answer's byte 0 (the report ID, which the transport never copies) picks the read.
void check_reads(const std::vector<std::vector<uint8_t>>& answers) {
  sim::reset();
  fwu::BootloaderChannel channel(fwu::kBootloaderReportLength, sim::kReportId);
  require(channel.connection().open(fwu::kNormalModeProductId, sim::kReportId) == 0);
  fwu::StatusRecord status;
  for (const std::vector<uint8_t>& answer : answers) {
    sim::touchpad().scripted_answers.push_back(answer);
    if (answer[0] & 1) {
      check_information(channel, answer);
    } else {
      check_status(channel, &status);
    }
  }
}

void check_update(const std::vector<std::vector<uint8_t>>& answers) {
  sim::reset();
  fwu::testing::reset_process_state();
  sim::set_firmware_resource(kSmallImage);
  sim::touchpad().scripted_answers.assign(answers.begin(), answers.end());
  fwu::read_command_line("/S");
  int result = fwu::run_update();
  require(result == fwu::kExitUpdated || result == fwu::kExitUpdatedRestart ||
          result == fwu::kExitUpdateFailed || result == fwu::kExitSameVersion ||
          result == fwu::kExitNewerVersion);
  const sim::HidWorld& hid = sim::hid_world();
  require(hid.open_handles == 0 && hid.preparsed_data == 0 && hid.interface_lists == 0 &&
          hid.interface_paths == 0 && sim::device_tree().device_lists == 0);
  require(sim::ui().boxes.empty());
  // Without answers of its own the fuzzer must see the touchpad updated, or the harness is wrong.
  if (answers.empty()) require(result == fwu::kExitUpdated && sim::running_version() == 17);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::vector<uint8_t>> answers = answers_of(data, size);
  check_reads(answers);
  check_update(answers);
  return 0;
}
