// The progress line: one line on standard error, redrawn in place, shown
// only when standard error is a terminal.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class Progress {
 public:
  // Nothing is drawn unless `wanted` and standard error is a terminal.
  explicit Progress(bool wanted);
  ~Progress();
  bool shown() const { return shown_; }
  void start(uint64_t total_files, uint64_t total_bytes);
  void add(uint64_t files, uint64_t bytes) {
    files_.fetch_add(files, std::memory_order_relaxed);
    bytes_.fetch_add(bytes, std::memory_order_relaxed);
  }
  // The last state, then the line end; or the line erased (for a failure).
  void finish(bool keep_line);
  // Lines on the same terminal go out between redraws, never into the line.
  void print_line(const char* text);

 private:
  void draw_locked();
  void erase_locked();
  void tick();

  bool shown_ = false;
  std::atomic<uint64_t> files_{0}, bytes_{0};
  uint64_t total_files_ = 0, total_bytes_ = 0;
  int drawn_width_ = 0;
  double started_ = 0;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread ticker_;
};

double seconds_now();
