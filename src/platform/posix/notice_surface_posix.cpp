// The notice pane's procedure on the headless window system: the pane's
// logic draws on a surface of its window, and its rows are traced.
#include <mutex>

#include "notice/notice_pane.h"
#include "platform/posix/headless_world.h"

namespace headless {
namespace {

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

}  // namespace

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

}  // namespace headless
