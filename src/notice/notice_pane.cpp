#include "notice/notice_pane.h"

#include <cstdint>
#include <cstring>

#include "common/install_state.h"
#include "notice/notice_text.h"

NoticeState& notice_state() {
  static NoticeState state = {};
  return state;
}

void build_notice() {
  NoticeState& s = notice_state();
  if (s.notice_built == 1) return;
  s.notice_built = 1;
  for (int row = 0; row < kNoticeRowCount; ++row) {
    // The table is checked by the tests to fit its slot; cut rather than
    // overrun should it ever not.
    std::strncpy(s.notice_lines[row], kNoticeText[row], kNoticeRowSize - 1);
    s.notice_lines[row][kNoticeRowSize - 1] = '\0';
  }
  s.library_paragraph_first = kLibraryParagraphFirst;
  s.library_paragraph_last = kLibraryParagraphLast;
}

void layout_notice(NoticeSurface& surface) {
  NoticeState& s = notice_state();
  int height = surface.client_height();
  if (height <= 0) height = kNoticeFallbackHeight;
  s.visible_rows = height / kNoticeRowHeight;
  const int maximum = s.visible_rows + kNoticeScrollSpan;
  // A pane under one row high never comes from the wizard's fixed size;
  // give it no page rather than divide by zero.
  const int page = s.visible_rows > 0 ? maximum / s.visible_rows : 0;
  surface.set_scroll_info(0, maximum, page, s.top_row);
}

static bool library_paragraph_hidden() {
  return install_state().hide_library_paragraph == 1;
}

void paint_notice(NoticeSurface& surface) {
  NoticeState& s = notice_state();
  if (s.notice_font == nullptr) s.notice_font = surface.create_font(kNoticeFont);
  surface.begin_paint(s.notice_font, kNoticeBackgroundColour, kNoticeTextColour);

  // 64-bit so that no scroll position the platform hands back can overflow.
  int64_t n = int64_t{kNoticePaintSpan} - s.top_row;
  if (n > s.visible_rows) n = s.visible_rows;
  if (n > 0) {
    const bool hidden = library_paragraph_hidden();
    int64_t r = (hidden && s.top_row >= kLibraryParagraphFirst)
                    ? int64_t{s.top_row} + kLibraryParagraphRows
                    : int64_t{s.top_row};
    int y = kNoticeTextTop;
    for (int64_t drawn = 0; drawn < n;) {
      if (hidden && r >= kLibraryParagraphFirst && r <= kLibraryParagraphLast) {
        ++r;
        continue;
      }
      if (r > kNoticeLastRow) break;
      // A position above the first row shows background, never memory
      // before the table.
      if (r >= 0) {
        const char* text = s.notice_lines[r];
        surface.draw_text(kNoticeTextLeft, y, text, static_cast<int>(std::strlen(text)));
      }
      ++drawn;
      y += kNoticeRowHeight;
      ++r;
    }
  }
  surface.end_paint();
}

bool scroll_notice(NoticeSurface& surface, unsigned command, unsigned thumb_position) {
  NoticeState& s = notice_state();
  s.top_row = surface.scroll_position();
  // Bounds are applied in 64 bits and always land inside int.
  const int64_t top = s.top_row;
  const int64_t lowest_top = int64_t{kNoticeScrollSpan} - s.visible_rows;
  int64_t next = top;
  switch (command) {
    case kNoticeLineUp:
    case kNoticeLineDown:
      next = command == kNoticeLineUp ? top - 1 : top + 1;
      if (next < 0)
        next = 0;
      else if (next > lowest_top)
        next = lowest_top;
      break;
    case kNoticePageUp:
      next = top - s.visible_rows;
      if (next < 0) next = 0;
      break;
    case kNoticePageDown:
      next = top + s.visible_rows;
      if (next > lowest_top) next = lowest_top;
      break;
    case kNoticeThumbPosition:
      // Taken as released, even past the line bound; the next line command
      // brings it back.
      next = thumb_position & 0xFFFFu;
      break;
    default:
      return false;
  }
  s.top_row = static_cast<int>(next);
  surface.set_scroll_position(s.top_row);
  surface.repaint_now();
  return true;
}
