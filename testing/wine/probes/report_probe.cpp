// Shows what Wine's own HID stack (hid.dll and the HID class driver) does with feature reports
// that the touchpad does not declare: a buffer of the wrong length, and a report ID other than 7.
// Each wrong call must end in one of three ways: refused by Wine; passed down and refused by the
// touchpad's transport device, which keeps it in its record; or, for a set feature longer than
// the report, cut by Wine to the report's length and delivered, which the device cannot tell
// from a right report. Two right calls show that the same way does reach the touchpad.
//
// Prints one line per call. Exit status 0 when every call ended in one of those ways, 1
// otherwise (with a line saying why), 2 when the touchpad or the bus cannot be found.
#include <windows.h>

// After windows.h; hidsdi.h brings hidusage.h and hidpi.h in the order they need. MinGW's
// hidsdi.h declares hid.dll's functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <string>
#include <vector>

#include "platform/sim/touchpad.h"
#include "testing/wine/touchpad_driver/bus_client.h"
#include "testing/wine/touchpad_driver/touchpad_interfaces.h"

namespace {

constexpr ULONG kReportLength = sim::kReportLength;
constexpr BYTE kReportId = sim::kReportId;
constexpr BYTE kFlush = 0x01;  // a command the firmware refuses, so nothing changes

struct Case {
  bool set;
  ULONG length;
  BYTE report_id;
};

constexpr Case kCases[] = {
    {true, kReportLength, kReportId},       // right
    {true, kReportLength - 1, kReportId},   // one byte short
    {true, kReportLength + 1, kReportId},   // one byte over
    {true, 1, kReportId},                   // the ID byte alone
    {true, 4096, kReportId},                // far over
    {true, kReportLength, 3},               // an ID the touchpad does not declare
    {true, kReportLength, 0},               // no ID
    {false, kReportLength, kReportId},      // right
    {false, kReportLength - 1, kReportId},  // one byte short
    {false, kReportLength + 1, kReportId},  // one byte over
    {false, kReportLength, 3},              // an ID the touchpad does not declare
    {false, kReportLength, 0},              // no ID
};

// The open touchpad, found the way the program finds it, through Wine's own SetupAPI and hid.dll.
HANDLE open_touchpad() {
  std::vector<touchpad_control::TouchpadInterface> found = touchpad_control::touchpad_interfaces();
  if (found.empty()) return INVALID_HANDLE_VALUE;
  return CreateFileW(found[0].path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, 0, nullptr);
}

// What the device has seen so far: the touchpad's counts of reports, and the reports that its
// transport refused.
struct Seen {
  long commands = -1;
  long status_reads = -1;
  std::vector<std::string> refused;
};

bool read_seen(Seen* seen) {
  std::vector<char> text;
  if (!touchpad_control::ask(touchpad_control::kRecord, nullptr, 0, &text, 1 << 20)) return false;
  *seen = Seen{};
  std::string all(text.begin(), text.end());
  for (size_t at = 0; at < all.size();) {
    size_t end = all.find('\n', at);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(at, end - at);
    if (line.rfind("commands ", 0) == 0) seen->commands = std::stol(line.substr(9));
    if (line.rfind("status-reads ", 0) == 0) seen->status_reads = std::stol(line.substr(13));
    if (line.rfind("refused ", 0) == 0) seen->refused.push_back(line);
    at = end + 1;
  }
  return seen->commands >= 0 && seen->status_reads >= 0;
}

// Runs one case; false when it did not end in a way this probe knows how to tell.
bool run(HANDLE touchpad, const Case& c) {
  Seen before;
  Seen after;
  if (!read_seen(&before)) return false;
  std::vector<BYTE> report(c.length, 0);
  report[0] = c.report_id;
  if (c.set && c.length > 1) report[1] = kFlush;
  BOOL taken = c.set ? HidD_SetFeature(touchpad, report.data(), c.length)
                     : HidD_GetFeature(touchpad, report.data(), c.length);
  DWORD error = taken ? 0 : GetLastError();
  if (!read_seen(&after)) return false;
  bool reached =
      c.set ? after.commands > before.commands : after.status_reads > before.status_reads;
  bool refused_below = after.refused.size() > before.refused.size();
  bool right = c.report_id == kReportId && c.length == kReportLength;
  std::printf("%s length %lu id %u: ", c.set ? "HidD_SetFeature" : "HidD_GetFeature", c.length,
              c.report_id);
  bool known = true;
  if (right) {
    known = taken && reached && !refused_below;
    std::printf("the touchpad got it\n");
  } else if (!taken && !reached && !refused_below) {
    std::printf("refused by Wine (error %lu)\n", error);
  } else if (!taken && !reached && refused_below) {
    std::printf("passed down by Wine and refused by the transport device (error %lu): %s\n", error,
                after.refused.back().c_str());
  } else if (c.set && c.length > kReportLength && taken && reached && !refused_below) {
    // The device sees a right report: only the caller's length shows what happened.
    std::printf("cut by Wine to %lu bytes and delivered: the touchpad got it\n", kReportLength);
  } else {
    known = false;
    std::printf("taken %d, reached the touchpad %d, refused below %d\n", taken, reached,
                refused_below);
  }
  if (!known) std::printf("FAILED: that call did not end as it must\n");
  return known;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  HANDLE touchpad = open_touchpad();
  if (touchpad == INVALID_HANDLE_VALUE) {
    std::printf("FAILED: no touchpad\n");
    return 2;
  }
  Seen start;
  if (!read_seen(&start)) {
    std::printf("FAILED: the bus does not answer\n");
    CloseHandle(touchpad);
    return 2;
  }
  bool all = true;
  for (const Case& c : kCases) all = run(touchpad, c) && all;
  CloseHandle(touchpad);
  return all ? 0 : 1;
}
