#include "tools/sim_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace fwu::tools {
namespace {

bool parse(std::vector<const char*> args, SimOptions* options, std::string* error = nullptr) {
  args.insert(args.begin(), "fwupdate-sim");
  std::string ignored;
  return parse_sim_options(static_cast<int>(args.size()), args.data(), options,
                           error != nullptr ? error : &ignored);
}

// The same for a command line written as one text, its words separated by single blanks.
bool parse_words(const std::string& text, SimOptions* options) {
  std::vector<std::string> words;
  for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
    end = text.find(' ', start);
    words.push_back(text.substr(start, end - start));
  }
  std::vector<const char*> args;
  for (const std::string& word : words) args.push_back(word.c_str());
  return parse(args, options);
}

TEST(SimOptionsTest, MachineOptionsThenTheArgumentText) {
  SimOptions o;
  // Every machine option, each the way tools/README.md writes it.
  ASSERT_TRUE(
      parse_words("--device bootloader --version 18 --big-endian --info-bytes 26 --protocol 8 "
                  "--erase-delay 40 --write-rate 12 --signature 0x6C42 --fail write:3 --busy flush "
                  "--image-never-valid --restart fail --stale ok --answer yes,no --boot-ms 30 "
                  "--busy-ms format-image:70 --busy-ms flush:3 --busy-ms validate:0 --fast "
                  "--break restart-enable --break value-caps --appear-ms 300 "
                  "-- /S /vLOGFILE=C:\\x.log",
                  &o));
  EXPECT_EQ(o.machine.device, sim::DeviceStart::kBootloader);
  EXPECT_EQ(o.machine.firmware_version, 18);
  EXPECT_TRUE(o.machine.big_endian_info);
  EXPECT_EQ(o.machine.info_length, 26u);
  EXPECT_EQ(o.machine.protocol, 8);
  EXPECT_EQ(o.machine.erase_delay, 40);
  EXPECT_EQ(o.machine.write_rate, 12);
  EXPECT_EQ(o.machine.firmware_signature, 0x6C42);
  ASSERT_EQ(o.machine.failures.size(), 1u);
  EXPECT_EQ(o.machine.failures[0].command, sim::Command::kWrite);
  EXPECT_EQ(o.machine.failures[0].from_nth, 3u);
  ASSERT_EQ(o.machine.busy.size(), 1u);
  EXPECT_EQ(o.machine.busy[0].command, sim::Command::kFlush);
  EXPECT_EQ(o.machine.busy[0].reads, 1u);
  EXPECT_TRUE(o.machine.image_never_valid);
  EXPECT_TRUE(o.machine.restart_fails);
  EXPECT_EQ(o.machine.stale, sim::Stale::kRepaired);
  EXPECT_EQ(o.answers, (std::vector<int>{sim::kIdYes, sim::kIdNo}));
  EXPECT_EQ(o.machine.boot_ms, 30u);
  EXPECT_EQ(o.machine.format_image_ms, 70u);
  EXPECT_EQ(o.machine.flush_ms, 3u);
  EXPECT_EQ(o.machine.validate_ms, 0u);
  EXPECT_TRUE(o.fast);
  EXPECT_EQ(o.machine.breakages,
            (std::vector<sim::Breakage>{sim::Breakage::kRestartEnable, sim::Breakage::kValueCaps}));
  EXPECT_EQ(o.machine.appear_ms, 300u);
  EXPECT_EQ(o.argument_text, "/S /vLOGFILE=C:\\x.log");
}

TEST(SimOptionsTest, BadOptionsAreRefused) {
  for (std::vector<const char*> args : std::vector<std::vector<const char*>>{
           {"--device", "sideways"},
           {"--version"},
           {"--version", "17x"},
           {"--protocol", "300"},
           {"--fail", "jump"},
           {"--busy", "write:0"},
           {"--answer", "yes,maybe"},
           {"--restart", "perhaps"},
           {"--signature", "0xZZ"},
           {"--boot-ms", "-1"},
           {"--appear-ms", "soon"},
           {"--busy-ms", "write:5"},  // the write takes what the device announces
           {"--busy-ms", "flush"},
           {"--break", "everything"},
           {"/S"},
       }) {
    SimOptions o;
    std::string error;
    EXPECT_FALSE(parse(args, &o, &error)) << args[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(SimOptionsTest, ListOfWaitsIsAskedForByItsOwnSwitch) {
  SimOptions without;
  ASSERT_TRUE(parse({"--fast", "--", "/S"}, &without));
  EXPECT_FALSE(without.list_waits);
  SimOptions with;
  ASSERT_TRUE(parse({"--list-waits", "--", "/S"}, &with));
  EXPECT_TRUE(with.list_waits);
  EXPECT_EQ(with.argument_text, "/S") << "the switch is the simulator's, not the program's";
}

}  // namespace
}  // namespace fwu::tools
