// Layout, display rows, painting and scrolling of the notice pane, driven
// through a recording surface.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "common/install_state.h"
#include "notice/notice_pane.h"
#include "recording_surface.h"

namespace {

class NoticePane : public ::testing::Test {
 protected:
  void SetUp() override {
    notice_state() = {};
    install_state().hide_library_paragraph = 1;
    build_notice();
    layout_notice(surface);  // 290 pixels: 14 rows
  }

  // The content rows the last paint drew, told by where each text came
  // from, checking the row geometry on the way.
  std::vector<int> drawn_rows() {
    std::vector<int> rows;
    const char* base = notice_state().notice_lines[0];
    for (const DrawnRow& d : surface.drawn) {
      EXPECT_EQ(d.x, 5);
      const long offset = d.source - base;
      EXPECT_TRUE(offset >= 0 && offset < kNoticeRowCount * kNoticeRowSize && offset % kNoticeRowSize == 0)
          << "text from outside the rows";
      EXPECT_EQ(d.text, std::string(d.source));  // the whole row, its own length
      rows.push_back(static_cast<int>(offset / kNoticeRowSize));
    }
    return rows;
  }

  std::vector<int> range(int first, int last) {
    std::vector<int> rows;
    for (int r = first; r <= last; ++r) rows.push_back(r);
    return rows;
  }

  std::vector<int> paint_at(int top, int flag) {
    install_state().hide_library_paragraph = flag;
    notice_state().top_row = top;
    paint_notice(surface);
    return drawn_rows();
  }

  RecordingSurface surface;
};

TEST_F(NoticePane, LayoutFromClientHeight) {
  EXPECT_EQ(notice_state().visible_rows, 14);
  EXPECT_EQ(surface.bar_minimum, 0);
  EXPECT_EQ(surface.bar_maximum, 404);
  EXPECT_EQ(surface.bar_page, 28);
  EXPECT_EQ(surface.bar_position, 0);

  surface.height = 299;
  layout_notice(surface);
  EXPECT_EQ(notice_state().visible_rows, 14);
  surface.height = 300;
  layout_notice(surface);
  EXPECT_EQ(notice_state().visible_rows, 15);
  EXPECT_EQ(surface.bar_maximum, 405);
  EXPECT_EQ(surface.bar_page, 27);  // 405 / 15

  // Unreadable height: taken as 500 pixels.
  surface.height = 0;
  layout_notice(surface);
  EXPECT_EQ(notice_state().visible_rows, 25);

  // Under one row: no rows, no page, and no division by zero.
  surface.height = 19;
  layout_notice(surface);
  EXPECT_EQ(notice_state().visible_rows, 0);
  EXPECT_EQ(surface.bar_maximum, 390);
  EXPECT_EQ(surface.bar_page, 0);
  paint_notice(surface);
  EXPECT_TRUE(surface.drawn.empty());

  // The bar starts at the pane's scroll position.
  surface.height = 290;
  notice_state().top_row = 7;
  layout_notice(surface);
  EXPECT_EQ(surface.bar_position, 7);
}

TEST_F(NoticePane, FirstScreenWithAndWithoutLibraryParagraph) {
  std::vector<int> hidden = range(0, 4);
  for (int r : range(11, 19)) hidden.push_back(r);
  EXPECT_EQ(paint_at(0, 1), hidden);
  ASSERT_EQ(surface.drawn.size(), 14u);
  for (size_t i = 0; i < surface.drawn.size(); ++i)
    EXPECT_EQ(surface.drawn[i].y, 5 + 20 * static_cast<int>(i));
  EXPECT_EQ(surface.drawn[5].text, std::string(79, '-'));  // the rule

  EXPECT_EQ(paint_at(0, 0), range(0, 13));
  EXPECT_NE(surface.drawn[6].text.find("Norvexa"), std::string::npos);
}

TEST_F(NoticePane, RowsAroundTheLeftOutParagraph) {
  std::vector<int> rows = paint_at(5, 1);
  EXPECT_EQ(rows, range(11, 24));
  EXPECT_EQ(surface.drawn[0].y, 5);

  std::vector<int> want = {3, 4};
  for (int r : range(11, 22)) want.push_back(r);
  EXPECT_EQ(paint_at(3, 1), want);
  EXPECT_EQ(surface.drawn[2].y, 45);  // row 11 straight after row 4
}

TEST_F(NoticePane, LastScreens) {
  EXPECT_EQ(paint_at(376, 1), range(382, 384));
  EXPECT_EQ(paint_at(376, 0), range(376, 384));
  EXPECT_EQ(surface.drawn.back().y, 5 + 20 * 8);
  // The thumb released past the line bound.
  EXPECT_EQ(paint_at(377, 1), range(383, 384));
  EXPECT_EQ(paint_at(377, 0), range(377, 384));
  // Far past the end nothing is drawn, but the paint still begins and ends.
  int paints = surface.paints;
  EXPECT_TRUE(paint_at(65535, 0).empty());
  EXPECT_EQ(surface.paints, paints + 1);
  EXPECT_FALSE(surface.in_paint);
  EXPECT_TRUE(paint_at(INT_MAX, 1).empty());
}

TEST_F(NoticePane, PositionAboveTheFirstRowShowsBackground) {
  // No platform should hand this back, but it must not read before the table.
  EXPECT_EQ(paint_at(-2, 0), range(0, 11));
  EXPECT_EQ(surface.drawn[0].y, 45);
  EXPECT_EQ(paint_at(INT_MIN, 1).size(), 0u);
}

TEST_F(NoticePane, FontAndColours) {
  paint_notice(surface);
  paint_notice(surface);
  EXPECT_EQ(surface.fonts_created, 1);  // made once, kept
  EXPECT_NE(surface.paint_font, nullptr);
  EXPECT_EQ(surface.font_spec.height, 18);
  EXPECT_EQ(surface.font_spec.width, 9);
  EXPECT_EQ(surface.font_spec.weight, 400);
  EXPECT_EQ(surface.font_spec.quality, 2);
  EXPECT_STREQ(surface.font_spec.face, "Times New Roman");
  EXPECT_EQ(surface.paint_background, 0x00D1DFE0u);  // RGB(224, 223, 209)
  EXPECT_EQ(surface.paint_text, 0x0033636Cu);        // RGB(108, 99, 51)
  EXPECT_FALSE(surface.drew_outside_paint);
  EXPECT_FALSE(surface.in_paint);
}

TEST_F(NoticePane, FontFailureDrawsAnywayAndRetries) {
  surface.font_fails = true;
  paint_notice(surface);
  EXPECT_EQ(surface.paint_font, nullptr);
  EXPECT_EQ(surface.drawn.size(), 14u);
  surface.font_fails = false;
  paint_notice(surface);
  EXPECT_EQ(surface.fonts_created, 1);
  EXPECT_NE(surface.paint_font, nullptr);
}

TEST_F(NoticePane, LineBounds) {
  surface.bar_position = 0;
  EXPECT_TRUE(scroll_notice(surface, kNoticeLineUp, 0));
  EXPECT_EQ(notice_state().top_row, 0);
  EXPECT_EQ(surface.repaints, 1);  // repainted although nothing moved
  EXPECT_EQ(surface.positions_set.back(), 0);

  surface.bar_position = 375;
  EXPECT_TRUE(scroll_notice(surface, kNoticeLineDown, 0));
  EXPECT_EQ(notice_state().top_row, 376);
  EXPECT_TRUE(scroll_notice(surface, kNoticeLineDown, 0));
  EXPECT_EQ(notice_state().top_row, 376);  // 390 - 14
  EXPECT_TRUE(scroll_notice(surface, kNoticeLineUp, 0));
  EXPECT_EQ(notice_state().top_row, 375);

  // Line up also applies the upper bound.
  surface.bar_position = 400;
  scroll_notice(surface, kNoticeLineUp, 0);
  EXPECT_EQ(notice_state().top_row, 376);
  surface.bar_position = -5;
  scroll_notice(surface, kNoticeLineDown, 0);
  EXPECT_EQ(notice_state().top_row, 0);
  EXPECT_EQ(surface.repaints, 6);
}

TEST_F(NoticePane, PageBounds) {
  surface.bar_position = 0;
  scroll_notice(surface, kNoticePageDown, 0);
  EXPECT_EQ(notice_state().top_row, 14);
  surface.bar_position = 370;
  scroll_notice(surface, kNoticePageDown, 0);
  EXPECT_EQ(notice_state().top_row, 376);
  surface.bar_position = 10;
  scroll_notice(surface, kNoticePageUp, 0);
  EXPECT_EQ(notice_state().top_row, 0);

  // Page up has no upper bound, page down no lower one.
  surface.bar_position = 400;
  scroll_notice(surface, kNoticePageUp, 0);
  EXPECT_EQ(notice_state().top_row, 386);
  surface.bar_position = -20;
  scroll_notice(surface, kNoticePageDown, 0);
  EXPECT_EQ(notice_state().top_row, -6);
  EXPECT_EQ(surface.repaints, 5);
}

TEST_F(NoticePane, ThumbReleasePastTheBoundThenLineBack) {
  // A real bar with range 0..404 and page 28 holds the thumb at most at 377.
  surface.bar_limit = 377;
  EXPECT_TRUE(scroll_notice(surface, kNoticeThumbPosition, 377));
  EXPECT_EQ(notice_state().top_row, 377);
  EXPECT_EQ(surface.positions_set.back(), 377);
  EXPECT_EQ(surface.repaints, 1);
  scroll_notice(surface, kNoticeLineDown, 0);
  EXPECT_EQ(notice_state().top_row, 376);

  // The next command starts from where the bar holds the thumb, not from
  // what was last asked of it.
  surface.bar_position = 377;
  notice_state().top_row = 380;
  scroll_notice(surface, kNoticeLineUp, 0);
  EXPECT_EQ(notice_state().top_row, 376);

  // Only the low 16 bits of the position count.
  scroll_notice(surface, kNoticeThumbPosition, 0x10005);
  EXPECT_EQ(notice_state().top_row, 5);
  scroll_notice(surface, kNoticeThumbPosition, 65535);
  EXPECT_EQ(notice_state().top_row, 65535);
}

TEST_F(NoticePane, OtherCommandsAreLeftToDefaultProcessing) {
  surface.bar_position = 12;
  for (unsigned command : {5u, 6u, 7u, 8u, 100u, 65535u}) {
    EXPECT_FALSE(scroll_notice(surface, command, 300)) << command;
    EXPECT_EQ(notice_state().top_row, 12);
  }
  EXPECT_EQ(surface.repaints, 0);
  EXPECT_TRUE(surface.positions_set.empty());
}

TEST_F(NoticePane, ExtremeBarPositionsDoNotOverflow) {
  surface.bar_position = INT_MAX;
  scroll_notice(surface, kNoticeLineDown, 0);
  EXPECT_EQ(notice_state().top_row, 376);
  surface.bar_position = INT_MAX;
  scroll_notice(surface, kNoticePageDown, 0);
  EXPECT_EQ(notice_state().top_row, 376);
  surface.bar_position = INT_MIN;
  scroll_notice(surface, kNoticeLineUp, 0);
  EXPECT_EQ(notice_state().top_row, 0);
  surface.bar_position = INT_MIN;
  scroll_notice(surface, kNoticePageUp, 0);
  EXPECT_EQ(notice_state().top_row, 0);
}

}  // namespace
