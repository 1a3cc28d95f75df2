// Boxes become lines on the terminal: a notice is printed, a question asks for y or n. Without a
// terminal to ask on, a question is answered No, so that nothing is written that nobody agreed to.

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/ui.h"

struct platform::Notice {
  pthread_t thread{};
  bool running = false;  // false when there is no line to keep up
  std::string line;
  std::mutex mutex;
  std::condition_variable stopped;
  bool stop = false;
};

namespace platform {

namespace {

constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;
constexpr uint32_t kTypeMask = 0x0F;
constexpr uint32_t kYesNo = 0x04;
constexpr uint32_t kIconMask = 0xF0;
constexpr uint32_t kIconError = 0x10;
constexpr uint32_t kDefaultSecond = 0x100;

// The terminal is shared by the questions and the progress line.
std::mutex g_output;

std::string utf8(const std::u16string& text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      result.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      result.push_back(static_cast<char>(0xC0 | c >> 6));
      result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      result.push_back(static_cast<char>(0xE0 | c >> 12));
      result.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      result.push_back(static_cast<char>(0xF0 | c >> 18));
      result.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return result;
}

// One line from standard input; false at its end or on an error.
bool read_answer(std::string* line) {
  line->clear();
  char c = 0;
  ssize_t got = 0;
  while ((got = read(STDIN_FILENO, &c, 1)) == 1 && c != '\n') line->push_back(c);
  return got == 1;
}

int ask(const std::string& text, bool no_is_default) {
  for (;;) {
    std::printf("%s\n%s ", text.c_str(), no_is_default ? "[y/N]" : "[Y/n]");
    std::fflush(stdout);
    std::string answer;
    if (!read_answer(&answer)) {
      std::printf("\n");
      return kIdNo;
    }
    if (answer.empty()) return no_is_default ? kIdNo : kIdYes;
    if (answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes") return kIdYes;
    if (answer == "n" || answer == "N" || answer == "no" || answer == "No") return kIdNo;
  }
}

}  // namespace

int message_box(const std::u16string& caption, const std::u16string& text, uint32_t style) {
  std::lock_guard<std::mutex> lock(g_output);
  std::string body = utf8(caption) + ": " + utf8(text);
  if ((style & kTypeMask) == kYesNo) {
    if (isatty(STDIN_FILENO) == 1) return ask(body, (style & kDefaultSecond) != 0);
    std::fprintf(stderr, "%s\nNo terminal to answer on: the answer is No.\n", body.c_str());
    return kIdNo;
  }
  std::FILE* stream = (style & kIconMask) == kIconError ? stderr : stdout;
  std::fprintf(stream, "%s\n", body.c_str());
  std::fflush(stream);
  return kIdOk;
}

namespace {

void* keep_line(void* argument) {
  Notice* notice = static_cast<Notice*>(argument);
  auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(notice->mutex);
  while (!notice->stop) {
    auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start)
            .count();
    {
      std::lock_guard<std::mutex> output(g_output);
      std::printf("\r%s Writing the firmware: %lld:%02lld\033[K", notice->line.c_str(),
                  static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
      std::fflush(stdout);
    }
    notice->stopped.wait_for(lock, std::chrono::seconds(1));
  }
  std::lock_guard<std::mutex> output(g_output);
  std::printf("\r\033[K");
  std::fflush(stdout);
  return nullptr;
}

}  // namespace

// On a terminal, one line that counts the minutes and seconds of the update, rewritten in place;
// the notice's other texts ask the user not to click a box, which a terminal does not have.
// Elsewhere nothing.
Notice* start_notice(const std::u16string& caption, const std::u16string* texts, size_t count) {
  Notice* notice = new Notice;
  if (isatty(STDOUT_FILENO) != 1 || count == 0) return notice;
  notice->line = utf8(caption) + ": " + utf8(texts[0]);
  notice->running = pthread_create(&notice->thread, nullptr, keep_line, notice) == 0;
  return notice;
}

void stop_notice(Notice* notice) {
  if (notice == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(notice->mutex);
    notice->stop = true;
  }
  notice->stopped.notify_all();
  if (notice->running) pthread_join(notice->thread, nullptr);
  delete notice;
}

}  // namespace platform
