// The notice pane on the Win32 window system: a thin surface over the pane's
// own window, and the window procedure that drives the portable handlers.
#include "platform/win32/notice_win32.h"

#include <windows.h>

#include "notice/notice_pane.h"

namespace {

class Win32NoticeSurface : public NoticeSurface {
 public:
  explicit Win32NoticeSurface(HWND window) : window_(window) {}

  int client_height() override {
    RECT rect;
    if (!GetClientRect(window_, &rect)) return 0;
    return rect.bottom - rect.top;
  }

  NoticeFont create_font(const NoticeFontSpec& f) override {
    return CreateFontA(f.height, f.width, f.escapement, f.orientation, f.weight,
                       static_cast<DWORD>(f.italic), static_cast<DWORD>(f.underline),
                       static_cast<DWORD>(f.strike_out), static_cast<DWORD>(f.char_set),
                       static_cast<DWORD>(f.out_precision), static_cast<DWORD>(f.clip_precision),
                       static_cast<DWORD>(f.quality), static_cast<DWORD>(f.pitch_and_family), f.face);
  }

  void begin_paint(NoticeFont font, uint32_t background, uint32_t text) override {
    dc_ = BeginPaint(window_, &paint_);
    previous_font_ = font != nullptr ? SelectObject(dc_, static_cast<HFONT>(font)) : nullptr;
    previous_background_ = SetBkColor(dc_, background);
    previous_text_ = SetTextColor(dc_, text);
  }

  void draw_text(int x, int y, const char* text, int length) override {
    TextOutA(dc_, x, y, text, length);
  }

  void end_paint() override {
    if (previous_font_ != nullptr) SelectObject(dc_, previous_font_);
    if (previous_background_ != CLR_INVALID) SetBkColor(dc_, previous_background_);
    if (previous_text_ != CLR_INVALID) SetTextColor(dc_, previous_text_);
    EndPaint(window_, &paint_);
  }

  void set_scroll_info(int minimum, int maximum, int page, int position) override {
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = minimum;
    info.nMax = maximum;
    info.nPage = static_cast<UINT>(page);
    info.nPos = position;
    SetScrollInfo(window_, SB_VERT, &info, TRUE);
  }

  int scroll_position() override { return GetScrollPos(window_, SB_VERT); }

  void set_scroll_position(int position) override { SetScrollPos(window_, SB_VERT, position, TRUE); }

  void repaint_now() override {
    InvalidateRect(window_, nullptr, TRUE);
    UpdateWindow(window_);
  }

 private:
  HWND window_;
  HDC dc_ = nullptr;
  PAINTSTRUCT paint_ = {};
  HGDIOBJ previous_font_ = nullptr;
  COLORREF previous_background_ = CLR_INVALID;
  COLORREF previous_text_ = CLR_INVALID;
};

// The portable core numbers the scroll commands itself; they must agree.
static_assert(kNoticeLineUp == SB_LINEUP && kNoticeLineDown == SB_LINEDOWN &&
              kNoticePageUp == SB_PAGEUP && kNoticePageDown == SB_PAGEDOWN &&
              kNoticeThumbPosition == SB_THUMBPOSITION && kNoticeThumbTrack == SB_THUMBTRACK);
static_assert(kNoticeBackgroundColour == RGB(224, 223, 209) && kNoticeTextColour == RGB(108, 99, 51));

}  // namespace

LRESULT CALLBACK notice_pane_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  Win32NoticeSurface surface(window);
  switch (message) {
    case WM_NCCALCSIZE:
      // Arrives before WM_CREATE, so the rows exist before the first layout.
      build_notice();
      break;
    case WM_CREATE:
      layout_notice(surface);
      break;
    case WM_PAINT:
      paint_notice(surface);
      return 0;
    case WM_VSCROLL:
      if (scroll_notice(surface, LOWORD(wparam), HIWORD(wparam))) return 0;
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}
