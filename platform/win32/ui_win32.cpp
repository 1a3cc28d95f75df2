#include <windows.h>

#include <atomic>

#include "platform/ui.h"

namespace {

const wchar_t* wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// There is at most one notice per run, and its thread is created without an argument: what it
// shows lives here.
struct NoticeState {
  const std::u16string* caption = nullptr;
  const std::u16string* texts = nullptr;
  size_t count = 0;
  std::atomic<bool> stopping{false};
};
NoticeState g_notice_state;

DWORD WINAPI notice_thread(LPVOID) {
  for (size_t i = 0; i < g_notice_state.count && !g_notice_state.stopping.load(); ++i) {
    MessageBoxW(nullptr, wide(g_notice_state.texts[i]), wide(*g_notice_state.caption),
                MB_ICONINFORMATION);
  }
  return 0;
}

BOOL CALLBACK press_ok(HWND window, LPARAM) {
  PostMessageW(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

constexpr int kCloseAttempts = 40;  // 40 x 50 ms: the bound before the thread is killed
constexpr DWORD kCloseWaitMs = 50;

}  // namespace

struct platform::Notice {
  HANDLE thread = nullptr;
  DWORD thread_id = 0;
};

namespace platform {

int message_box(const std::u16string& caption, const std::u16string& text, uint32_t style) {
  return MessageBoxW(nullptr, wide(text), wide(caption), style);
}

Notice* start_notice(const std::u16string& caption, const std::u16string* texts, size_t count) {
  static std::u16string stored_caption;
  stored_caption = caption;
  g_notice_state.caption = &stored_caption;
  g_notice_state.texts = texts;
  g_notice_state.count = count;
  g_notice_state.stopping = false;
  Notice* notice = new Notice;
  notice->thread = CreateThread(nullptr, 0, notice_thread, nullptr, 0, nullptr);
  if (notice->thread == nullptr) {
    delete notice;
    return nullptr;
  }
  notice->thread_id = GetThreadId(notice->thread);
  return notice;
}

void stop_notice(Notice* notice) {
  if (notice == nullptr) return;
  // Pressing OK on the notice's own box lets the thread end by itself. Killing it is the last
  // resort: a thread killed while it holds the heap or loader lock can hang this thread, which
  // has just rewritten the firmware and still has to restart the device.
  g_notice_state.stopping = true;
  bool ended = false;
  for (int attempt = 0; attempt < kCloseAttempts && !ended; ++attempt) {
    EnumThreadWindows(notice->thread_id, press_ok, 0);
    ended = WaitForSingleObject(notice->thread, kCloseWaitMs) == WAIT_OBJECT_0;
  }
  if (!ended) TerminateThread(notice->thread, 0);
  CloseHandle(notice->thread);
  delete notice;
}

}  // namespace platform
