#include "platform/linux/logic/report_descriptor.h"

namespace platform::hidraw {

namespace {

constexpr int kTypeMain = 0;
constexpr int kTypeGlobal = 1;
constexpr int kTypeLocal = 2;

constexpr int kMainFeature = 0xB;
constexpr int kMainCollection = 0xA;
constexpr int kMainEndCollection = 0xC;

constexpr int kGlobalReportSize = 0x7;
constexpr int kGlobalReportId = 0x8;
constexpr int kGlobalPush = 0xA;
constexpr int kGlobalPop = 0xB;

constexpr int kLocalUsage = 0x0;
constexpr int kLocalUsageMinimum = 0x1;

constexpr uint32_t kConstant = 0x01;
constexpr uint32_t kVariable = 0x02;

constexpr uint8_t kLongItem = 0xFE;

// The kernel keeps four levels of Push; a deeper stack is refused rather than grown without end.
constexpr size_t kMaxPushes = 4;

struct Globals {
  uint8_t report_id = 0;
  uint32_t report_size = 0;
};

struct Item {
  int type = 0;
  int tag = 0;
  uint32_t data = 0;
  size_t length = 0;  // the whole item's bytes, prefix included
};

// The item at `at`; false when it runs past the end.
bool read_item(const uint8_t* descriptor, size_t size, size_t at, Item* item) {
  uint8_t prefix = descriptor[at];
  if (prefix == kLongItem) {
    if (size - at < 3) return false;
    size_t length = 3 + static_cast<size_t>(descriptor[at + 1]);
    if (size - at < length) return false;
    *item = Item{-1, 0, 0, length};
    return true;
  }
  size_t data_size = (prefix & 3) == 3 ? 4 : (prefix & 3);
  if (size - at < 1 + data_size) return false;
  uint32_t data = 0;
  for (size_t i = 0; i < data_size; ++i) data |= uint32_t{descriptor[at + 1 + i]} << (8 * i);
  *item = Item{(prefix >> 2) & 3, prefix >> 4, data, 1 + data_size};
  return true;
}

}  // namespace

bool feature_value_report_ids(const uint8_t* descriptor, size_t size,
                              std::vector<uint8_t>* report_ids) {
  report_ids->clear();
  Globals globals;
  std::vector<Globals> pushed;
  size_t usages = 0;  // usages and usage ranges given since the last main item
  size_t depth = 0;
  for (size_t at = 0; at < size;) {
    Item item;
    if (!read_item(descriptor, size, at, &item)) return false;
    at += item.length;
    if (item.type == kTypeGlobal) {
      if (item.tag == kGlobalReportId) {
        if (item.data == 0 || item.data > 0xFF) return false;
        globals.report_id = static_cast<uint8_t>(item.data);
      } else if (item.tag == kGlobalReportSize) {
        globals.report_size = item.data;
      } else if (item.tag == kGlobalPush) {
        if (pushed.size() == kMaxPushes) return false;
        pushed.push_back(globals);
      } else if (item.tag == kGlobalPop) {
        if (pushed.empty()) return false;
        globals = pushed.back();
        pushed.pop_back();
      }
    } else if (item.type == kTypeLocal) {
      // A range's minimum and maximum together make one capability: count the minimum.
      if (item.tag == kLocalUsage || item.tag == kLocalUsageMinimum) ++usages;
    } else if (item.type == kTypeMain) {
      if (item.tag == kMainCollection) {
        ++depth;
      } else if (item.tag == kMainEndCollection) {
        if (depth == 0) return false;
        --depth;
      } else if (item.tag == kMainFeature && (item.data & kConstant) == 0 &&
                 (item.data & kVariable) != 0 && globals.report_size > 1) {
        report_ids->insert(report_ids->end(), usages == 0 ? 1 : usages, globals.report_id);
      }
      usages = 0;
    }
  }
  return depth == 0;
}

}  // namespace platform::hidraw
