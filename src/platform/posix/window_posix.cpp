// The native stand-in of the window system: headless windows with real
// procedures, a message queue per window-owning thread, synchronous sends
// and repaints across threads, and a script of user actions from standard
// input. What the program shows is traced, one line per event, on standard
// error; standard output stays the program's own.
#include <pthread.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>

#include "common/install_state.h"
#include "notice/notice_pane.h"
#include "platform/platform.h"
#include "platform/posix/headless.h"
#include "platform/shell_platform.h"

namespace headless {
namespace {

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

World& world() {
  static World* w = new World;
  return *w;
}

thread_local int current_owner = kNoThread;
thread_local const char* current_posted_text = "";

WindowHandle handle_of(int index) { return reinterpret_cast<WindowHandle>(static_cast<uintptr_t>(index + 1)); }

int index_of(WindowHandle handle) {
  uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value == 0 || value > static_cast<uintptr_t>(kMaxWindows)) return -1;
  return static_cast<int>(value - 1);
}

// Under the lock.
Window* live(int index) {
  if (index < 0 || index >= world().window_count) return nullptr;
  Window* w = &world().windows[index];
  return w->alive ? w : nullptr;
}

bool paints_itself(const Window& w) { return w.kind == kMainKind || w.kind == kNoticeKind; }

Rect client_of(const Window& w) {
  Rect rect;
  int width = w.width, height = w.height;
  if (w.kind == kMainKind) {
    width -= kFrameWidth;
    height -= kFrameHeight;
  } else {
    if (w.style & kWsBorder) {
      width -= 2;
      height -= 2;
    }
    if (w.style & kWsVScroll) width -= kScrollBarWidth;
  }
  rect.right = width > 0 ? width : 0;
  rect.bottom = height > 0 ? height : 0;
  return rect;
}

// Under the lock.
void mark_dirty(Window& w, const Rect* rect) {
  Rect client = client_of(w);
  Rect add = rect != nullptr ? *rect : client;
  if (!w.dirty) {
    w.dirty = true;
    w.dirty_rect = add;
  } else {
    if (add.left < w.dirty_rect.left) w.dirty_rect.left = add.left;
    if (add.top < w.dirty_rect.top) w.dirty_rect.top = add.top;
    if (add.right > w.dirty_rect.right) w.dirty_rect.right = add.right;
    if (add.bottom > w.dirty_rect.bottom) w.dirty_rect.bottom = add.bottom;
  }
  world().changed.notify_all();
}

intptr_t control_procedure(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Calls the window's procedure without the lock; 0 for a window gone.
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

void paint_if_dirty(int index) {
  {
    std::lock_guard<std::mutex> guard(world().lock);
    Window* w = live(index);
    if (w == nullptr || !w->dirty) return;
  }
  call_procedure(index, kWmPaint, 0, 0);
}

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

// --- The script of user actions -------------------------------------------

void* read_script(void*) {
  char line[kScriptLineSize];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    std::size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    Posted action;
    std::snprintf(action.text, sizeof action.text, "%s", line);
    std::lock_guard<std::mutex> guard(world().lock);
    world().actions.push_back(action);
    world().changed.notify_all();
  }
  std::lock_guard<std::mutex> guard(world().lock);
  world().input_ended = true;
  world().changed.notify_all();
  return nullptr;
}

// Under the lock. The live control of `kind` with identifier `id` on the UI
// thread; -1 when there is none.
int find_control(Kind kind, int id) {
  for (int i = 0; i < world().window_count; ++i) {
    Window* w = live(i);
    if (w != nullptr && w->kind == kind && w->owner == kUiThread && (id < 0 || w->id == id)) return i;
  }
  return -1;
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

// A button press: the button tells its parent, as a click does.
bool click_locked(int id) {
  int button = find_control(kButtonKind, id);
  if (button < 0) return false;
  post_locked(world().windows[button].parent, kWmCommand, static_cast<uintptr_t>(id),
              reinterpret_cast<intptr_t>(handle_of(button)));
  return true;
}

// Under the lock. False while the action must wait (its control is not there yet).
bool perform_locked(const char* action) {
  if (std::strncmp(action, "click ", 6) == 0) return click_locked(std::atoi(action + 6));
  if (std::strcmp(action, "type") == 0 || std::strncmp(action, "type ", 5) == 0) {
    int edit = find_control(kEditKind, -1);
    if (edit < 0) return false;
    const char* text = action[4] == ' ' ? action + 5 : "";
    std::snprintf(world().windows[edit].text, kTextSize, "%s", text);
    return true;
  }
  if (std::strcmp(action, "browse") == 0 || std::strncmp(action, "browse ", 7) == 0) {
    if (find_control(kButtonKind, 3) < 0) return false;
    world().browse_answered = action[6] == ' ';
    std::snprintf(world().browse_answer, sizeof world().browse_answer, "%s",
                  world().browse_answered ? action + 7 : "");
    return click_locked(3);
  }
  if (std::strncmp(action, "scroll ", 7) == 0) {
    unsigned code = 0, position = 0;
    int pane = find_control(kNoticeKind, -1);
    // Without a pane the action has nothing to act on.
    if (pane >= 0 && std::sscanf(action + 7, "%u %u", &code, &position) >= 1) {
      post_locked(pane, kWmVScroll, (code & 0xFFFF) | ((position & 0xFFFF) << 16), 0);
    }
    return true;
  }
  return true;  // an empty or unknown line does nothing
}

void start_reader_locked() {
  if (world().reader_started) return;
  world().reader_started = true;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, read_script, nullptr) != 0) {
    world().input_ended = true;
    return;
  }
  pthread_detach(thread);
}

// --- The notice pane's procedure over a surface of its window ------------

class HeadlessNoticeSurface : public NoticeSurface {
 public:
  explicit HeadlessNoticeSurface(WindowHandle window) : window_(window) {}
  int client_height() override {
    Rect rect;
    if (!window_system().get_client_rect(window_, &rect)) return 0;
    return rect.bottom - rect.top;
  }
  NoticeFont create_font(const NoticeFontSpec&) override {
    std::lock_guard<std::mutex> guard(world().lock);
    return reinterpret_cast<NoticeFont>(world().next_object++);
  }
  void begin_paint(NoticeFont, uint32_t, uint32_t) override {
    context_ = window_system().begin_paint(window_);
    trace("pane %d", notice_state().top_row);
  }
  void draw_text(int x, int y, const char* text, int length) override {
    trace_text("row", x, y, text, length);
  }
  void end_paint() override { window_system().end_paint(window_, context_); }
  void set_scroll_info(int minimum, int maximum, int page, int position) override {
    std::lock_guard<std::mutex> guard(world().lock);
    Window* w = live(index_of(window_));
    if (w == nullptr) return;
    w->scroll_min = minimum;
    w->scroll_max = maximum;
    w->scroll_page = page;
    w->scroll_position = clamp(*w, position);
  }
  int scroll_position() override {
    std::lock_guard<std::mutex> guard(world().lock);
    Window* w = live(index_of(window_));
    return w != nullptr ? w->scroll_position : 0;
  }
  // The thumb stays within the range less the page, as a real bar keeps it.
  void set_scroll_position(int position) override {
    std::lock_guard<std::mutex> guard(world().lock);
    Window* w = live(index_of(window_));
    if (w != nullptr) w->scroll_position = clamp(*w, position);
  }
  void repaint_now() override {
    window_system().invalidate_rect(window_, nullptr, true);
    window_system().update_window(window_);
  }

 private:
  static int clamp(const Window& w, int position) {
    int page = w.scroll_page > 0 ? w.scroll_page - 1 : 0;
    int highest = w.scroll_max - page;
    if (highest < w.scroll_min) highest = w.scroll_min;
    if (position > highest) position = highest;
    if (position < w.scroll_min) position = w.scroll_min;
    return position;
  }
  WindowHandle window_;
  PaintContext context_ = nullptr;
};

intptr_t notice_procedure(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  HeadlessNoticeSurface surface(window);
  switch (message) {
    case kWmNcCalcSize:
      build_notice();
      break;
    case kWmCreate:
      layout_notice(surface);
      break;
    case kWmPaint:
      paint_notice(surface);
      return 0;
    case kWmVScroll:
      if (scroll_notice(surface, wparam & 0xFFFF, (wparam >> 16) & 0xFFFF)) return 0;
      break;
    default:
      break;
  }
  return window_system().default_procedure(window, message, wparam, lparam);
}

// Push buttons and the edit box: they keep a text.
intptr_t control_procedure(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return window_system().default_procedure(window, message, wparam, lparam);
}

// --- The window system -------------------------------------------------------

class HeadlessWindowSystem : public WindowSystem {
 public:
  bool register_main_class(const char* class_name, WindowProcedure procedure, uint32_t) override {
    std::lock_guard<std::mutex> guard(world().lock);
    if (world().main_procedure != nullptr || std::strlen(class_name) >= kClassNameSize) return false;
    std::strcpy(world().main_class, class_name);
    world().main_procedure = procedure;
    return true;
  }

  bool register_notice_class(DrawingObject) override {
    std::lock_guard<std::mutex> guard(world().lock);
    world().notice_registered = true;
    return true;
  }

  WindowHandle create_window(uint32_t, const char* class_name, const char* text, uint32_t style, int x,
                             int y, int width, int height, WindowHandle parent, int id) override {
    int index;
    Kind kind;
    {
      std::lock_guard<std::mutex> guard(world().lock);
      WindowProcedure procedure = control_procedure;
      if (world().main_procedure != nullptr && std::strcmp(class_name, world().main_class) == 0) {
        kind = kMainKind;
        procedure = world().main_procedure;
      } else if (world().notice_registered && std::strcmp(class_name, "MDICLIENT") == 0) {
        kind = kNoticeKind;
        procedure = notice_procedure;
      } else if (std::strcmp(class_name, "BUTTON") == 0) {
        kind = kButtonKind;
      } else if (std::strcmp(class_name, "EDIT") == 0) {
        kind = kEditKind;
      } else {
        return nullptr;
      }
      int parent_index = -1;
      if (parent != nullptr) {
        parent_index = index_of(parent);
        if (live(parent_index) == nullptr) return nullptr;
      }
      if (world().window_count == kMaxWindows) return nullptr;
      index = world().window_count++;
      Window& w = world().windows[index];
      w.used = w.alive = true;
      w.kind = kind;
      w.style = style;
      w.procedure = procedure;
      w.parent = parent_index;
      w.id = parent_index >= 0 ? id : 0;
      w.owner = current_owner >= 0 ? current_owner : kUiThread;
      std::snprintf(w.text, kTextSize, "%s", text != nullptr ? text : "");
      w.x = x;
      w.y = y;
      w.width = width;
      w.height = height;
    }
    if (parent == nullptr) trace("title %s", text != nullptr ? text : "");
    else trace("create %d %s %d %d %d %d %s", id, class_name, x, y, width, height, text != nullptr ? text : "");
    if (kind == kMainKind || kind == kNoticeKind) {
      call_procedure(index, kWmNcCalcSize, 0, 0);
      if (call_procedure(index, kWmCreate, 0, 0) == -1) {
        destroy_window(handle_of(index));
        return nullptr;
      }
    }
    if (style & kWsVisible) show_window(handle_of(index), kSwShow);
    return handle_of(index);
  }

  void show_window(WindowHandle window, int mode) override {
    std::lock_guard<std::mutex> guard(world().lock);
    Window* w = live(index_of(window));
    if (w == nullptr) return;
    bool was_visible = w->visible;
    w->visible = mode != 0;
    if (w->visible && !was_visible && paints_itself(*w)) mark_dirty(*w, nullptr);
  }

  bool destroy_window(WindowHandle window) override {
    int index = index_of(window);
    {
      std::lock_guard<std::mutex> guard(world().lock);
      if (live(index) == nullptr) return false;
    }
    call_procedure(index, kWmDestroy, 0, 0);
    std::lock_guard<std::mutex> guard(world().lock);
    kill_locked(index);
    world().changed.notify_all();
    return true;
  }

  bool move_window(WindowHandle window, int x, int y, int width, int height, bool repaint) override {
    std::lock_guard<std::mutex> guard(world().lock);
    Window* w = live(index_of(window));
    if (w == nullptr) return false;
    w->x = x;
    w->y = y;
    w->width = width;
    w->height = height;
    if (repaint && w->visible && paints_itself(*w)) mark_dirty(*w, nullptr);
    return true;
  }

  bool read_screen_size(WindowHandle, int* width, int* height) override {
    *width = kScreenWidth;
    *height = kScreenHeight;
    return true;
  }

  bool get_client_rect(WindowHandle window, Rect* rect) override {
    std::lock_guard<std::mutex> guard(world().lock);
    Window* w = live(index_of(window));
    if (w == nullptr) return false;
    *rect = client_of(*w);
    return true;
  }

  void invalidate_rect(WindowHandle window, const Rect* rect, bool) override {
    std::lock_guard<std::mutex> guard(world().lock);
    Window* w = live(index_of(window));
    if (w != nullptr && paints_itself(*w)) mark_dirty(*w, rect);
  }

  void update_window(WindowHandle window) override {
    Sent sent;
    sent.window = index_of(window);
    sent.paint_request = true;
    deliver(sent);
  }

  void set_focus(WindowHandle) override {}

  intptr_t send_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    return send(window, message, wparam, lparam);
  }

  intptr_t default_procedure(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    int index = index_of(window);
    switch (message) {
      case kWmClose:
        destroy_window(window);
        return 0;
      case kWmPaint: {
        std::lock_guard<std::mutex> guard(world().lock);
        if (Window* w = live(index)) w->dirty = false;
        return 0;
      }
      case kWmSetText: {
        const char* text = reinterpret_cast<const char*>(lparam);
        int id;
        bool traced;
        {
          std::lock_guard<std::mutex> guard(world().lock);
          Window* w = live(index);
          if (w == nullptr) return 0;
          std::snprintf(w->text, kTextSize, "%s", text != nullptr ? text : "");
          id = w->id;
          traced = w->parent >= 0;
        }
        if (traced) trace("set %d %s", id, text != nullptr ? text : "");
        return 1;
      }
      case kWmGetText: {
        std::lock_guard<std::mutex> guard(world().lock);
        Window* w = live(index);
        char* out = reinterpret_cast<char*>(lparam);
        if (w == nullptr || out == nullptr || wparam == 0) return 0;
        std::size_t n = std::strlen(w->text);
        if (n > wparam - 1) n = wparam - 1;
        std::memcpy(out, w->text, n);
        out[n] = '\0';
        return static_cast<intptr_t>(n);
      }
      case kEmLineLength: {
        std::lock_guard<std::mutex> guard(world().lock);
        Window* w = live(index);
        return w != nullptr ? static_cast<intptr_t>(std::strlen(w->text)) : 0;
      }
      default:
        return 0;
    }
  }

  int get_message(WindowMessage* message, WindowHandle filter) override {
    int filter_index = index_of(filter);
    std::unique_lock<std::mutex> lock(world().lock);
    start_reader_locked();
    ThreadQueue& queue = world().queues[kUiThread];
    for (;;) {
      if (live(filter_index) == nullptr) return -1;
      if (!queue.inbox.empty()) {
        Sent* sent = queue.inbox.front();
        queue.inbox.pop_front();
        lock.unlock();
        handle_sent(sent);
        lock.lock();
        continue;
      }
      if (!queue.posted.empty()) {
        Posted posted = queue.posted.front();
        queue.posted.pop_front();
        if (live(posted.window) == nullptr) continue;
        message->window = handle_of(posted.window);
        message->message = posted.message;
        message->wparam = posted.wparam;
        message->lparam = posted.lparam;
        return 1;
      }
      for (int i = 0; i < world().window_count; ++i) {
        Window* w = live(i);
        if (w != nullptr && w->owner == kUiThread && w->dirty) {
          message->window = handle_of(i);
          message->message = kWmPaint;
          message->wparam = 0;
          message->lparam = 0;
          return 1;
        }
      }
      // Idle: the next action of the script, once it can be performed.
      if (!world().actions.empty()) {
        if (perform_locked(world().actions.front().text)) {
          world().actions.pop_front();
          continue;
        }
      } else if (world().input_ended && !world().close_sent) {
        world().close_sent = true;
        post_locked(filter_index, kWmClose, 0, 0);
        continue;
      }
      world().changed.wait(lock);
    }
  }

  void translate_message(const WindowMessage&) override {}

  void dispatch_message(const WindowMessage& message) override {
    call_procedure(index_of(message.window), message.message, message.wparam, message.lparam);
  }

  DrawingObject create_solid_brush(uint32_t) override { return new_object(); }
  DrawingObject create_font(const FontSpec&) override { return new_object(); }
  void delete_object(DrawingObject) override {}

  PaintContext begin_paint(WindowHandle window) override {
    Paint* paint = new Paint;
    paint->window = index_of(window);
    bool whole = false;
    {
      std::lock_guard<std::mutex> guard(world().lock);
      Window* w = live(paint->window);
      if (w != nullptr) {
        Rect client = client_of(*w);
        whole = w->dirty && w->dirty_rect.left <= 0 && w->dirty_rect.top <= 0 &&
                w->dirty_rect.right >= client.right && w->dirty_rect.bottom >= client.bottom;
        paint->traced = whole && w->kind == kMainKind;
        w->dirty = false;
      }
    }
    if (paint->traced) trace("paint %d", install_state().page);
    return paint;
  }

  void end_paint(WindowHandle, PaintContext context) override { delete static_cast<Paint*>(context); }

  uint32_t set_text_color(PaintContext context, uint32_t color) override {
    Paint* paint = static_cast<Paint*>(context);
    uint32_t previous = paint->text_color;
    paint->text_color = color;
    return previous;
  }

  uint32_t set_background_color(PaintContext context, uint32_t color) override {
    Paint* paint = static_cast<Paint*>(context);
    uint32_t previous = paint->background_color;
    paint->background_color = color;
    return previous;
  }

  DrawingObject select_object(PaintContext context, DrawingObject object) override {
    Paint* paint = static_cast<Paint*>(context);
    DrawingObject previous = paint->font;
    paint->font = object;
    return previous;
  }

  void text_out(PaintContext context, int x, int y, const char* text, int length) override {
    if (static_cast<Paint*>(context)->traced) trace_text("text", x, y, text, length);
  }

  void message_box(const char* text, const char* caption) override { show_message_box(text, caption); }

 private:
  DrawingObject new_object() {
    std::lock_guard<std::mutex> guard(world().lock);
    return reinterpret_cast<DrawingObject>(world().next_object++);
  }

  // Under the lock: the window and its descendants are gone.
  static void kill_locked(int index) {
    Window& w = world().windows[index];
    w.alive = false;
    if (w.parent >= 0) trace("destroy %d", w.id);
    for (int i = 0; i < world().window_count; ++i) {
      if (world().windows[i].alive && world().windows[i].parent == index) kill_locked(i);
    }
  }
};

class HeadlessFolderPicker : public FolderPicker {
 public:
  // The script's "browse PATH" answers; "browse" alone cancels.
  PickedFolder browse_for_folder(WindowHandle, const char*, char* display_name) override {
    std::lock_guard<std::mutex> guard(world().lock);
    if (!world().browse_answered) return nullptr;
    const char* answer = world().browse_answer;
    const char* slash = std::strrchr(answer, '/');
    const char* name = slash != nullptr && slash[1] != '\0' ? slash + 1 : answer;
    std::snprintf(display_name, kPathBufferSize, "%s", name);
    std::snprintf(chosen_, sizeof chosen_, "%s", answer);
    return chosen_;
  }
  // The native path in the program's own "\" form.
  bool path_from_item(PickedFolder item, char* path) override {
    const char* native = static_cast<const char*>(item);
    std::size_t n = std::strlen(native);
    if (n == 0 || n >= kPathBufferSize) return false;
    for (std::size_t i = 0; i <= n; ++i) path[i] = native[i] == '/' ? '\\' : native[i];
    return true;
  }

 private:
  char chosen_[kPathBufferSize] = {};
};

class PosixThreads : public ThreadStarter {
 public:
  bool start_thread(ThreadEntry entry, void* parameter) override {
    Start* start = new Start{entry, parameter};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, run, start) != 0) {
      delete start;
      return false;
    }
    pthread_detach(thread);
    return true;
  }
  void sleep(uint32_t milliseconds) override {
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {
    }
  }

 private:
  struct Start {
    ThreadEntry entry;
    void* parameter;
  };
  static void* run(void* raw) {
    Start start = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    start.entry(start.parameter);
    return nullptr;
  }
};

class PosixAccount : public AccountReader {
 public:
  void user_name(char* buffer, uint32_t size) override {
    if (size == 0) return;
    struct passwd* entry = getpwuid(getuid());
    std::snprintf(buffer, size, "%s", entry != nullptr ? entry->pw_name : "");
  }
};

class PosixProcess : public ProcessControl {
 public:
  void write_line(const char* line) override {
    std::puts(line);
    std::fflush(stdout);
  }
  // Other threads may still be running: nothing is torn down under them.
  // The group server stands for another program, which would go on to
  // take what was posted to it: it gets a moment to do so. Only the output
  // streams are flushed: flushing all of them would wait for standard
  // input's lock, which the script reader holds while it waits for a line.
  void end_process(int status) override {
    settle_server();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
  }
};

}  // namespace

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

WindowSystem& window_system() {
  static HeadlessWindowSystem* system = new HeadlessWindowSystem;
  return *system;
}

}  // namespace headless

ShellPorts platform_shell_ports() {
  static headless::HeadlessFolderPicker* folders = new headless::HeadlessFolderPicker;
  static headless::PosixThreads* threads = new headless::PosixThreads;
  static headless::PosixAccount* account = new headless::PosixAccount;
  static headless::PosixProcess* process = new headless::PosixProcess;
  // The caller's thread runs the message loop and owns the main window.
  headless::adopt_thread(headless::kUiThread);
  headless::start_group_server();
  ShellPorts ports;
  ports.windows = &headless::window_system();
  ports.folders = folders;
  ports.threads = threads;
  ports.account = account;
  ports.process = process;
  return ports;
}
