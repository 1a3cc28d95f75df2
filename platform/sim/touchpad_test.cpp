#include "platform/sim/touchpad.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/sim/device_test_support.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim.h"
#include "testing/sim_test.h"

namespace sim {
namespace {

using namespace sim::testing;

constexpr uint32_t kImageStart = 0x00021820;

std::vector<uint8_t> bytes_of(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// An image of `length` bytes whose word at offset 4 is `second_word`.
std::vector<uint8_t> image(uint32_t length, uint32_t second_word) {
  std::vector<uint8_t> bytes(length);
  for (uint32_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  for (uint32_t i = 0; i < 4 && 4 + i < length; ++i) {
    bytes[4 + i] = static_cast<uint8_t>(second_word >> (8 * i));
  }
  return bytes;
}

class TouchpadTest : public fwu::testing::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    device_ = open_touchpad();
    ASSERT_TRUE(device_.is_valid());
  }

  void set_up(const MachineSetup& setup) {
    device_.close();
    set_up_machine(setup);
    device_ = open_touchpad();
  }

  // Invoke bootloader, and the time the device takes to start it.
  void start_bootloader() {
    ASSERT_TRUE(send(device_, invoke_bootloader()));
    advance_ms(kBootMs);
  }

  // Sends `report` and waits the time its command keeps the device busy.
  void send_and_wait(const Report& report, uint64_t ms) {
    ASSERT_TRUE(send(device_, report));
    advance_ms(ms);
  }

  // Writes `bytes` as region 0 the way a careful host does, waiting what the device announces.
  void write_image(const std::vector<uint8_t>& bytes, uint8_t erase_delay, uint8_t write_rate) {
    uint32_t second_word =
        static_cast<uint32_t>(bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24);
    send_and_wait(format_image_for(touchpad().protocol, 1, second_word), kFormatImageMs);
    ASSERT_TRUE(send(device_, format_region(0, kImageStart, bytes)));
    advance_ms(erase_delay * ((bytes.size() >> 10) + 1));
    ASSERT_EQ(status_error(device_), kErrorNone);
    write_chunks(bytes, write_rate);
  }

  // Writes `bytes` from the region's start in 520-byte chunks, then flushes.
  void write_chunks(const std::vector<uint8_t>& bytes, uint8_t write_rate) {
    for (size_t at = 0; at < bytes.size(); at += 520) {
      size_t n = std::min<size_t>(520, bytes.size() - at);
      std::vector<uint8_t> chunk(bytes.begin() + at, bytes.begin() + at + n);
      ASSERT_TRUE(send(device_, write_data(kImageStart + static_cast<uint32_t>(at), chunk)));
      advance_ms(n * write_rate / 1000 + 1);
      ASSERT_EQ(status_error(device_), kErrorNone) << "chunk at " << at;
    }
    send_and_wait(flush(), kFlushMs);
    ASSERT_EQ(status_error(device_), kErrorNone);
  }

  // Validate image, and the status that follows once the check is done.
  Report validate_and_read() {
    if (!send(device_, validate())) return Report();
    advance_ms(kValidateMs);
    return get(device_);
  }

  static std::vector<std::string> irregularities() { return touchpad().irregularities; }

  platform::hid::Device device_;
};

TEST(Fletcher32Test, KnownValues) {
  std::vector<uint8_t> abcdef = bytes_of("abcdef");
  std::vector<uint8_t> abcdefgh = bytes_of("abcdefgh");
  std::vector<uint8_t> zeros(1000, 0);
  EXPECT_EQ(fletcher32(abcdef.data(), abcdef.size()), 0x56502D2Au);
  EXPECT_EQ(fletcher32(abcdefgh.data(), abcdefgh.size()), 0xEBE19591u);
  EXPECT_EQ(fletcher32(nullptr, 0), 0xFFFFFFFFu);
  EXPECT_EQ(fletcher32(zeros.data(), zeros.size()), 0xFFFFFFFFu);
  // An odd last byte counts as a word with a zero high byte.
  std::vector<uint8_t> odd = bytes_of("abcde");
  std::vector<uint8_t> padded = bytes_of(std::string("abcde") + '\0');
  EXPECT_EQ(fletcher32(odd.data(), odd.size()), fletcher32(padded.data(), padded.size()));
}

TEST(Fletcher32Test, LongOddRegion) {
  // Several 360-byte blocks and an odd last byte; the value comes from a separate computation.
  std::vector<uint8_t> bytes(1001);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
  EXPECT_EQ(fletcher32(bytes.data(), bytes.size()), 0x968FC571u);
}

TEST_F(TouchpadTest, StatusInEachProtocol) {
  Report status = get(device_);
  ASSERT_EQ(status.size(), kReportLength);
  EXPECT_EQ(status[0], 7);
  EXPECT_EQ(status[1], 0xC3);  // 0x5AC3, low byte first
  EXPECT_EQ(status[2], 0x5A);
  EXPECT_EQ(status[3], 9);
  EXPECT_EQ(status[4], kErrorNone);
  EXPECT_TRUE(image_valid_bit(status));
  EXPECT_EQ(status[7], 10);
  EXPECT_EQ(status[8], 50);

  MachineSetup setup;
  setup.protocol = 8;
  setup.write_rate = 20;
  setup.erase_delay = 70;
  set_up(setup);
  status = get(device_);
  EXPECT_EQ(status[3], 8);
  EXPECT_EQ(status[7], 20);
  EXPECT_EQ(status[8], 70);

  setup.protocol = 7;
  set_up(setup);
  status = get(device_);
  EXPECT_EQ(status[3], 7);
  EXPECT_EQ(status[6], 0);
  EXPECT_EQ(status[7], 0);
  EXPECT_EQ(status[8], 0);

  // The bootloader answers with its own signature.
  start_bootloader();
  status = get(device_);
  EXPECT_EQ(get16(status, 1), 0xC35A);
}

TEST_F(TouchpadTest, ReadMemoryAnswersInBothLayouts) {
  ASSERT_TRUE(send(device_, read_memory(kInfoAddress, 27)));
  Report answer = get(device_);
  ASSERT_EQ(answer.size(), kReportLength);
  EXPECT_EQ(get16(answer, 13), 27);
  EXPECT_EQ(get16(answer, 15), 0x3A7C);
  EXPECT_EQ(get16(answer, 17), 0x1042);
  EXPECT_EQ(get16(answer, 19), 16);
  EXPECT_EQ(answer[15 + 26], 0);
  // The answer is given once; the next read is a status again.
  EXPECT_EQ(get16(get(device_), 13), 0);

  MachineSetup setup;
  setup.protocol = 7;
  setup.big_endian_info = true;
  setup.firmware_version = 0x0102;
  set_up(setup);
  ASSERT_TRUE(send(device_, read_memory(kInfoAddress, 27)));
  answer = get(device_);
  EXPECT_EQ(answer[3], 7);
  EXPECT_EQ(get16(answer, 10), 27);
  EXPECT_EQ(answer[12], 0x3A);  // big-endian vendor ID
  EXPECT_EQ(answer[13], 0x7C);
  EXPECT_EQ(answer[16], 0x01);
  EXPECT_EQ(answer[17], 0x02);
  EXPECT_EQ(answer[12 + 26], 0x01);
}

TEST_F(TouchpadTest, ReadMemoryCountsAndRefusals) {
  MachineSetup setup;
  setup.info_length = 20;
  set_up(setup);
  ASSERT_TRUE(send(device_, read_memory(kInfoAddress, 27)));
  EXPECT_EQ(get16(get(device_), 13), 20);

  // Flash reads: as much as fits the answer and no more.
  ASSERT_TRUE(send(device_, read_memory(0x1000, 516)));
  Report answer = get(device_);
  EXPECT_EQ(answer[4], kErrorNone);
  EXPECT_EQ(get16(answer, 13), 516);
  ASSERT_TRUE(send(device_, read_memory(0x1000, 517)));
  answer = get(device_);
  EXPECT_EQ(answer[4], kErrorBadRead);
  EXPECT_EQ(get16(answer, 13), 0);
  ASSERT_TRUE(send(device_, read_memory(0x30000000, 4)));
  EXPECT_EQ(get(device_)[4], kErrorBadRead);

  // In its bootloader the device shows the bootloader's product ID and no firmware version.
  start_bootloader();
  ASSERT_TRUE(send(device_, read_memory(kInfoAddress, 27)));
  answer = get(device_);
  EXPECT_EQ(get16(answer, 17), 0xD0C0);
  EXPECT_EQ(get16(answer, 19), 0);
}

TEST_F(TouchpadTest, FullUpdateEndsInTheNewVersion) {
  std::vector<uint8_t> bytes = image(1561, 0x00021828);  // odd length: three chunks
  start_bootloader();
  EXPECT_EQ(status_error(device_), kErrorNone);
  write_image(bytes, 50, 10);
  EXPECT_TRUE(flash_equals(kImageStart, bytes));
  EXPECT_EQ(flash_bytes(kImageStart + 1561, 1), std::vector<uint8_t>{0xFF});

  Report status = validate_and_read();
  EXPECT_EQ(status[4], kErrorNone);
  EXPECT_TRUE(image_valid_bit(status));

  send_and_wait(reset_device(), kBootMs);
  status = get(device_);
  EXPECT_EQ(status[4], kErrorNone);
  EXPECT_EQ(get16(status, 1), 0x5AC3);
  EXPECT_EQ(touchpad().mode, Mode::kFirmware);
  ASSERT_TRUE(send(device_, read_memory(kInfoAddress, 27)));
  EXPECT_EQ(get16(get(device_), 19), 17);
  // The interface keeps the product ID it appeared with until it appears again.
  EXPECT_EQ(touchpad_product_id(), kFirmwareProductId);
  EXPECT_EQ(irregularities(), std::vector<std::string>{}) << "a careful host";
}

TEST_F(TouchpadTest, OlderProtocolWantsTheOlderFormatParametersAndDefaultTiming) {
  MachineSetup setup;
  setup.protocol = 7;
  setup.erase_delay = 200;  // not announced below 8, and not used
  set_up(setup);
  start_bootloader();
  ASSERT_TRUE(send(device_, format_image(1, 0, 0xFFFF, 0xFF)));
  EXPECT_EQ(status_error(device_), kErrorBadParameter);

  // Erase and write times follow 50 and 10: write_image reads a good status after waiting
  // just that long.
  std::vector<uint8_t> bytes = image(1024, 0x1234);
  write_image(bytes, 50, 10);
  EXPECT_TRUE(image_valid_bit(validate_and_read()));
}

TEST_F(TouchpadTest, TakesTimeAndRecordsWhatCameTooEarly) {
  // Invoke bootloader: it does not answer while it starts.
  ASSERT_TRUE(send(device_, invoke_bootloader()));
  advance_ms(kBootMs - 1);
  EXPECT_TRUE(get(device_).empty());
  EXPECT_FALSE(send(device_, format_image_for(9, 1, 0)));
  advance_ms(1);
  EXPECT_EQ(status_error(device_), kErrorNone);

  // Format image, then format region: erase 50 x ((2048 >> 10) + 1) = 150 ms.
  std::vector<uint8_t> bytes = image(2048, 0);
  ASSERT_TRUE(send(device_, format_image_for(9, 1, 0)));
  advance_ms(kFormatImageMs - 1);
  EXPECT_EQ(status_error(device_), kErrorBusy);
  advance_ms(1);
  ASSERT_TRUE(send(device_, format_region(0, kImageStart, bytes)));
  advance_ms(149);
  EXPECT_EQ(status_error(device_), kErrorBusy);
  // A write that comes too early is refused and not carried out, and says so until the next
  // command.
  std::vector<uint8_t> chunk(bytes.begin(), bytes.begin() + 520);
  ASSERT_TRUE(send(device_, write_data(kImageStart, chunk)));
  advance_ms(1);
  EXPECT_EQ(status_error(device_), kErrorBusy);
  send_and_wait(flush(), kFlushMs);
  EXPECT_EQ(status_error(device_), kErrorNone);
  EXPECT_EQ(flash_bytes(kImageStart, 1), std::vector<uint8_t>{0xFF});

  // After a write: (520 x 10) / 1000 + 1 = 6 ms; after a flush and a validate image, their own.
  ASSERT_TRUE(send(device_, write_data(kImageStart, chunk)));
  advance_ms(5);
  EXPECT_EQ(status_error(device_), kErrorBusy);
  advance_ms(1);
  EXPECT_EQ(status_error(device_), kErrorNone);
  ASSERT_TRUE(send(device_, flush()));
  advance_ms(kFlushMs - 1);
  EXPECT_EQ(status_error(device_), kErrorBusy);
  advance_ms(1);
  ASSERT_TRUE(send(device_, validate()));
  advance_ms(kValidateMs - 1);
  EXPECT_EQ(status_error(device_), kErrorBusy);
  advance_ms(1);
  EXPECT_EQ(status_error(device_), kErrorVerify);

  // Reset: it starts again.
  ASSERT_TRUE(send(device_, reset_device()));
  advance_ms(kBootMs - 1);
  EXPECT_TRUE(get(device_).empty());
  advance_ms(1);
  EXPECT_EQ(status_error(device_), kErrorNone);

  EXPECT_EQ(irregularities(), (std::vector<std::string>{
                                  "status read while starting",
                                  "format-image while starting",
                                  "status read while busy",
                                  "status read while busy",
                                  "write while busy",
                                  "status read while busy",
                                  "status read while busy",
                                  "status read while busy",
                                  "status read while starting",
                              }));
}

TEST_F(TouchpadTest, TimesFromTheSetup) {
  MachineSetup setup;
  setup.boot_ms = 30;
  setup.format_image_ms = 70;
  setup.flush_ms = 3;
  setup.validate_ms = 20;
  set_up(setup);
  ASSERT_TRUE(send(device_, invoke_bootloader()));
  EXPECT_EQ(touchpad().starting_until_ms, clock().now_ms + 30);
  advance_ms(30);
  ASSERT_TRUE(send(device_, format_image_for(9, 1, 0)));
  EXPECT_EQ(touchpad().busy_until_ms, clock().now_ms + 70);
  advance_ms(70);
  ASSERT_TRUE(send(device_, flush()));
  EXPECT_EQ(touchpad().busy_until_ms, clock().now_ms + 3);
  advance_ms(3);
  ASSERT_TRUE(send(device_, validate()));
  EXPECT_EQ(touchpad().busy_until_ms, clock().now_ms + 20);
}

TEST_F(TouchpadTest, RecordsWhatACarefulHostNeverDoes) {
  start_bootloader();
  Report with_tail = flush();
  with_tail[300] = 1;
  send_and_wait(with_tail, kFlushMs);
  send_and_wait(invoke_bootloader(), kBootMs);
  send_and_wait(format_image_for(9, 1, 0), kFormatImageMs);
  std::vector<uint8_t> bytes = image(2000, 0);
  send_and_wait(format_region(0, kImageStart, bytes), 50 * 2);
  std::vector<uint8_t> first(bytes.begin(), bytes.begin() + 520);
  send_and_wait(write_data(kImageStart, first), 6);
  send_and_wait(write_data(kImageStart, first), 6);  // the same write again: a retry
  send_and_wait(write_data(kImageStart + 8, first), 6);
  send_and_wait(validate(), kValidateMs);
  send_and_wait(validate(), kValidateMs);
  Report long_read = read_memory(kInfoAddress, 27);
  long_read[9] = 0x80;
  send_and_wait(long_read, 0);
  EXPECT_EQ(irregularities(), (std::vector<std::string>{
                                  "flush: byte 300 after its fields is not 0",
                                  "invoke bootloader while the bootloader runs",
                                  "write data overlaps an earlier write",
                                  "validate image before the written data is flushed",
                                  "validate image again after one format image",
                                  "validate image before the written data is flushed",
                                  "info: byte 9 after its fields is not 0",
                              }));
}

TEST_F(TouchpadTest, EveryCommandWantsZerosAfterItsFields) {
  start_bootloader();
  std::vector<uint8_t> data(100, 0x5A);
  struct Case {
    Report report;
    size_t fields_end;
    const char* name;
  };
  for (Case& c : std::vector<Case>{{write_data(kImageStart, data), 110, "write"},
                                   {flush(), 2, "flush"},
                                   {validate(), 3, "validate"},
                                   {reset_device(), 2, "reset"},
                                   {format_image_for(9, 1, 0), 12, "format-image"},
                                   {format_region(0, kImageStart, data), 15, "format-region"},
                                   {invoke_bootloader(), 2, "invoke"},
                                   {read_memory(kInfoAddress, 27), 8, "info"}}) {
    SCOPED_TRACE(c.name);
    touchpad().irregularities.clear();
    // The last byte of its fields is its own (a command byte stays what it is).
    if (c.fields_end > 2) c.report[c.fields_end - 1] |= 0x80;
    c.report[c.fields_end] = 1;
    ASSERT_TRUE(send(device_, c.report));
    advance_ms(1000);  // whatever it started, it has done
    ASSERT_FALSE(irregularities().empty());
    EXPECT_EQ(irregularities()[0], std::string(c.name) + ": byte " + std::to_string(c.fields_end) +
                                       " after its fields is not 0");
  }
}

TEST_F(TouchpadTest, RefusesMalformedCommands) {
  ASSERT_TRUE(send(device_, command(0x07)));
  EXPECT_EQ(status_error(device_), kErrorUnknownCommand);
  // Bootloader commands while the firmware runs.
  ASSERT_TRUE(send(device_, format_image_for(9, 1, 0)));
  EXPECT_EQ(status_error(device_), kErrorNotInBootloader);
  EXPECT_TRUE(touchpad().image_valid);

  start_bootloader();
  ASSERT_TRUE(send(device_, format_region(0, kImageStart, image(64, 0))));
  EXPECT_EQ(status_error(device_), kErrorNotFormatted);
  send_and_wait(format_image_for(9, 2, 0), kFormatImageMs);
  ASSERT_TRUE(send(device_, format_region(2, kImageStart, image(64, 0))));
  EXPECT_EQ(status_error(device_), kErrorBadParameter);  // index beyond the region count
  ASSERT_TRUE(send(device_, format_region(0, kImageStart, image(64, 0))));
  advance_ms(50);
  ASSERT_TRUE(send(device_, format_region(1, kImageStart + 32, image(64, 0))));
  EXPECT_EQ(status_error(device_), kErrorBadParameter);  // overlaps region 0
  ASSERT_TRUE(send(device_, write_data(kImageStart + 60, image(8, 0))));
  EXPECT_EQ(status_error(device_), kErrorOutsideRegion);  // runs past its end
  ASSERT_TRUE(send(device_, write_data(kImageStart, std::vector<uint8_t>(521, 0))));
  EXPECT_EQ(status_error(device_), kErrorOutsideRegion);
  Report too_long = write_data(kImageStart, {});
  put32(&too_long, 6, 522);
  ASSERT_TRUE(send(device_, too_long));
  EXPECT_EQ(status_error(device_), kErrorBadParameter);

  // Only one of two regions formatted: the image is not valid, and reset stays in the
  // bootloader.
  Report status = validate_and_read();
  EXPECT_EQ(status[4], kErrorVerify);
  EXPECT_FALSE(image_valid_bit(status));
  send_and_wait(reset_device(), kBootMs);
  EXPECT_EQ(get16(get(device_), 1), 0xC35A);
  // Every refusal but the failed check is the host's doing.
  EXPECT_EQ(irregularities(), (std::vector<std::string>{
                                  "command 7 refused with error 1",
                                  "format-image refused with error 2",
                                  "format-region refused with error 7",
                                  "format-region refused with error 4",
                                  "format-region refused with error 4",
                                  "write refused with error 5",
                                  "write refused with error 5",
                                  "write refused with error 4",
                              }));
}

TEST_F(TouchpadTest, ValidateWantsTheRecordedChecksumAndSecondWord) {
  start_bootloader();
  std::vector<uint8_t> bytes = image(600, 0xAABBCCDD);
  // A wrong second image word.
  send_and_wait(format_image_for(9, 1, 0x11223344), kFormatImageMs);
  ASSERT_TRUE(send(device_, format_region(0, kImageStart, bytes)));
  advance_ms(50);
  ASSERT_TRUE(send(device_, write_data(kImageStart, {bytes.begin(), bytes.begin() + 520})));
  advance_ms(6);
  ASSERT_TRUE(send(device_, write_data(kImageStart + 520, {bytes.begin() + 520, bytes.end()})));
  advance_ms(2);
  send_and_wait(flush(), kFlushMs);
  EXPECT_EQ(validate_and_read()[4], kErrorVerify);

  // Right word, but a chunk first written with other bytes: programming only clears bits, so
  // writing the right bytes over it afterwards does not mend it.
  write_image(bytes, 50, 10);
  ASSERT_EQ(validate_and_read()[4], kErrorNone);
  send_and_wait(format_image_for(9, 1, 0xAABBCCDD), kFormatImageMs);
  ASSERT_TRUE(send(device_, format_region(0, kImageStart, bytes)));
  advance_ms(50);
  std::vector<uint8_t> other(bytes.begin(), bytes.begin() + 520);
  for (uint8_t& b : other) b = static_cast<uint8_t>(b ^ 0x5A);
  ASSERT_TRUE(send(device_, write_data(kImageStart, other)));
  advance_ms(6);
  write_chunks(bytes, 10);
  EXPECT_EQ(validate_and_read()[4], kErrorVerify);
  EXPECT_EQ(irregularities(), std::vector<std::string>{"write data overlaps an earlier write"});

  // Data not flushed never reaches the flash.
  send_and_wait(format_image_for(9, 1, 0xAABBCCDD), kFormatImageMs);
  ASSERT_TRUE(send(device_, format_region(0, kImageStart, bytes)));
  advance_ms(50);
  ASSERT_TRUE(send(device_, write_data(kImageStart, {bytes.begin(), bytes.begin() + 520})));
  advance_ms(6);
  EXPECT_EQ(flash_bytes(kImageStart, 1), std::vector<uint8_t>{0xFF});
}

TEST_F(TouchpadTest, TheHidLayerRefusesOtherLengthsAndIds) {
  Report short_report(530, 0);
  short_report[0] = 7;
  short_report[1] = 0x03;
  EXPECT_FALSE(send(device_, short_report));
  Report other_id = reset_device();
  other_id[0] = 6;
  EXPECT_FALSE(send(device_, other_id));
  Report buffer(532, 0);
  buffer[0] = 7;
  EXPECT_FALSE(device_.get_feature(buffer.data(), 532));
  EXPECT_TRUE(touchpad().received.empty());
}

TEST_F(TouchpadTest, CountedCommandFaults) {
  start_bootloader();
  touchpad().faults[static_cast<size_t>(Command::kWrite)] = Fault::from_nth(2);
  touchpad().faults[static_cast<size_t>(Command::kStatus)] = Fault::next(2);
  send_and_wait(format_image_for(9, 1, 0), kFormatImageMs);
  ASSERT_TRUE(send(device_, format_region(0, kImageStart, image(2000, 0))));
  advance_ms(100);
  EXPECT_TRUE(send(device_, write_data(kImageStart, image(10, 0))));
  advance_ms(1);
  EXPECT_FALSE(send(device_, write_data(kImageStart + 10, image(10, 0))));
  EXPECT_FALSE(send(device_, write_data(kImageStart + 10, image(10, 0))));
  EXPECT_TRUE(get(device_).empty());
  EXPECT_TRUE(get(device_).empty());
  EXPECT_EQ(status_error(device_), kErrorNone);
  ASSERT_GE(touchpad().received.size(), 3u);
  EXPECT_FALSE(touchpad().received.back().delivered);

  // Error codes in the next status reads after a given command.
  touchpad().status_faults.push_back({Command::kFlush, 2, 0x42, false});
  EXPECT_EQ(status_error(device_), kErrorNone);
  send_and_wait(flush(), kFlushMs);
  EXPECT_EQ(status_error(device_), 0x42);
  EXPECT_EQ(status_error(device_), 0x42);
  EXPECT_EQ(status_error(device_), kErrorNone);
  EXPECT_EQ(irregularities(), std::vector<std::string>{}) << "failed calls are not the host's";
}

TEST_F(TouchpadTest, InfoFaultAndForeignSignature) {
  MachineSetup setup;
  setup.failures.push_back({Command::kInfo, 1});
  setup.firmware_signature = 0x0000;
  set_up(setup);
  EXPECT_FALSE(send(device_, read_memory(kInfoAddress, 27)));
  EXPECT_EQ(get16(get(device_), 1), 0x0000);
}

TEST_F(TouchpadTest, ImageNeverValid) {
  MachineSetup setup;
  setup.image_never_valid = true;
  set_up(setup);
  start_bootloader();
  std::vector<uint8_t> bytes = image(100, 0);
  write_image(bytes, 50, 10);
  EXPECT_FALSE(image_valid_bit(validate_and_read()));
  EXPECT_TRUE(flash_equals(kImageStart, bytes));
}

TEST_F(TouchpadTest, PowerCutAndPowerUp) {
  std::vector<uint8_t> bytes = image(1040, 0);
  start_bootloader();
  write_image(bytes, 50, 10);  // commands 2 to 6
  touchpad().power_cut_after = touchpad().commands_received + 1;
  // The last command before the cut is carried out; its data never reaches the flash.
  ASSERT_TRUE(send(device_, write_data(kImageStart, std::vector<uint8_t>(10, 0))));
  EXPECT_FALSE(touchpad().powered);
  EXPECT_FALSE(send(device_, flush()));
  EXPECT_TRUE(get(device_).empty());
  platform::hid::Attributes attributes;
  EXPECT_FALSE(device_.get_attributes(&attributes));
  EXPECT_FALSE(open_touchpad().is_valid());

  power_up();
  EXPECT_TRUE(flash_equals(kImageStart, bytes));
  // The image was formatted and never validated: the bootloader comes up, under its own
  // product ID, and the old handle is dead.
  EXPECT_EQ(touchpad().mode, Mode::kBootloader);
  EXPECT_TRUE(get(device_).empty());
  EXPECT_EQ(touchpad_product_id(), kBootloaderProductId);
  device_ = open_touchpad();
  ASSERT_TRUE(send(device_, write_data(kImageStart, image(4, 0))));
  EXPECT_EQ(status_error(device_), kErrorOutsideRegion);  // the region table did not survive
}

TEST_F(TouchpadTest, PowerUpWithAValidImageRunsTheFirmware) {
  touchpad().power_cut_after = 1;
  ASSERT_TRUE(send(device_, reset_device()));
  EXPECT_FALSE(touchpad().powered);
  power_up();
  EXPECT_EQ(touchpad().mode, Mode::kFirmware);
  EXPECT_EQ(touchpad_product_id(), kFirmwareProductId);
}

}  // namespace
}  // namespace sim
