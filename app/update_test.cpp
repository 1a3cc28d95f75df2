#include "app/update.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/settings.h"
#include "device/device_connection.h"
#include "image/firmware_image.h"
#include "platform/resource.h"
#include "platform/sim/device_tree.h"
#include "platform/sim/machine.h"
#include "testing/machine_checks.h"
#include "testing/sequence.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

using sim::Command;
using testing::Repeat;

constexpr char16_t kQuestion2[] =
    u"IMPORTANT!\n\nThe touchpad firmware is about to be updated to another version. A power "
    u"outage during the firmware update process could make the device inoperable. Please make "
    u"sure the computer battery is charged and the power adapter is connected.\n\nThe firmware "
    u"update may take up to a minute. Please be patient and do not interrupt the process.\n\nDo "
    u"you want to continue with the firmware update?";
constexpr char16_t kQuestion1[] =
    u"It looks like a previous firmware update was unsuccessful. Running it again may correct "
    u"the situation.\n\nDo you want to run the firmware update?";

// What the program does on the default machine to open the touchpad's report 7 collection: it
// looks at the HID interfaces in the platform's order until one has the touchpad's vendor and
// product ID and a feature value of report 7, and keeps that one open.
const std::vector<Repeat> kOpenTouchpad = {
    {{"HidD_GetHidGuid", "SetupDiGetClassDevsW"}},
    // The keyboard and the touchscreen: another vendor.
    {{"SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailW",
      "SetupDiGetDeviceInterfaceDetailW", "CreateFileW", "HidD_GetAttributes", "CloseHandle"},
     2},
    // The touchpad's first collection: feature reports 1 and 3.
    {{"SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailW",
      "SetupDiGetDeviceInterfaceDetailW", "CreateFileW", "HidD_GetAttributes",
      "HidD_GetPreparsedData", "HidP_GetCaps", "HidP_GetValueCaps", "HidD_FreePreparsedData",
      "CloseHandle"}},
    // Its second: no feature value at all.
    {{"SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailW",
      "SetupDiGetDeviceInterfaceDetailW", "CreateFileW", "HidD_GetAttributes",
      "HidD_GetPreparsedData", "HidP_GetCaps", "HidD_FreePreparsedData", "CloseHandle"}},
    // Its third: report 7, kept open.
    {{"SetupDiEnumDeviceInterfaces", "SetupDiGetDeviceInterfaceDetailW",
      "SetupDiGetDeviceInterfaceDetailW", "CreateFileW", "HidD_GetAttributes",
      "HidD_GetPreparsedData", "HidP_GetCaps", "HidP_GetValueCaps", "HidD_FreePreparsedData",
      "SetupDiDestroyDeviceInfoList"}},
};

// An interactive update of the default touchpad (firmware 16, protocol 9, erase delay 50, write
// rate 10, signature 0x5AC3) with the shipped image (one region of 64880 bytes), the user
// answering Yes and clicking OK on every notice box.
const std::vector<Repeat> kDefaultUpdateAfterOpen = {
    // The device information block: version 16, so question 2.
    {{"HidD_SetFeature info", "HidD_GetFeature"}},
    {{"MessageBoxW 0x134 IMPORTANT!", "answered Yes"}},
    {{"CreateThread notice", "MessageBoxW 0x40 Please do not interrupt the update process.",
      "answered OK", "MessageBoxW 0x40 Please do not click OK.", "answered OK",
      "MessageBoxW 0x40 If you click OK again, this message will disappear, but the firmware "
      "update will still be going on in the background.",
      "answered OK"}},
    // A status read: error code 0 needs no reset; signature 0x5AC3 calls for invoke bootloader.
    {{"HidD_GetFeature", "Sleep 10", "HidD_SetFeature invoke", "Sleep 100", "HidD_GetFeature",
      "Sleep 10"}},
    {{"HidD_SetFeature format-image", "Sleep 100"}},
    // 50 x ((64880 >> 10) + 1) ms of erase, then the step's status check and its wait.
    {{"HidD_SetFeature format-region", "Sleep 3200", "HidD_GetFeature", "Sleep 10"}},
    // 124 chunks of 520 bytes, 520 x 10 / 1000 + 1 ms each, and one of 400 bytes.
    {{"HidD_SetFeature write 520", "Sleep 6", "HidD_GetFeature", "Sleep 10"}, 124},
    {{"HidD_SetFeature write 400", "Sleep 5", "HidD_GetFeature", "Sleep 10"}},
    {{"HidD_SetFeature flush", "Sleep 10", "HidD_GetFeature", "Sleep 10"}},
    {{"HidD_SetFeature validate", "Sleep 10", "HidD_GetFeature"}},
    {{"HidD_SetFeature reset", "Sleep 100", "HidD_GetFeature"}},
    // The device restart: the connection is closed before its transport device is disabled.
    {{"CM_Get_Device_Interface_PropertyW", "CloseHandle", "CM_Locate_DevNodeW", "CM_Get_Parent",
      "CM_Disable_DevNode", "CM_Enable_DevNode", "CM_Get_DevNode_Status"}},
    {{"TerminateThread notice", "MessageBoxW 0x40 Firmware update successful!", "answered OK",
      "log Firmware update successful."}},
};

std::vector<std::string> default_update() {
  std::vector<std::string> lines = testing::expand(kOpenTouchpad);
  std::vector<std::string> rest = testing::expand(kDefaultUpdateAfterOpen);
  lines.insert(lines.end(), rest.begin(), rest.end());
  return lines;
}

class UpdateTest : public testing::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::clock().utc_base = {2026, 12, 8, 9, 30, 0};
    sim::ui().default_answer = sim::kIdYes;
  }

  void set_up(const sim::MachineSetup& setup) { sim::set_up_machine(setup); }

  // A new process on a new machine, with no log yet.
  void start_again() {
    sim::reset();
    testing::reset_process_state();
    sim::ui().default_answer = sim::kIdYes;
    std::filesystem::remove("fw.log");
  }

  int run_silent() { return run("/S /vLOGFILE=fw.log"); }
  int run_interactive() { return run("/vLOGFILE=fw.log"); }

  // Every update that succeeds does so without a step the touchpad finds irregular.
  static int run(const char* arguments) {
    read_command_line(arguments);
    int result = run_update();
    if (result < 1000) {
      EXPECT_TRUE(testing::no_irregularity());
    }
    return result;
  }

  static std::vector<std::u16string> box_texts() {
    std::vector<std::u16string> texts;
    for (const sim::ShownBox& box : sim::program_boxes()) texts.push_back(box.text);
    return texts;
  }

  static std::string log() { return read_file("fw.log"); }

  // The commands the touchpad received, by their command byte.
  static std::vector<uint8_t> commands() {
    std::vector<uint8_t> result;
    for (const sim::ReceivedReport& report : sim::touchpad().received) {
      result.push_back(report.bytes.size() > 1 ? report.bytes[1] : 0xFF);
    }
    return result;
  }

  static size_t count_waits(uint32_t ms) {
    const std::vector<uint32_t>& waits = sim::clock().waits;
    return static_cast<size_t>(std::count(waits.begin(), waits.end(), ms));
  }

  static void expect_released() {
    EXPECT_TRUE(testing::everything_released());
    EXPECT_FALSE(sim::ui().notice_running);
  }
};

TEST_F(UpdateTest, InteractiveUpdateFrom16To17StepByStep) {
  EXPECT_EQ(run_interactive(), 0);
  EXPECT_EQ(sim::events().lines, default_update());
  EXPECT_EQ(sim::program_boxes().front().text, kQuestion2);
  EXPECT_EQ(log(), "Firmware update successful.\r\n");

  EXPECT_EQ(sim::touchpad().mode, sim::Mode::kFirmware);
  EXPECT_EQ(sim::running_version(), 17);
  EXPECT_TRUE(sim::touchpad().image_valid);
  EXPECT_TRUE(testing::flash_holds_shipped_image());
  EXPECT_EQ(firmware_version(), 16);
  expect_released();
}

TEST_F(UpdateTest, ShippedImageCarriesTheTargetVersion) {
  std::span<const char> text = platform::firmware_resource();
  FirmwareImage image(text.data(), text.size());
  ASSERT_EQ(image.parse(), 0);
  std::span<const uint8_t> header = image.region_bytes(0);
  ASSERT_GE(header.size(), 10u);
  EXPECT_EQ(header[8] | header[9] << 8, kTargetFirmwareVersion);
}

TEST_F(UpdateTest, SilentUpdateDoesTheSameWithoutABox) {
  sim::ui().default_answer = sim::kIdNo;
  EXPECT_EQ(run_silent(), 0);
  std::vector<std::string> expected = default_update();
  std::erase_if(expected, [](const std::string& line) {
    return line.starts_with("MessageBoxW") || line.starts_with("answered") ||
           line.ends_with("Thread notice");
  });
  EXPECT_EQ(sim::events().lines, expected);
  EXPECT_EQ(log(), "Firmware update successful.\r\n");
  EXPECT_EQ(sim::running_version(), 17);
}

TEST_F(UpdateTest, TimingAndFormatParametersFollowTheProtocol) {
  struct Case {
    uint8_t protocol;
    uint32_t erase_wait;
    uint32_t chunk_wait;
    std::vector<uint8_t> format_tail;  // bytes 8 to 10 of format image
  };
  for (const Case& c : {Case{7, 64 * 50, 6, {32, 0, 44}}, Case{8, 64 * 20, 13, {32, 0, 44}},
                        Case{9, 64 * 20, 13, {0xFF, 0xFF, 0xFF}}}) {
    SCOPED_TRACE(static_cast<int>(c.protocol));
    start_again();
    sim::MachineSetup setup;
    setup.protocol = c.protocol;
    setup.erase_delay = 20;
    setup.write_rate = 24;  // 520 * 24 / 1000 + 1 = 13
    set_up(setup);
    ASSERT_EQ(run_silent(), 0);
    EXPECT_EQ(count_waits(c.erase_wait), 1u);
    EXPECT_EQ(count_waits(c.chunk_wait), 124u);
    const std::vector<uint8_t>& format = sim::touchpad().received[2].bytes;
    EXPECT_EQ(std::vector<uint8_t>(format.begin() + 8, format.begin() + 11), c.format_tail);
  }
}

TEST_F(UpdateTest, VersionGate) {
  struct Case {
    uint16_t version;
    bool big_endian;
    int result;
    const char16_t* box;
    const char* log;
  };
  for (const Case& c : {
           Case{17, false, 1004, u"The device already has the target firmware version.",
                "The device already has the target firmware version. Firmware update aborted."},
           Case{18, false, 1005, u"The device has a newer firmware version.",
                "The device has a newer firmware version. Firmware update aborted."},
           // Bytes 00 11: big-endian they are 17, little-endian 0x1100.
           Case{17, true, 1004, u"The device already has the target firmware version.",
                "The device already has the target firmware version. Firmware update aborted."},
           Case{0x1100, false, 1005, u"The device has a newer firmware version.",
                "The device has a newer firmware version. Firmware update aborted."},
       }) {
    SCOPED_TRACE(c.version);
    start_again();
    sim::MachineSetup setup;
    setup.firmware_version = c.version;
    setup.big_endian_info = c.big_endian;
    set_up(setup);
    EXPECT_EQ(run_interactive(), c.result);
    EXPECT_EQ(box_texts(), std::vector<std::u16string>{c.box});
    EXPECT_EQ(sim::ui().boxes[0].style, 0x10u);
    EXPECT_EQ(log(), std::string(c.log) + "\r\n");
    EXPECT_EQ(commands(), std::vector<uint8_t>{0x08}) << "nothing but the information read";
    expect_released();
  }
}

TEST_F(UpdateTest, UnreadableOrShortInformationLeavesVersionZeroAndUpdates) {
  sim::MachineSetup setup;
  setup.info_length = 26;
  setup.firmware_version = 17;
  set_up(setup);
  EXPECT_EQ(run_interactive(), 0);
  EXPECT_EQ(firmware_version(), 0);
  EXPECT_EQ(sim::program_boxes().front().text, kQuestion2);

  start_again();
  setup.info_length = 27;
  setup.failures = {{Command::kInfo, 1}};
  set_up(setup);
  EXPECT_EQ(run_silent(), 0);
  EXPECT_EQ(firmware_version(), 0);
}

TEST_F(UpdateTest, TouchpadInItsBootloaderAsksBothQuestions) {
  sim::MachineSetup setup;
  setup.device = sim::DeviceStart::kBootloader;
  set_up(setup);
  sim::ui().answers = {sim::kIdYes, sim::kIdYes};
  EXPECT_EQ(run_interactive(), 0);
  EXPECT_TRUE(bootloader_mode());
  std::vector<sim::ShownBox> boxes = sim::program_boxes();
  ASSERT_GE(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, kQuestion1);
  EXPECT_EQ(boxes[0].style, 0x34u);
  EXPECT_EQ(boxes[1].text, kQuestion2);
  EXPECT_EQ(sim::running_version(), 17);
  EXPECT_EQ(commands()[1], 0x04) << "a bootloader signature needs no invoke";
}

TEST_F(UpdateTest, FlagSetBeforeSkipsTheVersionGate) {
  sim::MachineSetup setup;
  setup.firmware_version = 17;
  set_up(setup);
  set_bootloader_mode();
  sim::ui().answers = {sim::kIdNo};
  EXPECT_EQ(run_interactive(), 1007);
  EXPECT_EQ(box_texts(), (std::vector<std::u16string>{kQuestion1, u"Firmware update aborted."}));
  EXPECT_EQ(log(), "Firmware update aborted.\r\n");
}

TEST_F(UpdateTest, DecliningEitherQuestionGivesTheSameBoxButItsOwnLogLine) {
  sim::ui().answers = {sim::kIdNo};
  EXPECT_EQ(run_interactive(), 1007);
  EXPECT_EQ(box_texts(), (std::vector<std::u16string>{kQuestion2, u"Firmware update aborted."}));
  EXPECT_EQ(sim::program_boxes()[1].style, 0x10u);
  EXPECT_EQ(log(), "Firmware update aborted by the user.\r\n");
  EXPECT_EQ(sim::ui().notices_started, 0);

  start_again();
  sim::MachineSetup setup;
  setup.device = sim::DeviceStart::kBootloader;
  set_up(setup);
  sim::ui().answers = {sim::kIdYes, sim::kIdNo};
  EXPECT_EQ(run_interactive(), 1007);
  EXPECT_EQ(log(), "Firmware update aborted by the user.\r\n");
}

TEST_F(UpdateTest, NoConnectionEndsWith1003) {
  sim::MachineSetup setup;
  setup.device = sim::DeviceStart::kNone;
  set_up(setup);
  EXPECT_EQ(run_interactive(), 1003);
  EXPECT_EQ(box_texts(), std::vector<std::u16string>{
                             u"Failed to connect to the device.\n\nFirmware update failed."});
  EXPECT_EQ(log(), "Failed to connect to the device. Firmware update failed.\r\n");
}

struct ErrorCase {
  int error;
  std::vector<sim::CommandFailure> failures;
  std::vector<sim::BusyReads> busy;
  bool image_never_valid = false;
};

void PrintTo(const ErrorCase& c, std::ostream* out) {
  *out << "ERROR " << c.error;
}

class UpdateErrorTest : public UpdateTest, public ::testing::WithParamInterface<ErrorCase> {};

std::string error_log_line(int error) {
  static const char* const sentences[] = {"Firmware image is corrupted.",
                                          "Failed to get the device status.",
                                          "Failed to reset the device.",
                                          "Failed to get the device status.",
                                          "Failed to invoke the bootloader.",
                                          "Failed to get the device status.",
                                          "Failed to format the image.",
                                          "Failed to format regions.",
                                          "Failed to get the device status.",
                                          "Failed to write data.",
                                          "Failed to write data.",
                                          "Failed to flush.",
                                          "Failed to flush.",
                                          "Data written with errors.",
                                          "Data written with errors.",
                                          "Failed to reset the device.",
                                          "Failed to get the device status."};
  return "ERROR " + std::to_string(error) + ": " + sentences[error - 7];
}

TEST_P(UpdateErrorTest, EndsWithItsNumberedErrorAfterTheNoticeIsStopped) {
  const ErrorCase& c = GetParam();
  sim::MachineSetup setup;
  setup.failures = c.failures;
  setup.busy = c.busy;
  setup.image_never_valid = c.image_never_valid;
  set_up(setup);
  sim::ui().notice_clicks = 1;  // the user leaves the second notice box open
  EXPECT_EQ(run_interactive(), 1001);

  std::string phrase = error_log_line(c.error);
  std::vector<sim::ShownBox> boxes = sim::program_boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text,
            std::u16string(phrase.begin(), phrase.end()) + u"\n\nFirmware update failed.");
  // The open notice box goes with the notice, then the outcome's box, then its log line; the
  // connection is closed on the way out.
  std::vector<std::string> end = {"TerminateThread notice",
                                  "closed by the stop",
                                  "MessageBoxW 0x10 " + phrase,
                                  "answered OK",
                                  "log " + phrase + " Firmware update failed.",
                                  "CloseHandle"};
  const std::vector<std::string>& lines = sim::events().lines;
  ASSERT_GE(lines.size(), end.size());
  EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<ptrdiff_t>(end.size()), lines.end()),
            end);
  EXPECT_EQ(log(), phrase + " Firmware update failed.\r\n");
  EXPECT_EQ(sim::node(sim::touchpad_transport()).disables, 0u) << "no restart after a failure";
  expect_released();
}

INSTANTIATE_TEST_SUITE_P(
    EveryError, UpdateErrorTest,
    ::testing::Values(
        ErrorCase{8, {{Command::kStatus, 1}}, {}},
        ErrorCase{9, {{Command::kReset, 1}}, {{Command::kInfo, 1}}},
        ErrorCase{10, {}, {{Command::kInfo, 4}}}, ErrorCase{11, {{Command::kInvoke, 1}}, {}},
        ErrorCase{12, {{Command::kStatus, 2}}, {}}, ErrorCase{13, {{Command::kFormatImage, 1}}, {}},
        ErrorCase{14, {{Command::kFormatRegion, 1}}, {}},
        ErrorCase{15, {}, {{Command::kFormatRegion, 9}}}, ErrorCase{16, {{Command::kWrite, 1}}, {}},
        ErrorCase{17, {}, {{Command::kWrite, 9}}}, ErrorCase{18, {{Command::kFlush, 1}}, {}},
        ErrorCase{19, {}, {{Command::kFlush, 9}}},
        ErrorCase{20, {{Command::kFormatImage, 2}}, {}, true}, ErrorCase{21, {}, {}, true},
        ErrorCase{22, {{Command::kReset, 1}}, {}}, ErrorCase{23, {}, {{Command::kReset, 3}}}),
    [](const ::testing::TestParamInfo<ErrorCase>& param_info) {
      return "Error" + std::to_string(param_info.param.error);
    });

// One Intel HEX data record.
std::string hex_line(unsigned address, const std::vector<uint8_t>& data) {
  char text[16];
  std::snprintf(text, sizeof text, ":%02X%04X00", static_cast<unsigned>(data.size()), address);
  std::string line = text;
  unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFF);
  for (uint8_t byte : data) {
    std::snprintf(text, sizeof text, "%02X", byte);
    line += text;
    sum += byte;
  }
  std::snprintf(text, sizeof text, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
  return line + text;
}

TEST_F(UpdateTest, ImageThatCannotBeAnnouncedNeverReachesTheDevice) {
  std::string many_regions;
  for (unsigned i = 0; i < 256; ++i) many_regions += hex_line(i * 0x10, {1, 2, 3, 4, 5, 6, 7, 8});
  for (const std::string& text :
       {hex_line(0, {1, 2, 3, 4}) + ":00000001FF\r\n",  // a first region of 4 bytes
        std::string(":00000001FF\r\n"),                 // no region at all
        std::string(),                                  // no resource
        std::string("this is no hex\r\n"),              // corrupted
        hex_line(0, {1, 2, 3, 4, 5, 6, 7, 8, 9}),       // a region of odd length
        many_regions}) {
    SCOPED_TRACE(text.substr(0, 40));
    start_again();
    sim::set_firmware_resource(text);
    EXPECT_EQ(run_silent(), 1001);
    EXPECT_EQ(log(), "ERROR 7: Firmware image is corrupted. Firmware update failed.\r\n");
    EXPECT_EQ(commands(), std::vector<uint8_t>{0x08});
    EXPECT_EQ(sim::touchpad().mode, sim::Mode::kFirmware);
  }
}

TEST_F(UpdateTest, NoFurtherCommandAfterAFailureButTheRepeatedFormat) {
  sim::MachineSetup setup;
  setup.image_never_valid = true;
  set_up(setup);
  EXPECT_EQ(run_silent(), 1001);
  std::vector<uint8_t> sent = commands();
  EXPECT_EQ(std::vector<uint8_t>(sent.end() - 2, sent.end()), (std::vector<uint8_t>{0x02, 0x04}));
  EXPECT_EQ(sim::touchpad().received.back().bytes, sim::touchpad().received[2].bytes)
      << "the same four values as the first format image";
}

TEST_F(UpdateTest, StatusWithAnErrorCodeLeadsToAResetFirst) {
  sim::MachineSetup setup;
  setup.busy = {{Command::kInfo, 1}};
  set_up(setup);
  EXPECT_EQ(run_silent(), 0);
  EXPECT_TRUE(testing::happen_together({"HidD_SetFeature info", "HidD_GetFeature",
                                        "HidD_GetFeature error 3", "Sleep 10",
                                        "HidD_SetFeature reset", "Sleep 10", "HidD_GetFeature",
                                        "Sleep 10", "HidD_SetFeature invoke"}));
}

TEST_F(UpdateTest, EverySignatureOfTheTable) {
  struct Case {
    uint16_t signature;
    bool in_bootloader;  // the two signatures of a bootloader
  };
  for (const Case& c : {Case{0x5AC3, false}, Case{0x6D49, false}, Case{0x426C, false},
                        Case{0x6C42, true}, Case{0xC35A, true}}) {
    SCOPED_TRACE(c.signature);
    start_again();
    sim::MachineSetup setup;
    setup.device = c.in_bootloader ? sim::DeviceStart::kBootloader : sim::DeviceStart::kNormal;
    setup.firmware_signature = c.signature;
    set_up(setup);
    sim::touchpad().bootloader_signature = c.in_bootloader ? c.signature : 0xC35A;
    EXPECT_EQ(run_silent(), 0);
    std::vector<std::string> next = {
        "HidD_GetFeature", "Sleep 10",
        c.in_bootloader ? "HidD_SetFeature format-image" : "HidD_SetFeature invoke"};
    EXPECT_TRUE(testing::happen_together(next));
  }

  // Any other signature is no status at all: three reads, 10 ms apart.
  start_again();
  sim::MachineSetup setup;
  setup.firmware_signature = 0x5AC4;
  set_up(setup);
  EXPECT_EQ(run_silent(), 1001);
  EXPECT_TRUE(testing::happen_together(
      {"HidD_GetFeature", "Sleep 10", "HidD_GetFeature", "Sleep 10", "HidD_GetFeature",
       "log ERROR 8: Failed to get the device status. Firmware update failed."}));
}

TEST_F(UpdateTest, VerifiedStepThatPassesOnItsThirdTry) {
  sim::MachineSetup setup;
  setup.busy = {{Command::kWrite, 6}};
  set_up(setup);
  EXPECT_EQ(run_silent(), 0);
  // Two tries whose check reads an error three times, each followed by 10 ms, then a good one.
  std::vector<Repeat> first_chunk = {
      {{"HidD_SetFeature write 520", "Sleep 6", "HidD_GetFeature error 3", "Sleep 10",
        "HidD_GetFeature error 3", "Sleep 10", "HidD_GetFeature error 3", "Sleep 10"},
       2},
      {{"HidD_SetFeature write 520", "Sleep 6", "HidD_GetFeature", "Sleep 10",
        "HidD_SetFeature write 520"}}};
  EXPECT_TRUE(testing::happen_together(testing::expand(first_chunk)));
  const auto& received = sim::touchpad().received;
  EXPECT_EQ(received[4].bytes, received[5].bytes) << "the same chunk to the same address";
  EXPECT_EQ(received[4].bytes, received[6].bytes);
  EXPECT_EQ(sim::running_version(), 17);
}

TEST_F(UpdateTest, RestartRoads) {
  struct Case {
    bool restart_fails;  // the touchpad's transport device keeps a problem after its enable
    sim::Stale stale;
    size_t removals;  // passes of the stale device removal
    int result;
    const char16_t* box;
    const char* log;
  };
  for (const Case& c : {
           // A stale device repaired does not make good the touchpad's own transport device,
           // which stays in trouble: the restart hint, wherever the system lists the two.
           Case{true, sim::Stale::kRepaired, 2, 1,
                u"Firmware update successful!\nYou may have to restart the computer for the "
                u"changes to take effect.",
                "Firmware update successful. The computer may need to be restarted."},
           Case{true, sim::Stale::kNone, 2, 1,
                u"Firmware update successful!\nYou may have to restart the computer for the "
                u"changes to take effect.",
                "Firmware update successful. The computer may need to be restarted."},
           Case{true, sim::Stale::kStays, 2, 1,
                u"Firmware update successful!\nYou may have to restart the computer for the "
                u"changes to take effect.",
                "Firmware update successful. The computer may need to be restarted."},
           // The restart cannot even read the instance ID, and the removal repairs the one device
           // in trouble, a stale one: done, with no restart hint.
           Case{false, sim::Stale::kRepaired, 1, 0, u"Firmware update successful!",
                "Firmware update successful."},
           // The same with no device in trouble: both removals find nothing to repair (-1).
           Case{false, sim::Stale::kNone, 2, 1,
                u"Firmware update successful!\nYou may have to restart the computer for the "
                u"changes to take effect.",
                "Firmware update successful. The computer may need to be restarted."},
       }) {
    start_again();
    sim::MachineSetup setup;
    setup.restart_fails = c.restart_fails;
    setup.stale = c.stale;
    set_up(setup);
    if (!c.restart_fails) sim::device_tree().instance_id = sim::Fault::always();
    sim::ui().answers = {sim::kIdYes};
    EXPECT_EQ(run_interactive(), c.result);
    EXPECT_EQ(sim::program_boxes().back().text, c.box);
    EXPECT_EQ(sim::program_boxes().back().style, 0x40u);
    EXPECT_EQ(log(), std::string(c.log) + "\r\n");
    // Each pass of the removal lists the ACPI HID devices once; the restart before them did not.
    const std::vector<std::string>& lines = sim::events().lines;
    auto restart = std::find(lines.begin(), lines.end(), "CM_Get_Device_Interface_PropertyW");
    EXPECT_EQ(static_cast<size_t>(std::count(restart, lines.end(), "SetupDiGetClassDevsW")),
              c.removals);
    EXPECT_TRUE(testing::happen_in_order({"CM_Get_Device_Interface_PropertyW",
                                          "SetupDiGetClassDevsW", "TerminateThread notice",
                                          "MessageBoxW 0x40 Firmware update successful!"}));
    expect_released();
  }
}

}  // namespace
}  // namespace fwu
