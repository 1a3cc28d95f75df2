// What the program tells the user: message boxes with one caption, and the background notice
// that runs while the firmware is written. Silent mode shows nothing.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui.h"

namespace fwu {

inline const std::u16string kCaption = u"Talvex FW Update";

// Message-box styles (the Windows MB_ values).
constexpr uint32_t kErrorStyle = 0x10;               // OK, MB_ICONERROR
constexpr uint32_t kInformationStyle = 0x40;         // OK, MB_ICONINFORMATION
constexpr uint32_t kQuestionStyle = 0x34;            // MB_YESNO | MB_ICONWARNING
constexpr uint32_t kQuestionNoDefaultStyle = 0x134;  // the same with MB_DEFBUTTON2
constexpr int kIdYes = 6;

// An error box; returns once the user clicked OK. Nothing in silent mode.
void error_notice(const std::u16string& text);
// An information box; returns once the user clicked OK. Nothing in silent mode.
void information_notice(const std::u16string& text);
// A Yes/No question; true only when the platform answers IDYES (a box that cannot be shown is a
// No). In silent mode nothing is shown and the answer is Yes.
bool question(const std::u16string& text, bool no_is_default);

// The handle of a running background notice; empty when it was not started or failed to start.
// Move-only; a handle still holding a notice stops it when destroyed.
class NoticeHandle {
 public:
  NoticeHandle() = default;
  explicit NoticeHandle(platform::Notice* notice) : notice_(notice) {}
  NoticeHandle(NoticeHandle&& other) noexcept;
  NoticeHandle& operator=(NoticeHandle&& other) noexcept;
  NoticeHandle(const NoticeHandle&) = delete;
  NoticeHandle& operator=(const NoticeHandle&) = delete;
  ~NoticeHandle();

  bool empty() const { return notice_ == nullptr; }
  platform::Notice* release();

 private:
  platform::Notice* notice_ = nullptr;
};

// Starts the background notice: three information boxes, one after the other. Callers start it
// only when the notice flag is set. An empty handle when it cannot be started.
NoticeHandle start_background_notice();
// Ends the notice at once and leaves the handle empty; an empty handle is left alone.
void stop_background_notice(NoticeHandle& handle);
// stop_background_notice, then error_notice(text). The caller writes the log twin afterwards.
void failure_report(NoticeHandle& handle, const std::u16string& text);

}  // namespace fwu
