// The headless window system's message queue: one queue per window-owning
// thread, synchronous sends across threads (the sender handles what is sent
// to it while it waits, as a real send does), posted messages, the server
// thread's loop, and the trace on standard error.
#include <chrono>
#include <cstdarg>
#include <cstdio>

#include "platform/posix/headless_world.h"

namespace headless {

World& world() {
  static World* w = new World;
  return *w;
}

thread_local int current_owner = kNoThread;

namespace {
thread_local const char* current_posted_text = "";
}  // namespace

WindowHandle handle_of(int index) { return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(index + 1)); }

int index_of(WindowHandle handle) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value > static_cast<uintptr_t>(kMaxWindows)) return -1;
  return static_cast<int>(value - 1);
}

Window* live(int index) {
  if (index < 0 || index >= world().window_count) return nullptr;
  Window* w = &world().windows[index];
  return w->alive ? w : nullptr;
}

intptr_t call_procedure(int index, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  WindowProcedure procedure;
  {
    std::lock_guard<std::mutex> guard(world().lock);
    Window* w = live(index);
    if (w == nullptr) return 0;
    procedure = w->procedure;
  }
  return procedure(handle_of(index), message, wparam, lparam);
}

namespace {

void paint_if_dirty(int index) {
  {
    std::lock_guard<std::mutex> guard(world().lock);
    Window* w = live(index);
    if (w == nullptr || !w->dirty) return;
  }
  call_procedure(index, kWmPaint, 0, 0);
}

}  // namespace

void handle_sent(Sent* sent) {
  intptr_t result = 0;
  if (sent->paint_request) paint_if_dirty(sent->window);
  else result = call_procedure(sent->window, sent->message, sent->wparam, sent->lparam);
  std::lock_guard<std::mutex> guard(world().lock);
  sent->result = result;
  sent->done = true;
  world().changed.notify_all();
}

// Runs `sent` on the thread that owns its window and waits for it; while
// waiting, this thread handles what others send to it, as a real send does.
intptr_t deliver(Sent& sent) {
  int owner;
  {
    std::lock_guard<std::mutex> guard(world().lock);
    Window* w = live(sent.window);
    if (w == nullptr) return 0;
    owner = w->owner;
  }
  if (owner == current_owner || owner == kNoThread) {
    handle_sent(&sent);
    return sent.result;
  }
  std::unique_lock<std::mutex> lock(world().lock);
  world().queues[owner].inbox.push_back(&sent);
  world().changed.notify_all();
  while (!sent.done) {
    if (current_owner >= 0 && !world().queues[current_owner].inbox.empty()) {
      Sent* other = world().queues[current_owner].inbox.front();
      world().queues[current_owner].inbox.pop_front();
      lock.unlock();
      handle_sent(other);
      lock.lock();
      continue;
    }
    world().changed.wait(lock);
  }
  return sent.result;
}

void trace_text(const char* label, int x, int y, const char* text, int length) {
  trace("%s %d %d %.*s", label, x, y, length, text);
}

void post_locked(int index, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  Window* w = live(index);
  if (w == nullptr) return;
  Posted posted;
  posted.window = index;
  posted.message = message;
  posted.wparam = wparam;
  posted.lparam = lparam;
  world().queues[w->owner].posted.push_back(posted);
  world().changed.notify_all();
}

void adopt_thread(OwnerThread owner) { current_owner = owner; }

WindowHandle create_server_window(WindowProcedure procedure) {
  std::lock_guard<std::mutex> guard(world().lock);
  if (world().window_count == kMaxWindows) return nullptr;
  int index = world().window_count++;
  Window& w = world().windows[index];
  w.used = w.alive = true;
  w.kind = kServerKind;
  w.procedure = procedure;
  w.owner = kServerThread;
  return handle_of(index);
}

int top_level_windows(WindowHandle* out, int capacity) {
  std::lock_guard<std::mutex> guard(world().lock);
  int n = 0;
  for (int i = 0; i < world().window_count && n < capacity; ++i) {
    Window* w = live(i);
    if (w != nullptr && w->parent < 0) out[n++] = handle_of(i);
  }
  return n;
}

intptr_t send(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  Sent sent;
  sent.window = index_of(window);
  sent.message = message;
  sent.wparam = wparam;
  sent.lparam = lparam;
  return deliver(sent);
}

void post(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  std::lock_guard<std::mutex> guard(world().lock);
  post_locked(index_of(window), message, wparam, lparam);
}

void post_with_text(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam,
                    const char* text) {
  std::lock_guard<std::mutex> guard(world().lock);
  Window* w = live(index_of(window));
  if (w == nullptr) return;
  Posted posted;
  posted.window = index_of(window);
  posted.message = message;
  posted.wparam = wparam;
  posted.lparam = lparam;
  posted.has_text = true;
  std::snprintf(posted.text, sizeof posted.text, "%s", text != nullptr ? text : "");
  world().queues[w->owner].posted.push_back(posted);
  world().changed.notify_all();
}

const char* posted_text() { return current_posted_text; }

void run_server_loop() {
  std::unique_lock<std::mutex> lock(world().lock);
  ThreadQueue& queue = world().queues[kServerThread];
  for (;;) {
    if (!queue.inbox.empty()) {
      Sent* sent = queue.inbox.front();
      queue.inbox.pop_front();
      world().server_busy = true;
      lock.unlock();
      handle_sent(sent);
      lock.lock();
      world().server_busy = false;
      world().changed.notify_all();
      continue;
    }
    if (!queue.posted.empty()) {
      Posted posted = queue.posted.front();
      queue.posted.pop_front();
      world().server_busy = true;
      lock.unlock();
      current_posted_text = posted.text;
      call_procedure(posted.window, posted.message, posted.wparam, posted.lparam);
      current_posted_text = "";
      lock.lock();
      world().server_busy = false;
      world().changed.notify_all();
      continue;
    }
    world().changed.wait(lock);
  }
}

void settle_server() {
  std::unique_lock<std::mutex> lock(world().lock);
  world().changed.wait_for(lock, std::chrono::seconds(2), [] {
    const ThreadQueue& queue = world().queues[kServerThread];
    return queue.inbox.empty() && queue.posted.empty() && !world().server_busy;
  });
}

void trace(const char* format, ...) {
  char line[kTextSize + 64];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "%s\n", line);
  std::fflush(stderr);
}

}  // namespace headless
