// The headless window system's shared state: the windows, the message
// queue of each window-owning thread, and the script of user actions. Only
// the stand-in's own files (queue, script reader, notice surface, window
// system, ports) include this; everything else goes through headless.h.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/posix/headless.h"

namespace headless {

enum Kind { kMainKind, kNoticeKind, kButtonKind, kEditKind, kServerKind };

constexpr int kMaxWindows = 256;
constexpr int kTextSize = 1024;
constexpr int kClassNameSize = 64;
constexpr int kScriptLineSize = kTextSize;
constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
// The main window's frame and title bar, and a child's thin border and
// scroll bar, as the desktop's standard metrics make them.
constexpr int kFrameWidth = 6;
constexpr int kFrameHeight = 25;
constexpr int kScrollBarWidth = 16;

struct Window {
  bool used = false;
  bool alive = false;
  bool visible = false;
  Kind kind = kButtonKind;
  uint32_t style = 0;
  WindowProcedure procedure = nullptr;
  int parent = -1;
  int id = 0;
  int owner = kUiThread;
  char text[kTextSize] = {};
  int x = 0, y = 0, width = 0, height = 0;
  bool dirty = false;
  Rect dirty_rect;
  int scroll_min = 0, scroll_max = 0, scroll_page = 0, scroll_position = 0;
};

struct Posted {
  int window = -1;
  uint32_t message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
  bool has_text = false;
  char text[kTextSize] = {};
};

struct Sent {
  int window = -1;
  bool paint_request = false;  // a repaint asked for from another thread
  uint32_t message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
  intptr_t result = 0;
  bool done = false;
};

struct ThreadQueue {
  std::deque<Sent*> inbox;
  std::deque<Posted> posted;
};

struct Paint {
  int window = -1;
  bool traced = false;
  uint32_t text_color = 0, background_color = 0xFFFFFF;
  DrawingObject font = nullptr;
};

// Everything lives on the heap and is never destroyed: a worker thread may
// end the process while the UI thread still waits here.
struct World {
  std::mutex lock;
  std::condition_variable changed;
  Window windows[kMaxWindows];
  int window_count = 0;
  ThreadQueue queues[2];
  char main_class[kClassNameSize] = {};
  WindowProcedure main_procedure = nullptr;
  bool notice_registered = false;
  std::deque<Posted> actions;  // script lines, in Posted's text
  bool input_ended = false;
  bool close_sent = false;
  bool reader_started = false;
  bool server_busy = false;
  bool browse_answered = false;
  char browse_answer[kPathBufferSize] = {};
  uintptr_t next_object = 0x100;
};

World& world();

// The thread a window-owning thread has adopted; kNoThread for the others.
extern thread_local int current_owner;

WindowHandle handle_of(int index);
int index_of(WindowHandle handle);
// Under the lock: the window at `index` while it lives, else null.
Window* live(int index);

// Calls the window's procedure without the lock; 0 for a window gone.
intptr_t call_procedure(int index, uint32_t message, uintptr_t wparam, intptr_t lparam);
// Runs `sent` on the thread that owns its window and waits for it.
intptr_t deliver(Sent& sent);
void handle_sent(Sent* sent);
// Under the lock: queues the message for the window's thread.
void post_locked(int index, uint32_t message, uintptr_t wparam, intptr_t lparam);

void trace_text(const char* label, int x, int y, const char* text, int length);

// The script of user actions (script_reader_posix.cpp), under the lock:
// starts reading standard input once; performs one action, false while it
// must wait for its control.
void start_reader_locked();
bool perform_locked(const char* action);

// The procedures of the stand-in's own classes.
intptr_t notice_procedure(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
intptr_t control_procedure(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);

}  // namespace headless
