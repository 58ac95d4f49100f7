// The licence notice pane of the first wizard page: a read-only text view
// with its own vertical scroll bar. The logic here (content, display-row
// mapping, scroll arithmetic, drawing order) is free of any window system;
// the platform supplies a NoticeSurface.
#pragma once

#include <cstdint>

constexpr int kNoticeRowCount = 385;  // content rows 0 to 384
constexpr int kNoticeRowSize = 80;    // at most 79 characters and the NUL
constexpr int kNoticeLastRow = kNoticeRowCount - 1;

// Rows 5 to 10 (the maker's library paragraph and the blank row after it)
// are left out of the display while InstallState::hide_library_paragraph is 1.
constexpr int kLibraryParagraphFirst = 5;
constexpr int kLibraryParagraphLast = 10;
constexpr int kLibraryParagraphRows = kLibraryParagraphLast - kLibraryParagraphFirst + 1;

// Geometry of a paint, in pixels of the pane's client area.
constexpr int kNoticeRowHeight = 20;
constexpr int kNoticeTextLeft = 5;
constexpr int kNoticeTextTop = 5;

// The scroll bar holds a few rows more than the text; both the line bounds
// and the paint bound below come from these.
constexpr int kNoticeScrollSpan = 390;  // range maximum is visible_rows + this
constexpr int kNoticePaintSpan = 386;   // a paint draws at most this - top_row rows

// Client height used when the platform cannot tell (or says 0).
constexpr int kNoticeFallbackHeight = 500;

// Scroll bar commands, as the platform numbers them (low word of the message).
constexpr int kNoticeLineUp = 0;
constexpr int kNoticeLineDown = 1;
constexpr int kNoticePageUp = 2;
constexpr int kNoticePageDown = 3;
constexpr int kNoticeThumbPosition = 4;
constexpr int kNoticeThumbTrack = 5;

// Colours as the platform packs them: 0x00BBGGRR.
constexpr uint32_t notice_rgb(uint32_t r, uint32_t g, uint32_t b) {
  return r | (g << 8) | (b << 16);
}
constexpr uint32_t kNoticeBackgroundColour = notice_rgb(224, 223, 209);
constexpr uint32_t kNoticeTextColour = notice_rgb(108, 99, 51);

// The pane's font, passed field by field to the platform's font factory.
struct NoticeFontSpec {
  int height;
  int width;
  int escapement;
  int orientation;
  int weight;
  int italic;
  int underline;
  int strike_out;
  int char_set;
  int out_precision;
  int clip_precision;
  int quality;
  int pitch_and_family;
  const char* face;
};
constexpr NoticeFontSpec kNoticeFont = {18, 9, 0, 0, 400, 0, 0, 0, 0, 0, 0, 2, 0, "Times New Roman"};

// Opaque font handle of the platform (HFONT on Windows); null means none.
using NoticeFont = void*;

// What the pane needs of the platform. Each call maps onto one or two
// window-system calls on the pane's own window.
class NoticeSurface {
 public:
  virtual ~NoticeSurface() = default;

  // Height of the pane's client area in pixels; 0 when it cannot be read.
  virtual int client_height() = 0;

  // Makes the pane's font from `spec`; null when that fails (the paint then
  // keeps the device's font and the next paint tries again).
  virtual NoticeFont create_font(const NoticeFontSpec& spec) = 0;

  // Starts a paint: selects `font` (when not null) and the two colours,
  // keeping what was selected before. The background mode stays opaque.
  // Called once per paint, with notice_state().top_row already final, so a
  // recording surface can label the paint with it here.
  virtual void begin_paint(NoticeFont font, uint32_t background, uint32_t text) = 0;
  // Draws `length` characters of `text` with the top-left corner at (x, y).
  virtual void draw_text(int x, int y, const char* text, int length) = 0;
  // Restores the previous font and colours and ends the paint.
  virtual void end_paint() = 0;

  // The vertical scroll bar: range, page and position at once (redraw on).
  virtual void set_scroll_info(int minimum, int maximum, int page, int position) = 0;
  // The bar's current position.
  virtual int scroll_position() = 0;
  // Moves the bar's thumb (redraw on).
  virtual void set_scroll_position(int position) = 0;

  // Invalidates the whole pane (erasing) and repaints it before returning.
  virtual void repaint_now() = 0;
};

// Process-wide pane state; only the UI thread touches it.
struct NoticeState {
  char notice_lines[kNoticeRowCount][kNoticeRowSize];
  int notice_built;
  int top_row;  // display row at the top of the pane: the scroll position
  int visible_rows;
  NoticeFont notice_font;  // made at the first paint, never deleted
  int library_paragraph_first;
  int library_paragraph_last;
};

NoticeState& notice_state();

// Fills notice_lines once per process.
void build_notice();

// Sets visible_rows from the pane's client height and sets up the scroll bar
// (range 0 to visible_rows + 390, page (visible_rows + 390) / visible_rows,
// position top_row).
void layout_notice(NoticeSurface& surface);

// Draws the rows of the whole pane from top_row downward.
void paint_notice(NoticeSurface& surface);

// Moves top_row for commands 0 to 4 and repaints at once; `thumb_position`
// (0 to 65535) is used by kNoticeThumbPosition only. False for any other
// command, which the caller passes on to default processing.
bool scroll_notice(NoticeSurface& surface, unsigned command, unsigned thumb_position);
