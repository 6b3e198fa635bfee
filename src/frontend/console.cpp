#include "frontend/console.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/cancel.h"
#include "platform/platform.h"
#include "platform/progress.h"
#include "platform/report.h"

namespace varn {

namespace {

using Clock = std::chrono::steady_clock;

// At most ten redraws a second.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
// Rates and times left are guessed only after this much of a step.
constexpr double kSettleSeconds = 0.5;
constexpr double kFramesPerSecond = 75.0;  // SACD frames of audio

struct StepState {
  bool active = false;
  uint64_t done = 0;
  uint64_t total = 0;
  Clock::time_point start;
};

std::mutex g_mutex;  // guards everything below and the writes to the streams
bool g_tty = false;
bool g_shown = false;  // a progress line is on the screen
StepState g_steps[kProgressSteps];
Clock::time_point g_last_draw;

StepState& state(ProgressStep step) { return g_steps[int(step)]; }

void erase_line() {
  if (!g_shown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  g_shown = false;
}

std::string format(const char* pattern, double a = 0, double b = 0, double c = 0) {
  char text[128];
  std::snprintf(text, sizeof text, pattern, a, b, c);
  return text;
}

std::string time_text(double seconds) {
  const long s = long(seconds + 0.5);
  char text[32];
  if (s >= 3600) std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

// ", R, T left" once the step has run long enough to tell.
std::string pace(const StepState& s, double elapsed, const std::string& rate) {
  if (elapsed < kSettleSeconds || s.done == 0) return "";
  std::string text = ", " + rate;
  if (s.total > s.done) text += ", " + time_text(elapsed * double(s.total - s.done) / double(s.done)) + " left";
  return text;
}

std::string bytes_line(const char* what, const StepState& s, double elapsed) {
  const double mb = 1048576.0;
  std::string text = std::string(what) + format(": %.0f of %.0f MB", double(s.done) / mb, double(s.total) / mb);
  if (s.total) text += format(" (%.0f%%)", 100.0 * double(s.done) / double(s.total));
  return text + pace(s, elapsed, format("%.0f MB/s", double(s.done) / mb / (elapsed > 0 ? elapsed : 1)));
}

std::string line_text(Clock::time_point now) {
  auto seconds = [now](const StepState& s) { return std::chrono::duration<double>(now - s.start).count(); };
  const StepState& reading = state(ProgressStep::Reading);
  const StepState& coding = state(ProgressStep::Encoding);
  const StepState& writing = state(ProgressStep::Writing);
  const StepState& hashing = state(ProgressStep::Hashing);
  if (hashing.active) return bytes_line("Hashing the image", hashing, seconds(hashing));
  if (writing.active) return bytes_line("Writing the image", writing, seconds(writing));
  std::string text;
  if (reading.active)
    text = format("Reading input %.0f of %.0f", double(reading.done), double(reading.total));
  if (coding.active) {
    const double elapsed = seconds(coding);
    text += text.empty() ? "DST encoding: " : ", DST encoding: ";
    text += format("%.0f of %.0f frames", double(coding.done), double(coding.total));
    text += pace(coding, elapsed, format("%.1fx real time", double(coding.done) / kFramesPerSecond / elapsed));
  }
  return text;
}

void draw(Clock::time_point now) {
  std::string text = line_text(now);
  if (text.empty()) {
    erase_line();
    return;
  }
  // A line longer than the terminal would wrap, and the next redraw would
  // no longer land on it.
  const unsigned columns = platform_stderr_columns();
  if (columns > 1 && text.size() > columns - 1) text.resize(columns - 1);
  text = "\r" + text + "\033[K";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  g_shown = true;
  g_last_draw = now;
}

void on_progress(const ProgressEvent& e) {
  if (cancel_requested()) return;
  std::unique_lock<std::mutex> lock(g_mutex, std::defer_lock);
  // Updates come from the coding threads, per frame: they never wait.
  if (e.phase == ProgressPhase::Update) {
    if (!lock.try_lock()) return;
  } else {
    lock.lock();
  }
  StepState& s = state(e.step);
  const Clock::time_point now = Clock::now();
  switch (e.phase) {
    case ProgressPhase::Begin:
      // The first update of every step is shown.
      s = StepState{true, 0, e.total, now};
      g_last_draw = Clock::time_point{};
      return;
    case ProgressPhase::Update:
      if (!s.active) return;
      s.done = e.done;
      s.total = e.total;
      if (now - g_last_draw >= kRedrawInterval) draw(now);
      return;
    case ProgressPhase::End:
      s.active = false;
      erase_line();
      return;
  }
}

void on_report(ReportStream stream, const std::string& text) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (cancel_requested()) return;
  erase_line();
  FILE* f = stream == ReportStream::Out ? stdout : stderr;
  std::fwrite(text.data(), 1, text.size(), f);
  // On a terminal the text must be out before the next progress line.
  if (g_tty) std::fflush(f);
}

}  // namespace

void console_open() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_tty = platform_stderr_is_tty();
  g_shown = false;
  for (StepState& s : g_steps) s = StepState{};
  g_last_draw = Clock::time_point{};
  set_report_sink(on_report);
  set_progress_sink(g_tty ? on_progress : nullptr);
}

void console_close() {
  set_progress_sink(nullptr);
  std::lock_guard<std::mutex> lock(g_mutex);
  erase_line();
  set_report_sink(nullptr);
}

}  // namespace varn
