#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/sim/sim.h"
#include "platform/sim/sim_internal.h"
#include "platform/ui.h"

namespace sim {

namespace {
Ui g_ui;
constexpr uint32_t kButtonMask = 0x0F;
constexpr uint32_t kYesNo = 0x04;  // MB_YESNO
constexpr uint32_t kIconInformation = 0x40;

const char* answer_name(int answer) {
  switch (answer) {
    case kIdOk:
      return "OK";
    case kIdYes:
      return "Yes";
    case kIdNo:
      return "No";
    case 0:
      return "failed";
    default:
      return "other";
  }
}

// The box appears; a box that returned is dismissed right after.
void show(ShownBox box, bool dismissed) {
  char style[16];
  std::snprintf(style, sizeof style, "0x%X", static_cast<unsigned>(box.style));
  std::string first_line(box.text.begin(), std::find(box.text.begin(), box.text.end(), u'\n'));
  record_event(std::string("MessageBoxW ") + style + " " + first_line);
  g_ui.boxes.push_back(box);
  if (g_ui.on_box) g_ui.on_box(g_ui.boxes.back());
  if (dismissed) record_event(std::string("answered ") + answer_name(box.answer));
}
}  // namespace

Ui& ui() {
  return g_ui;
}

void reset_ui() {
  g_ui = Ui{};
}

std::vector<ShownBox> program_boxes() {
  std::vector<ShownBox> result;
  for (const ShownBox& box : g_ui.boxes) {
    if (!box.notice) result.push_back(box);
  }
  return result;
}

}  // namespace sim

// The notice runs to the point where the user stops clicking as soon as it starts: a
// deterministic stand-in for a thread whose boxes the user dismisses straight away.
struct platform::Notice {
  size_t open_box = 0;  // index in sim::ui().boxes of the box left open
  bool has_open_box = false;
};

namespace platform {

int message_box(const std::u16string& caption, const std::u16string& text, uint32_t style) {
  sim::Ui& ui = sim::ui();
  sim::ShownBox box{caption, text, style};
  if (ui.fail_boxes) {
    box.answer = 0;
  } else if ((style & sim::kButtonMask) == sim::kYesNo) {
    if (ui.responder) {
      box.answer = ui.responder(box);
    } else if (!ui.answers.empty()) {
      box.answer = ui.answers.front();
      ui.answers.pop_front();
    } else {
      box.answer = ui.default_answer;
    }
  } else {
    box.answer = sim::kIdOk;
  }
  sim::show(box, true);
  return box.answer;
}

Notice* start_notice(const std::u16string& caption, const std::u16string* texts, size_t count) {
  sim::Ui& ui = sim::ui();
  if (ui.fail_notice_start) {
    sim::record_event("CreateThread notice failed");
    return nullptr;
  }
  sim::record_event("CreateThread notice");
  ++ui.notices_started;
  ui.notice_running = true;
  Notice* notice = new Notice;
  for (size_t i = 0; i < count; ++i) {
    sim::ShownBox box{caption, texts[i], sim::kIconInformation};
    box.notice = true;
    if (i < ui.notice_clicks) {
      box.answer = sim::kIdOk;
      sim::show(box, true);
      continue;
    }
    sim::show(box, false);
    notice->open_box = ui.boxes.size() - 1;
    notice->has_open_box = true;
    break;
  }
  return notice;
}

void stop_notice(Notice* notice) {
  if (notice == nullptr) return;
  sim::Ui& ui = sim::ui();
  sim::record_event("TerminateThread notice");
  if (notice->has_open_box) {
    sim::ShownBox& box = ui.boxes[notice->open_box];
    box.closed_by_stop = true;
    sim::record_event("closed by the stop");
    if (ui.on_box) ui.on_box(box);
  }
  ++ui.notices_stopped;
  ui.notice_running = false;
  delete notice;
}

}  // namespace platform
