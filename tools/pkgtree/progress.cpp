#include "progress.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#define pkgtree_isatty(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define pkgtree_isatty(f) isatty(fileno(f))
#endif

namespace {

// Often enough to look alive, seldom enough to cost nothing.
constexpr auto kRedrawEvery = std::chrono::milliseconds(200);

void format_bytes(char* out, std::size_t size, double bytes) {
  if (bytes >= 1024.0 * 1024 * 1024) std::snprintf(out, size, "%.2f GiB", bytes / (1024.0 * 1024 * 1024));
  else std::snprintf(out, size, "%.1f MiB", bytes / (1024.0 * 1024));
}

void format_duration(char* out, std::size_t size, double seconds) {
  long s = static_cast<long>(seconds + 0.5);
  if (s >= 3600) std::snprintf(out, size, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else std::snprintf(out, size, "%ld:%02ld", s / 60, s % 60);
}

}  // namespace

double seconds_now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Progress::Progress(bool wanted) : shown_(wanted && pkgtree_isatty(stderr)) {}

Progress::~Progress() { finish(true); }

void Progress::start(uint64_t total_files, uint64_t total_bytes) {
  if (!shown_) return;
  total_files_ = total_files;
  total_bytes_ = total_bytes;
  started_ = seconds_now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    draw_locked();
  }
  ticker_ = std::thread([this] { tick(); });
}

void Progress::tick() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    wake_.wait_for(lock, kRedrawEvery);
    if (!stop_) draw_locked();
  }
}

void Progress::finish(bool keep_line) {
  if (!shown_ || !ticker_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  ticker_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  if (keep_line) {
    draw_locked();
    std::fputc('\n', stderr);
    drawn_width_ = 0;
  } else {
    erase_locked();
  }
  std::fflush(stderr);
}

void Progress::print_line(const char* text) {
  if (!shown_) {
    std::puts(text);
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  erase_locked();
  std::puts(text);
  std::fflush(stdout);
}

void Progress::erase_locked() {
  if (drawn_width_ == 0) return;
  std::fprintf(stderr, "\r%*s\r", drawn_width_, "");
  std::fflush(stderr);
  drawn_width_ = 0;
}

void Progress::draw_locked() {
  uint64_t files = files_.load(std::memory_order_relaxed);
  uint64_t bytes = bytes_.load(std::memory_order_relaxed);
  double elapsed = seconds_now() - started_;
  double rate = elapsed > 0 ? static_cast<double>(bytes) / elapsed : 0;
  char done[32], total[32], speed[32], left[32];
  format_bytes(done, sizeof done, static_cast<double>(bytes));
  format_bytes(total, sizeof total, static_cast<double>(total_bytes_));
  format_bytes(speed, sizeof speed, rate);
  // A rate from the first second or from nothing done would only mislead.
  if (elapsed >= 1.0 && bytes > 0 && bytes < total_bytes_) {
    format_duration(left, sizeof left, static_cast<double>(total_bytes_ - bytes) / rate);
  } else if (bytes >= total_bytes_ && files >= total_files_) {
    format_duration(left, sizeof left, 0);
  } else {
    std::snprintf(left, sizeof left, "-:--");
  }
  char line[160];
  int width = std::snprintf(line, sizeof line, "%llu/%llu files  %s of %s  %s/s  %s left",
                            static_cast<unsigned long long>(files),
                            static_cast<unsigned long long>(total_files_), done, total, speed, left);
  if (width < 0) return;
  // Blanks over what a longer line left, no terminal escapes needed.
  int pad = drawn_width_ > width ? drawn_width_ - width : 0;
  std::fprintf(stderr, "\r%s%*s", line, pad, "");
  if (pad > 0) std::fprintf(stderr, "\r%s", line);
  std::fflush(stderr);
  drawn_width_ = width;
}
