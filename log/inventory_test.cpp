#include "log/inventory.h"

#include <fstream>
#include <string>

#include "app/settings.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

class InventoryTest : public testing::SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    read_command_line("/vLOGFILE=fw.log");
  }

  static void write_mup(const std::string& text) { std::ofstream("mup.xml") << text; }

  static std::string value_of(const std::string& path) {
    const sim::RegistryKeyRecord* key = sim::find_key(path);
    if (key == nullptr) return "<no key>";
    if (!key->has_default_value) return "<no value>";
    return sim::default_string(*key);
  }
};

const char kOneKey[] =
    "<?xml version=\"1.0\"?>\n<registrykey componentID=\"42\">\n"
    "  <name>HKEY_LOCAL_MACHINE\\SOFTWARE\\X\\Touchpad</name>\n  <value>17</value>\n"
    "</registrykey>\n";

TEST_F(InventoryTest, NamedKeyGetsItsDefaultValueWithTheTerminatingZero) {
  write_mup(kOneKey);
  write_inventory_record(hold_current_directory());
  const sim::RegistryKeyRecord* key = sim::find_key("SOFTWARE\\X\\Touchpad");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->default_type, sim::kRegSz);
  EXPECT_EQ(key->default_data, std::string("17\0", 3));
  EXPECT_EQ(sim::registry().rights_requested, std::vector<uint32_t>{2});
  EXPECT_EQ(sim::registry().open_keys, 0);
  EXPECT_EQ(read_file("fw.log"), "");
}

TEST_F(InventoryTest, Wow64ProcessAsksForThe64BitView) {
  sim::process().wow64 = true;
  write_mup(kOneKey);
  write_inventory_record(hold_current_directory());
  EXPECT_EQ(sim::registry().rights_requested, std::vector<uint32_t>{258});
}

TEST_F(InventoryTest, QuotesAroundValuesAreDroppedButTheDisplayNameKeepsItsLastOne) {
  write_mup(
      "<registrykey componentID=x><name>\"HKEY_LOCAL_MACHINE\\SOFTWARE\\A\"</name>"
      "<value>\"1.7\"</value><displayName>\"HKEY_LOCAL_MACHINE\\SOFTWARE\\B\"</displayName>"
      "<displayValue>\"Touchpad firmware 17\"</displayValue>");
  write_inventory_record(hold_current_directory());
  EXPECT_EQ(value_of("SOFTWARE\\A"), "1.7");
  EXPECT_EQ(value_of("SOFTWARE\\B\""), "Touchpad firmware 17");
  EXPECT_EQ(sim::find_key("SOFTWARE\\B"), nullptr) << "only the parent of B\" may exist";
}

TEST_F(InventoryTest, UncreatableFirstKeyStillLetsTheDisplayPairThrough) {
  sim::registry().fail_create.insert("software\\a");
  write_mup(
      "<registrykey componentID=x><name>HKEY_LOCAL_MACHINE\\SOFTWARE\\A</name><value>1</value>"
      "<displayName>HKEY_LOCAL_MACHINE\\SOFTWARE\\B</displayName><displayValue>2</displayValue>");
  write_inventory_record(hold_current_directory());
  EXPECT_EQ(sim::find_key("SOFTWARE\\A"), nullptr);
  EXPECT_EQ(value_of("SOFTWARE\\B"), "2");
  EXPECT_EQ(read_file("fw.log"), "");
}

TEST_F(InventoryTest, DisplayPairIsSearchedFromTheValueOrFromTheKeyNameWhenTheKeyFails) {
  // A pair between the key name and the value tells the two starts apart: after the value text
  // when the first key was created, after the key name when it could not be.
  const char kTwoPairs[] =
      "<registrykey componentID=x><name>HKEY_LOCAL_MACHINE\\SOFTWARE\\A</name>"
      "<displayName>HKEY_LOCAL_MACHINE\\SOFTWARE\\Early</displayName>"
      "<displayValue>early</displayValue><value>1</value>"
      "<displayName>HKEY_LOCAL_MACHINE\\SOFTWARE\\Late</displayName>"
      "<displayValue>late</displayValue>";
  write_mup(kTwoPairs);
  write_inventory_record(hold_current_directory());
  EXPECT_EQ(value_of("SOFTWARE\\A"), "1");
  EXPECT_EQ(value_of("SOFTWARE\\Late"), "late");
  EXPECT_EQ(sim::find_key("SOFTWARE\\Early"), nullptr);

  sim::reset();
  sim::registry().fail_create.insert("software\\a");
  write_inventory_record(hold_current_directory());
  EXPECT_EQ(sim::find_key("SOFTWARE\\A"), nullptr);
  EXPECT_EQ(value_of("SOFTWARE\\Early"), "early");
  EXPECT_EQ(sim::find_key("SOFTWARE\\Late"), nullptr);
  EXPECT_EQ(sim::registry().open_keys, 0);
}

TEST_F(InventoryTest, MissingValueTagsStopBeforeTheDisplayPair) {
  write_mup(
      "<registrykey componentID=x><name>HKEY_LOCAL_MACHINE\\SOFTWARE\\A</name><value>1"
      "<displayName>HKEY_LOCAL_MACHINE\\SOFTWARE\\B</displayName><displayValue>2</displayValue>");
  write_inventory_record(hold_current_directory());
  EXPECT_EQ(value_of("SOFTWARE\\A"), "<no value>");
  EXPECT_EQ(sim::find_key("SOFTWARE\\B"), nullptr);
  EXPECT_EQ(sim::registry().open_keys, 0);
}

TEST_F(InventoryTest, ValueThatCannotBeSetIsLoggedAndTheNextKeyGoesOn) {
  sim::registry().fail_set.insert("software\\a");
  write_mup(
      "<registrykey componentID=x><name>HKEY_LOCAL_MACHINE\\SOFTWARE\\A</name><value>1</value>"
      "<displayName>HKEY_LOCAL_MACHINE\\SOFTWARE\\B</displayName><displayValue>2</displayValue>");
  write_inventory_record(hold_current_directory());
  EXPECT_EQ(read_file("fw.log"), "Registry key inventory failed.\r\n");
  EXPECT_EQ(value_of("SOFTWARE\\B"), "2");
}

TEST_F(InventoryTest, TagsAreFoundOnlyInTheirCaseAndAfterTheAnchor) {
  for (const char* text : {
           "<registrykey componentID=x><Name>HKEY_LOCAL_MACHINE\\SOFTWARE\\A</Name>"
           "<value>1</value>",
           "<name>HKEY_LOCAL_MACHINE\\SOFTWARE\\A</name><value>1</value>"
           "<registrykey componentID=x>",
           "<RegistryKey componentID=x><name>HKEY_LOCAL_MACHINE\\SOFTWARE\\A</name>"
           "<value>1</value>",
           "<registrykey componentID=x><name>HKEY_LOCAL_MACHINE\\SOFTWARE\\A<value>1</value>",
           "",
       }) {
    write_mup(text);
    write_inventory_record(hold_current_directory());
    EXPECT_TRUE(sim::registry().keys.empty()) << text;
  }
}

TEST_F(InventoryTest, AnyNineteenCharactersAreSkippedAndShorterNamesWriteNothing) {
  write_mup(
      "<registrykey componentID=x><name>HKLM\\SOFTWARE\\Vendor\\Touchpad</name><value>1</value>"
      "<displayName>HKEY_LOCAL_MACHINE\\</displayName><displayValue>2</displayValue>");
  write_inventory_record(hold_current_directory());
  EXPECT_EQ(value_of("r\\Touchpad"), "1");
  EXPECT_EQ(sim::registry().rights_requested.size(), 1u) << "nothing below the root to create";
}

TEST_F(InventoryTest, NoFileWritesNothing) {
  write_inventory_record(hold_current_directory());
  EXPECT_TRUE(sim::registry().keys.empty());
  EXPECT_TRUE(sim::registry().rights_requested.empty());
}

TEST_F(InventoryTest, RegistryExportReadsBackAndEscapes) {
  write_mup(
      "<registrykey componentID=x><name>HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B</name>"
      "<value>C:\\x \"y\" z</value>");
  write_inventory_record(hold_current_directory());
  std::string exported = sim::export_registry();
  ASSERT_GE(exported.size(), 2u);
  EXPECT_EQ(exported.substr(0, 2), "\xFF\xFE");
  std::string narrow;
  for (size_t i = 2; i < exported.size(); i += 2) narrow += exported[i];
  EXPECT_EQ(narrow,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\A\\B]\r\n@=\"C:\\\\x \\\"y\\\" z\"\r\n\r\n");
  sim::reset();
  ASSERT_TRUE(sim::import_registry(exported));
  EXPECT_EQ(value_of("software\\a\\b"), "C:\\x \"y\" z");
  EXPECT_FALSE(sim::import_registry("not an export"));
}

}  // namespace
}  // namespace fwu
