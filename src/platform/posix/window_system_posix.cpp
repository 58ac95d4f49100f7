// The native stand-in of the window system: headless windows with real
// procedures, synchronous repaints across threads, and what the program
// shows traced, one line per event, on standard error; standard output
// stays the program's own.
#include <cstdio>
#include <cstring>

#include "common/install_state.h"
#include "platform/platform.h"
#include "platform/posix/headless_world.h"

namespace headless {
namespace {

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

}  // namespace

// Push buttons and the edit box: they keep a text.
intptr_t control_procedure(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return window_system().default_procedure(window, message, wparam, lparam);
}

WindowSystem& window_system() {
  static HeadlessWindowSystem* system = new HeadlessWindowSystem;
  return *system;
}

}  // namespace headless
