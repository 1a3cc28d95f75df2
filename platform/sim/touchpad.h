// The emulated touchpad: the device behind HID feature report 7 of the touchpad's bootloader
// collection. It runs either its firmware or its bootloader, keeps a flash, announces its timing
// and refuses what a real bootloader refuses. Tests set its fields (configuration and faults)
// and read its record; the HID functions of the simulated backend reach it through
// set_feature / get_feature on an open handle of that collection.
//
// The report (531 bytes with the ID byte 7; multi-byte fields little-endian). A report of another
// length or another ID is refused by the HID layer (the call returns false) and never reaches
// the device.
//
//   Commands (a set feature report), byte 1 and then:
//     0x00 write data      2-5 address, 6-9 length (1..521), 10.. data
//     0x01 flush
//     0x02 validate image  2: 0x01
//     0x03 reset
//     0x04 format image    2: 0x00, 3 region count (>= 1), 4-7 second image word,
//                          8-9 format word, 10 format byte, 11: 0x07
//     0x05 format region   2 index, 3-6 start address, 7-10 length, 11-14 Fletcher-32
//     0x06 invoke bootloader
//     0x08 read memory     2-5 address, 6-7 byte count
//
//   Status (a get feature report): 1-2 signature, 3 protocol version, 4 error code, 5 flags
//   (bit 4: the image is valid), from protocol 8 on 6 extended byte (0), 7 write rate (ms per
//   1000 bytes), 8 erase delay (ms per 1 KiB unit); below 8 bytes 6-8 are 0. The rest is 0.
//
//   Read memory answer (the get that follows a read memory command, once): the status bytes,
//   then below protocol 8: 6-9 the address, 10-11 the byte count, 12.. the data; from 8 on:
//   6-8 as in the status, 9-12 the address, 13-14 the byte count, 15.. the data.
//
// Behaviour where the protocol leaves the device free, as this device does it:
// - The error code in a status is the result of the last command received, kept until the next
//   command. While the device is busy, a status read reports kErrorBusy instead, and a command
//   is refused with kErrorBusy and not carried out.
// - Busy time, from the command's arrival: format region erase delay x ((length >> 10) + 1) ms;
//   write data (length x write rate) / 1000 + 1 ms; below protocol 8 the device works with erase
//   delay 50 and write rate 10, whatever it is set to. Format image (it erases the page that
//   marks the image valid) 40 ms, flush (the last page) 8 ms, validate image (the checksums) 8 ms.
// - Reset and invoke bootloader restart it: for 8 ms it does not answer at all, so every HID
//   call to it fails, as an I2C device that is starting does not acknowledge its address. The
//   host reads the status 10 ms after a reset at the earliest, and waits 100 ms after invoke
//   bootloader and after its last reset. Power-up and a start by the transport device take no
//   visible time: the interfaces appear only once the device answers.
// - Running the firmware it takes reset, invoke bootloader and read memory; every bootloader
//   command is refused with kErrorNotInBootloader. In its bootloader invoke bootloader is
//   accepted and changes nothing.
// - Format image wants the parameter set of its protocol: from 9 on format word 0xFFFF and format
//   byte 0xFF, below 9 format word 32 and format byte 44. It invalidates the image and forgets
//   every region; it does not erase.
// - Format region wants format image first, an index below the region count, a length above 0,
//   an area below 0x20000000 that overlaps no other formatted region. It erases the area
//   (0xFF) and records the length and checksum. Formatting an index again replaces it.
// - Write data wants the whole range inside one formatted region. Data reaches the flash only at
//   flush; programming can only clear bits (flash & data), as NOR flash does, so a chunk written
//   twice with the same bytes stays right and a wrong one spoils it.
// - Validate image sets the image valid only when every one of the region count regions is
//   formatted, the flash bytes of each give its recorded Fletcher-32 (an odd length: the last
//   byte is taken as a word with a zero high byte), and the second image word equals the 32-bit
//   word at offset 4 of region 0. Otherwise the image stays invalid and the error is
//   kErrorVerify. A valid image carries `new_version`.
// - Reset (and power-up, and the transport device starting the device again) boots the firmware
//   when the image is valid, else the bootloader. Everything the bootloader held in RAM (region
//   table, unflushed data, a pending read answer, busy time) is lost.
// - Read memory: the 27-byte device information block at 0x2000080A (vendor ID 0x3A7C, the
//   product ID of the mode it runs, the firmware version in the firmware and 0 in the
//   bootloader, byte 26 bit 0 the big-endian flag), or flash bytes below 0x20000000. The
//   answer's byte count is what the device has (never more than asked). A count that does not
//   fit the answer, or an address elsewhere, gives kErrorBadRead and a count of 0.
//
// Irregularities: what a careful host never does. The device records each one (and otherwise
// behaves as above): a status read or a command while it starts or is busy; a non-zero byte
// after a command's fields; a command it refuses (any error but kErrorVerify, which a host
// cannot foresee); a write that overlaps an earlier one since its region was formatted, unless
// it repeats that write byte for byte (the host's retry); invoke bootloader while the bootloader
// runs; validate image twice after one format image, or while written data is not flushed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/fault.h"

namespace sim {

constexpr uint16_t kTouchpadVendorId = 0x3A7C;
constexpr uint16_t kFirmwareProductId = 0x1042;
constexpr uint16_t kBootloaderProductId = 0xD0C0;
constexpr uint8_t kReportId = 7;
constexpr uint32_t kReportLength = 531;
constexpr uint32_t kInfoAddress = 0x2000080A;
constexpr uint32_t kInfoLength = 27;
constexpr uint32_t kFlashEnd = 0x20000000;  // flash addresses are below this

// Error codes of the status byte 4.
constexpr uint8_t kErrorNone = 0x00;
constexpr uint8_t kErrorUnknownCommand = 0x01;
constexpr uint8_t kErrorNotInBootloader = 0x02;  // a bootloader command while the firmware runs
constexpr uint8_t kErrorBusy = 0x03;
constexpr uint8_t kErrorBadParameter = 0x04;   // a field out of range or of the wrong protocol
constexpr uint8_t kErrorOutsideRegion = 0x05;  // write data not inside one formatted region
constexpr uint8_t kErrorBadRead = 0x06;
constexpr uint8_t kErrorNotFormatted = 0x07;  // format region before format image
constexpr uint8_t kErrorVerify = 0x08;        // validate image found the image invalid

constexpr uint8_t kFlagImageValid = 0x10;

// Default times, in ms.
constexpr uint32_t kBootMs = 8;
constexpr uint32_t kFormatImageMs = 40;
constexpr uint32_t kFlushMs = 8;
constexpr uint32_t kValidateMs = 8;

// The commands a test can aim a fault at. kStatus is a status read; kInfo is the read memory
// command and the read of its answer.
enum class Command {
  kStatus,
  kInfo,
  kReset,
  kInvoke,
  kFormatImage,
  kFormatRegion,
  kWrite,
  kFlush,
  kValidate,
};
constexpr size_t kCommandCount = 9;

enum class Mode { kFirmware, kBootloader };

// From the first `command` received on, the next `reads` status reads report `error_code`.
struct StatusFault {
  Command command = Command::kStatus;
  uint32_t reads = 0;
  uint8_t error_code = kErrorBusy;
  bool armed = false;  // state: the command has been received
};

struct FormattedRegion {
  uint32_t start = 0;
  uint32_t length = 0;
  uint32_t checksum = 0;
};

struct ReceivedReport {
  std::vector<uint8_t> bytes;  // the whole report, ID byte first
  uint64_t at_ms = 0;          // virtual time it arrived
  bool delivered = true;       // false when a fault made the HID call fail
};

struct Touchpad {
  // ---- Configuration (tests and the machine setup set these) ----
  uint16_t firmware_signature = 0x5AC3;
  uint16_t bootloader_signature = 0xC35A;
  uint8_t protocol = 9;  // 7, 8 or 9
  uint8_t write_rate = 10;
  uint8_t erase_delay = 50;
  uint16_t firmware_version = 16;  // the version of the firmware the flash holds
  uint16_t new_version = 17;       // the version a newly validated image carries
  bool big_endian_info = false;
  uint32_t info_length = kInfoLength;  // the length of the device information block
  bool image_never_valid = false;      // validate image never finds the image valid
  // Times in ms (see above): starting after reset and invoke bootloader, and busy after format
  // image, flush and validate image.
  uint32_t boot_ms = kBootMs;
  uint32_t format_image_ms = kFormatImageMs;
  uint32_t flush_ms = kFlushMs;
  uint32_t validate_ms = kValidateMs;

  // ---- Faults ----
  // The HID call of a command fails (HidD_SetFeature / HidD_GetFeature return false; a failed
  // send never reaches the device). Indexed by Command.
  std::array<Fault, kCommandCount> faults;
  std::vector<StatusFault> status_faults;
  // Power is cut right after the Nth command received (counting from 1); 0: never.
  uint32_t power_cut_after = 0;
  // Raw answers (whole reports, ID byte first) that the next gets return instead of the
  // device's own: for a host test that needs bytes this device would never send.
  std::deque<std::vector<uint8_t>> scripted_answers;

  // ---- State ----
  bool powered = true;
  Mode mode = Mode::kFirmware;
  bool image_valid = true;
  uint8_t last_error = kErrorNone;
  uint64_t busy_until_ms = 0;
  uint64_t starting_until_ms = 0;  // it does not answer before this time
  bool image_formatted = false;    // format image received since the bootloader started
  uint8_t region_count = 0;
  uint32_t second_image_word = 0;
  uint16_t format_word = 0;
  uint8_t format_byte = 0;
  std::map<uint8_t, FormattedRegion> regions;  // by index
  std::map<uint32_t, uint8_t> flash;           // programmed bytes; any other address reads 0xFF
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> unflushed;
  std::vector<uint8_t> pending_answer;  // a read memory answer waiting for the next get
  // Writes since their region was formatted (address, bytes), and whether the image has been
  // validated since the last format image.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> writes;
  bool validated = false;

  // ---- Record ----
  std::vector<ReceivedReport> received;  // every set feature report that reached the HID layer
  uint32_t commands_received = 0;
  uint32_t status_reads = 0;
  uint32_t boots = 0;  // resets, power-ups and restarts by the transport device
  std::vector<std::string> irregularities;  // one line each, in the order they happened
};
Touchpad& touchpad();

// The running firmware's version as the device reports it (0 in the bootloader).
uint16_t running_version();
// The product ID under which the touchpad appears when it appears now.
uint16_t product_id_for_mode();
// Effective timing: what the device works with (50 and 10 below protocol 8).
uint8_t effective_erase_delay();
uint8_t effective_write_rate();

// `length` bytes of flash from `address` (0xFF where nothing is programmed).
std::vector<uint8_t> flash_bytes(uint32_t address, uint32_t length);
// True when the flash from `address` holds exactly `bytes`.
bool flash_equals(uint32_t address, const std::vector<uint8_t>& bytes);

// Fletcher-32 as the device computes it: 16-bit little-endian words, sums from 0xFFFF, folded
// every 360 bytes and at the end; an odd last byte is a word with a zero high byte.
uint32_t fletcher32(const uint8_t* data, size_t length);

// Cuts the power now: every HID call to the touchpad fails until power_up().
void power_cut();
// Power returns: the device boots (firmware when the image is valid, else bootloader) and its
// interfaces appear again under the matching product ID; open handles of them are dead.
void power_up();

// The command a report's byte 1 names (for the fault tables); false for an unknown byte.
bool command_of(uint8_t command_byte, Command* command);
// "status", "info", "reset", "invoke", "format-image", "format-region", "write", "flush",
// "validate".
const char* command_name(Command command);
bool command_from_name(const char* name, Command* command);

}  // namespace sim
