#include "app/notices.h"

#include <iterator>
#include <utility>

#include "app/settings.h"

namespace fwu {

namespace {

const std::u16string kNoticeTexts[] = {
    u"Please do not interrupt the update process.",
    u"Please do not click OK.\nThis message is shown to let you know that the firmware update is "
    u"going on in the background.",
    u"If you click OK again, this message will disappear, but the firmware update will still be "
    u"going on in the background.\nYou won't see any messages until the firmware update has "
    u"either completed successfully or failed.",
};

void notice_box(const std::u16string& text, uint32_t style) {
  if (settings().silent) return;
  platform::message_box(kCaption, text, style);
}

}  // namespace

void error_notice(const std::u16string& text) {
  notice_box(text, kErrorStyle);
}

void information_notice(const std::u16string& text) {
  notice_box(text, kInformationStyle);
}

bool question(const std::u16string& text, bool no_is_default) {
  if (settings().silent) return true;
  uint32_t style = no_is_default ? kQuestionNoDefaultStyle : kQuestionStyle;
  return platform::message_box(kCaption, text, style) == kIdYes;
}

NoticeHandle::NoticeHandle(NoticeHandle&& other) noexcept : notice_(other.release()) {}

NoticeHandle& NoticeHandle::operator=(NoticeHandle&& other) noexcept {
  if (this != &other) {
    platform::stop_notice(notice_);
    notice_ = other.release();
  }
  return *this;
}

NoticeHandle::~NoticeHandle() {
  platform::stop_notice(notice_);
}

platform::Notice* NoticeHandle::release() {
  return std::exchange(notice_, nullptr);
}

NoticeHandle start_background_notice() {
  return NoticeHandle(platform::start_notice(kCaption, kNoticeTexts, std::size(kNoticeTexts)));
}

void stop_background_notice(NoticeHandle& handle) {
  platform::stop_notice(handle.release());
}

void failure_report(NoticeHandle& handle, const std::u16string& text) {
  stop_background_notice(handle);
  error_notice(text);
}

}  // namespace fwu
