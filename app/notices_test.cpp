#include "app/notices.h"

#include <string>
#include <vector>

#include "app/settings.h"
#include "testing/sim_test.h"

namespace fwu {
namespace {

class NoticesTest : public testing::SimTest {};

TEST_F(NoticesTest, EachKindHasItsStyleTheCaptionAndNoOwner) {
  sim::ui().answers = {sim::kIdYes, sim::kIdYes};
  error_notice(u"e");
  information_notice(u"i");
  question(u"q1", false);
  question(u"q2", true);
  const auto& boxes = sim::ui().boxes;
  ASSERT_EQ(boxes.size(), 4u);
  const uint32_t styles[] = {0x10, 0x40, 0x34, 0x134};
  const char16_t* texts[] = {u"e", u"i", u"q1", u"q2"};
  for (size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_EQ(boxes[i].caption, u"Talvex FW Update");
    EXPECT_EQ(boxes[i].text, texts[i]);
    EXPECT_EQ(boxes[i].style, styles[i]);
    EXPECT_FALSE(boxes[i].owner_window);
  }
}

TEST_F(NoticesTest, OnlyIdYesIsYes) {
  sim::ui().answers = {sim::kIdYes, sim::kIdNo, sim::kIdOk, 2 /* IDCANCEL */};
  EXPECT_TRUE(question(u"q", false));
  EXPECT_FALSE(question(u"q", false));
  EXPECT_FALSE(question(u"q", false));
  EXPECT_FALSE(question(u"q", true));
  sim::ui().fail_boxes = true;
  EXPECT_FALSE(question(u"q", false));
}

TEST_F(NoticesTest, SilentModeShowsNothingAndQuestionsCountAsYes) {
  read_command_line("/S");
  sim::ui().default_answer = sim::kIdNo;
  error_notice(u"e");
  information_notice(u"i");
  EXPECT_TRUE(question(u"q", true));
  EXPECT_TRUE(sim::ui().boxes.empty());
}

TEST_F(NoticesTest, BackgroundNoticeShowsItsThreeBoxesInTurn) {
  NoticeHandle handle = start_background_notice();
  ASSERT_FALSE(handle.empty());
  const auto& boxes = sim::ui().boxes;
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, u"Please do not interrupt the update process.");
  EXPECT_EQ(boxes[1].text,
            u"Please do not click OK.\nThis message is shown to let you know that the firmware "
            u"update is going on in the background.");
  EXPECT_EQ(boxes[2].text,
            u"If you click OK again, this message will disappear, but the firmware update will "
            u"still be going on in the background.\nYou won't see any messages until the "
            u"firmware update has either completed successfully or failed.");
  for (const sim::ShownBox& box : boxes) {
    EXPECT_TRUE(box.notice);
    EXPECT_EQ(box.style, 0x40u);
    EXPECT_EQ(box.caption, u"Talvex FW Update");
  }
  stop_background_notice(handle);
  EXPECT_TRUE(handle.empty());
  EXPECT_EQ(sim::ui().notices_stopped, 1);
  EXPECT_FALSE(sim::ui().notice_running);
}

TEST_F(NoticesTest, FailureReportClosesAnOpenNoticeBoxBeforeItsOwnBox) {
  sim::ui().notice_clicks = 1;
  NoticeHandle handle = start_background_notice();
  failure_report(handle, u"ERROR 9: Failed to reset the device.\n\nFirmware update failed.");
  EXPECT_EQ(
      sim::events().lines,
      (std::vector<std::string>{
          "CreateThread notice", "MessageBoxW 0x40 Please do not interrupt the update process.",
          "answered OK", "MessageBoxW 0x40 Please do not click OK.", "TerminateThread notice",
          "closed by the stop", "MessageBoxW 0x10 ERROR 9: Failed to reset the device.",
          "answered OK"}));
  EXPECT_FALSE(sim::ui().notice_running);
  EXPECT_TRUE(handle.empty());
}

TEST_F(NoticesTest, EmptyHandleIsLeftAloneAndAFailedStartIsIgnored) {
  sim::ui().fail_notice_start = true;
  NoticeHandle handle = start_background_notice();
  EXPECT_TRUE(handle.empty());
  failure_report(handle, u"text");
  EXPECT_EQ(sim::ui().notices_stopped, 0);
  ASSERT_EQ(sim::ui().boxes.size(), 1u);
  EXPECT_EQ(sim::ui().boxes[0].text, u"text");
}

TEST_F(NoticesTest, DestroyedHandleStopsItsNotice) {
  {
    NoticeHandle handle = start_background_notice();
    EXPECT_TRUE(sim::ui().notice_running);
  }
  EXPECT_FALSE(sim::ui().notice_running);
  EXPECT_EQ(sim::ui().notices_stopped, 1);
}

}  // namespace
}  // namespace fwu
