#include "device/bootloader_channel.h"

#include <random>
#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

std::vector<uint8_t> bytes_of(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(Fletcher32Test, KnownSums) {
  EXPECT_EQ(fletcher32(bytes_of("abcdef")), 0x56502D2Au);
  EXPECT_EQ(fletcher32(bytes_of("abcdefgh")), 0xEBE19591u);
  EXPECT_EQ(fletcher32({}), 0xFFFFFFFFu);
  EXPECT_EQ(fletcher32(std::vector<uint8_t>(1000, 0)), 0xFFFFFFFFu);
}

// Fletcher-32 as plain arithmetic modulo 65535: folding a sum keeps it congruent and never makes
// it 0, so each half of the checksum is its sum's remainder, with 0xFFFF standing for 0. An odd
// last byte is a word of its own.
uint32_t modular_fletcher32(const std::vector<uint8_t>& data) {
  uint64_t sum1 = 0xFFFF;
  uint64_t sum2 = 0xFFFF;
  for (size_t i = 0; i < data.size(); i += 2) {
    uint64_t word = data[i] + (i + 1 < data.size() ? data[i + 1] * 256u : 0u);
    sum1 = (sum1 + word) % 0xFFFF;
    sum2 = (sum2 + sum1) % 0xFFFF;
  }
  auto half = [](uint64_t sum) { return static_cast<uint32_t>(sum == 0 ? 0xFFFF : sum); };
  return half(sum2) << 16 | half(sum1);
}

TEST(Fletcher32Test, AgreesWithModularArithmeticOnRandomInputs) {
  // Lengths around and across the 360-byte folds; words of all ones push both sums as high as
  // they go between folds.
  std::mt19937 random(1234);
  for (int round = 0; round < 400; ++round) {
    size_t length = round < 8 ? 64880 + round : random() % 2000;
    std::vector<uint8_t> data(length);
    bool all_ones = round % 4 == 0;
    for (uint8_t& byte : data) byte = all_ones ? 0xFF : static_cast<uint8_t>(random());
    SCOPED_TRACE(length);
    uint32_t expected = modular_fletcher32(data);
    EXPECT_EQ(fletcher32(data), expected);
    EXPECT_EQ(sim::fletcher32(data.data(), data.size()), expected) << "the emulated touchpad's";
  }
}

class BootloaderChannelTest : public testing::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    ASSERT_EQ(channel_.connection().open(kNormalModeProductId, kBootloaderReportId), 0);
  }

  static const std::vector<uint8_t>& last_sent() { return sim::touchpad().received.back().bytes; }

  // The device's next answer, as raw report bytes (the ID byte first).
  static void answer_next(std::vector<uint8_t> report) {
    report.resize(kBootloaderReportLength);
    sim::touchpad().scripted_answers.push_back(report);
  }

  static void expect_report(const std::vector<uint8_t>& start) {
    const std::vector<uint8_t>& sent = last_sent();
    ASSERT_EQ(sent.size(), 531u);
    EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + static_cast<long>(start.size())),
              start);
    for (size_t i = start.size(); i < sent.size(); ++i) {
      ASSERT_EQ(sent[i], 0) << "byte " << i;
    }
  }

  BootloaderChannel channel_{kBootloaderReportLength, kBootloaderReportId};
};

TEST_F(BootloaderChannelTest, CommandLayouts) {
  ASSERT_EQ(channel_.format_image(1, 0x00021828, 255, 0xFFFF), 0);
  expect_report({0x07, 0x04, 0x00, 0x01, 0x28, 0x18, 0x02, 0x00, 0xFF, 0xFF, 0xFF, 0x07});
  ASSERT_EQ(channel_.format_image(1, 0x00021828, 44, 32), 0);
  expect_report({0x07, 0x04, 0x00, 0x01, 0x28, 0x18, 0x02, 0x00, 0x20, 0x00, 0x2C, 0x07});
  ASSERT_EQ(channel_.format_region(2, 0x00021820, bytes_of("abcdef")), 0);
  expect_report(
      {0x07, 0x05, 0x02, 0x20, 0x18, 0x02, 0x00, 0x06, 0x00, 0x00, 0x00, 0x2A, 0x2D, 0x50, 0x56});
  ASSERT_EQ(channel_.flush(), 0);
  expect_report({0x07, 0x01});
  ASSERT_EQ(channel_.validate_image(), 0);
  expect_report({0x07, 0x02, 0x01});
  ASSERT_EQ(channel_.reset(), 0);
  expect_report({0x07, 0x03});
  // The reset restarted the firmware behind the same connection; once it has started, nothing
  // else is needed.
  sim::advance_ms(sim::kBootMs);
  ASSERT_EQ(channel_.invoke_bootloader(), 0);
  expect_report({0x07, 0x06});
}

TEST_F(BootloaderChannelTest, WriteDataCarriesAtMost521Bytes) {
  std::vector<uint8_t> data(520);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
  ASSERT_EQ(channel_.write_data(0x00021820, 520, data), 0);
  std::vector<uint8_t> expected = {0x07, 0x00, 0x20, 0x18, 0x02, 0x00, 0x08, 0x02, 0x00, 0x00};
  expected.insert(expected.end(), data.begin(), data.end());
  expected.push_back(0);
  EXPECT_EQ(last_sent(), expected);

  data.resize(521, 0x77);
  ASSERT_EQ(channel_.write_data(0x100, 521, data), 0);
  EXPECT_EQ(last_sent().back(), 0x77);
  size_t sent = sim::touchpad().received.size();
  data.push_back(0x78);
  EXPECT_EQ(channel_.write_data(0x100, 522, data), kCommandTooLong);
  EXPECT_EQ(sim::touchpad().received.size(), sent);
}

TEST_F(BootloaderChannelTest, OddRegionIsRefusedBeforeItIsSent) {
  size_t sent = sim::touchpad().received.size();
  EXPECT_EQ(channel_.format_region(0, 0x1000, bytes_of("abcde")), kCommandTooLong);
  EXPECT_EQ(sim::touchpad().received.size(), sent);
}

TEST_F(BootloaderChannelTest, StatusRecordFields) {
  StatusRecord status;
  answer_next({7, 0x6C, 0x42, 8, 0x02, 0x3F, 0xA1, 0x0B, 0x31});
  ASSERT_EQ(channel_.get_status(&status), 0);
  EXPECT_EQ(status.signature, 0x426C);
  EXPECT_EQ(status.protocol_version, 8);
  EXPECT_EQ(status.error_code, 2);
  EXPECT_EQ(status.flags, 0x3F);
  EXPECT_EQ(status.flag_bit0, 1);
  EXPECT_EQ(status.flag_state, 2);
  EXPECT_EQ(status.flag_bit3, 1);
  EXPECT_EQ(status.image_valid, 1);
  EXPECT_EQ(status.flag_bit5, 1);
  EXPECT_EQ(status.extended, 0xA1);
  EXPECT_EQ(status.write_rate, 0x0B);
  EXPECT_EQ(status.erase_delay, 0x31);

  answer_next({7, 0xC3, 0x5A, 7, 0x01, 0x02, 0xA1, 0x0B, 0x31});
  ASSERT_EQ(channel_.get_status(&status), 0);
  EXPECT_EQ(status.signature, 0x5AC3);
  EXPECT_EQ(status.flag_state, 1) << "flag bits set, error bits 1 and 2 clear";
  EXPECT_EQ(status.image_valid, 0);
  EXPECT_EQ(status.extended, 0);
  EXPECT_EQ(status.write_rate, 0) << "protocol 7 carries no timing";
  EXPECT_EQ(status.erase_delay, 0);
}

TEST_F(BootloaderChannelTest, UnknownSignatureChangesOnlyTheSignature) {
  StatusRecord status;
  status.protocol_version = 9;
  status.error_code = 4;
  status.write_rate = 10;
  answer_next({7, 0x00, 0x00, 8, 0x00, 0x10});
  EXPECT_EQ(channel_.get_status(&status), kBadSignature);
  EXPECT_EQ(status.signature, 0);
  EXPECT_EQ(status.protocol_version, 9);
  EXPECT_EQ(status.error_code, 4);
  EXPECT_EQ(status.write_rate, 10);

  sim::touchpad().faults[static_cast<size_t>(sim::Command::kStatus)] = sim::Fault::next(1);
  status.signature = 0x1234;
  EXPECT_EQ(channel_.get_status(&status), kReadFailed);
  EXPECT_EQ(status.signature, 0x1234);
}

TEST_F(BootloaderChannelTest, DeviceInformationFromTheEmulatedTouchpad) {
  for (uint8_t protocol : {7, 8, 9}) {
    SCOPED_TRACE(static_cast<int>(protocol));
    sim::touchpad().protocol = protocol;
    std::vector<uint8_t> info;
    ASSERT_EQ(channel_.read_device_information(&info), 0);
    ASSERT_EQ(info.size(), 27u);
    EXPECT_EQ(info[0] | info[1] << 8, 0x3A7C);
    EXPECT_EQ(info[4] | info[5] << 8, 16);
    EXPECT_EQ(info[26] & 1, 0);
    const std::vector<uint8_t>& request = last_sent();
    EXPECT_EQ(std::vector<uint8_t>(request.begin(), request.begin() + 8),
              (std::vector<uint8_t>{0x07, 0x08, 0x0A, 0x08, 0x00, 0x20, 0x1B, 0x00}));
  }
}

TEST_F(BootloaderChannelTest, ReadMemoryAnswerLayoutFollowsItsOwnProtocolByte) {
  std::vector<uint8_t> answer(531);
  for (size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(i);
  answer[0] = 7;
  std::vector<uint8_t> info;

  answer[3] = 8;
  answer[13] = 27;
  answer[14] = 0;
  answer_next(answer);
  ASSERT_EQ(channel_.read_device_information(&info), 0);
  ASSERT_EQ(info.size(), 27u);
  EXPECT_EQ(info.front(), 15);
  EXPECT_EQ(info.back(), 41);

  answer[3] = 7;
  answer[10] = 27;
  answer[11] = 0;
  answer_next(answer);
  ASSERT_EQ(channel_.read_device_information(&info), 0);
  ASSERT_EQ(info.size(), 27u);
  EXPECT_EQ(info.front(), 12);
  EXPECT_EQ(info.back(), 38);
}

TEST_F(BootloaderChannelTest, ByteCountMustFitTheReport) {
  std::vector<uint8_t> answer(531, 0x5A);
  answer[0] = 7;
  std::vector<uint8_t> info;
  struct Case {
    uint8_t protocol;
    size_t count_at;
    uint16_t count;
    bool fits;
  };
  for (const Case& c : {Case{7, 10, 519, true}, Case{7, 10, 520, false}, Case{8, 13, 516, true},
                        Case{8, 13, 517, false}, Case{9, 13, 0xFFFF, false}}) {
    SCOPED_TRACE(c.count);
    answer[3] = c.protocol;
    answer[c.count_at] = static_cast<uint8_t>(c.count & 0xFF);
    answer[c.count_at + 1] = static_cast<uint8_t>(c.count >> 8);
    info.assign(3, 1);
    answer_next(answer);
    if (c.fits) {
      ASSERT_EQ(channel_.read_device_information(&info), 0);
      EXPECT_EQ(info.size(), c.count);
    } else {
      EXPECT_EQ(channel_.read_device_information(&info), kReadFailed);
      EXPECT_TRUE(info.empty());
    }
  }
}

TEST_F(BootloaderChannelTest, FailedSendOrReadOfTheMemoryRequest) {
  std::vector<uint8_t> info(3, 1);
  sim::touchpad().faults[static_cast<size_t>(sim::Command::kInfo)] = sim::Fault::next(1);
  EXPECT_EQ(channel_.read_device_information(&info), kReadFailed);
  EXPECT_EQ(info.size(), 3u);
  EXPECT_EQ(channel_.reset(), 0);
  channel_.connection().close();
  EXPECT_EQ(channel_.reset(), kSendFailed);
  StatusRecord status;
  EXPECT_EQ(channel_.get_status(&status), kReadFailed);
}

}  // namespace
}  // namespace fwu
