#include "device/device_connection.h"

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

class DeviceConnectionTest : public testing::SimTest {
 protected:
  static sim::HidInterface& touchpad_interface() {
    return sim::hid_world().interfaces[static_cast<size_t>(sim::touchpad_interface())];
  }

  static std::u16string opened_path(const DeviceConnection& connection) {
    return connection.interface_path().device_path();
  }

  // Everything the platform handed out has been given back.
  static void expect_nothing_held() {
    const sim::HidWorld& world = sim::hid_world();
    EXPECT_EQ(world.open_handles, 0);
    EXPECT_EQ(world.preparsed_data, 0);
    EXPECT_EQ(world.interface_lists, 0);
    EXPECT_EQ(world.interface_paths, 0);
  }
};

TEST_F(DeviceConnectionTest, OpensTheCollectionWithTheReportWhereverItStands) {
  std::u16string wanted = touchpad_interface().path;
  std::vector<sim::HidInterface>& list = sim::hid_world().interfaces;
  for (size_t position = 0; position < list.size(); ++position) {
    SCOPED_TRACE(position);
    std::swap(list[position], list[static_cast<size_t>(sim::touchpad_interface())]);
    DeviceConnection connection;
    ASSERT_EQ(connection.open(kNormalModeProductId, kBootloaderReportId), 0);
    EXPECT_TRUE(connection.is_open());
    EXPECT_EQ(opened_path(connection), wanted);
    EXPECT_EQ(connection.vendor_id(), 0x3A7C);
    EXPECT_EQ(connection.product_id(), 0x1042);
    EXPECT_EQ(connection.version_number(), touchpad_interface().version_number);
    EXPECT_EQ(connection.report_id(), 7);
    EXPECT_EQ(sim::hid_world().open_handles, 1);
    EXPECT_EQ(sim::hid_world().preparsed_data, 0);
    EXPECT_EQ(sim::hid_world().interface_lists, 0);
  }
}

TEST_F(DeviceConnectionTest, FirstOfTwoEligibleInterfacesWins) {
  sim::HidInterface copy = touchpad_interface();
  copy.path += u"-second";
  copy.touchpad = false;
  auto& list = sim::hid_world().interfaces;
  list.insert(list.begin() + sim::touchpad_interface() + 1, copy);
  DeviceConnection connection;
  ASSERT_EQ(connection.open(kNormalModeProductId, kBootloaderReportId), 0);
  EXPECT_EQ(opened_path(connection), touchpad_interface().path);

  list.insert(list.begin(), copy);
  connection.close();
  ASSERT_EQ(connection.open(kNormalModeProductId, kBootloaderReportId), 0);
  EXPECT_EQ(opened_path(connection), copy.path);
}

TEST_F(DeviceConnectionTest, InterfacesWithoutAFeatureValueCapabilityForTheReportAreNotEligible) {
  DeviceConnection connection;
  sim::HidInterface& touchpad = touchpad_interface();
  touchpad.feature_value_report_ids = {1, 2, 3};
  EXPECT_EQ(connection.open(kNormalModeProductId, kBootloaderReportId), -1);
  touchpad.feature_value_report_ids = {};
  EXPECT_EQ(connection.open(kNormalModeProductId, kBootloaderReportId), -1);
  // Report 7 beyond the entries the platform returns.
  touchpad.feature_value_report_ids = {1, 7};
  touchpad.value_caps_limit = 1;
  EXPECT_EQ(connection.open(kNormalModeProductId, kBootloaderReportId), -1);
  EXPECT_FALSE(connection.is_open());
  EXPECT_FALSE(connection.has_device_handle());
  EXPECT_FALSE(connection.interface_path().is_present());
  expect_nothing_held();
}

TEST_F(DeviceConnectionTest, EveryFailingQueryOnlyMakesThatInterfaceIneligible) {
  sim::HidInterface spare = touchpad_interface();
  spare.path += u"-spare";
  sim::hid_world().interfaces.push_back(spare);
  for (sim::Fault sim::HidInterface::*fault :
       {&sim::HidInterface::detail_size, &sim::HidInterface::detail_read, &sim::HidInterface::open,
        &sim::HidInterface::attributes, &sim::HidInterface::preparsed, &sim::HidInterface::caps,
        &sim::HidInterface::value_caps}) {
    touchpad_interface().*fault = sim::Fault::always();
    DeviceConnection connection;
    EXPECT_EQ(connection.open(kNormalModeProductId, kBootloaderReportId), 0);
    EXPECT_EQ(opened_path(connection), spare.path);
    connection.close();
    expect_nothing_held();
    touchpad_interface().*fault = sim::Fault();
  }
}

TEST_F(DeviceConnectionTest, AnotherVendorsProductIdIsNotEnoughAndNothingIsLeftOpen) {
  sim::MachineSetup setup;
  setup.device = sim::DeviceStart::kNone;
  sim::set_up_machine(setup);
  DeviceConnection connection;
  EXPECT_EQ(connection.open(kNormalModeProductId, kBootloaderReportId), -1);
  EXPECT_EQ(eligible_device_check(), 0);
  EXPECT_FALSE(bootloader_mode());
  expect_nothing_held();

  sim::hid_world().list = sim::Fault::always();
  EXPECT_EQ(connection.open(kNormalModeProductId, kBootloaderReportId), -1);
}

TEST_F(DeviceConnectionTest, CheckFindsTheTouchpadInEitherModeAndFlagsTheBootloader) {
  EXPECT_EQ(eligible_device_check(), 1);
  EXPECT_FALSE(bootloader_mode());
  expect_nothing_held();

  sim::MachineSetup setup;
  setup.device = sim::DeviceStart::kBootloader;
  sim::set_up_machine(setup);
  EXPECT_EQ(eligible_device_check(), 1);
  EXPECT_TRUE(bootloader_mode());
  expect_nothing_held();

  // Never cleared, not even when the touchpad is found in normal mode again.
  sim::set_up_machine(sim::MachineSetup{});
  EXPECT_EQ(eligible_device_check(), 1);
  EXPECT_TRUE(bootloader_mode());
}

TEST_F(DeviceConnectionTest, OpenOnAnOpenConnectionChangesNothingAndCloseIsIdempotent) {
  DeviceConnection connection;
  connection.close();
  EXPECT_TRUE(sim::calls().names.empty());
  ASSERT_EQ(connection.open(kNormalModeProductId, kBootloaderReportId), 0);
  sim::calls().names.clear();
  EXPECT_EQ(connection.open(kBootloaderModeProductId, 3), 0);
  EXPECT_TRUE(sim::calls().names.empty());
  EXPECT_EQ(connection.report_id(), 7);
  EXPECT_EQ(connection.product_id(), 0x1042);
  connection.close();
  connection.close();
  EXPECT_EQ(sim::calls().count("CloseHandle"), 1u);
  expect_nothing_held();
  // The IDs keep describing the interface last opened.
  EXPECT_EQ(connection.report_id(), 7);
}

TEST_F(DeviceConnectionTest, ClosedConnectionMovesNoReport) {
  DeviceConnection connection;
  std::vector<uint8_t> payload(530, 0xAB);
  EXPECT_EQ(connection.send_feature_report(payload.data(), 530), -1);
  EXPECT_EQ(connection.get_feature_report(payload.data(), 530), -1);
  EXPECT_TRUE(sim::calls().names.empty());
  EXPECT_EQ(payload, std::vector<uint8_t>(530, 0xAB));
}

TEST_F(DeviceConnectionTest, ReportIsTheReportIdFollowedByThePayload) {
  DeviceConnection connection;
  ASSERT_EQ(connection.open(kNormalModeProductId, kBootloaderReportId), 0);
  std::vector<uint8_t> payload(530, 0);
  payload[0] = 0x03;  // reset
  payload[529] = 0x5A;
  ASSERT_EQ(connection.send_feature_report(payload.data(), 530), 0);
  const std::vector<uint8_t>& sent = sim::touchpad().received.back().bytes;
  ASSERT_EQ(sent.size(), 531u);
  EXPECT_EQ(sent[0], 7);
  EXPECT_TRUE(std::equal(payload.begin(), payload.end(), sent.begin() + 1));

  sim::advance_ms(sim::kBootMs);  // the reset restarts it
  std::vector<uint8_t> answer(530, 0xEE);
  ASSERT_EQ(connection.get_feature_report(answer.data(), 530), 0);
  EXPECT_EQ(answer[0] | answer[1] << 8, sim::touchpad().firmware_signature);

  sim::touchpad().faults[static_cast<size_t>(sim::Command::kStatus)] = sim::Fault::always();
  std::vector<uint8_t> untouched(530, 0xEE);
  EXPECT_EQ(connection.get_feature_report(untouched.data(), 530), -1);
  EXPECT_EQ(untouched, std::vector<uint8_t>(530, 0xEE));
}

}  // namespace
}  // namespace fwu
