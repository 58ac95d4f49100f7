#include <gtest/gtest.h>

#include "shell/layout.h"
#include "shell_fakes.h"

namespace {

struct Worked {
  int client_width, client_height;
  int pane_width, margin, pane_height, row_1_y, edit_width, row_2_y, finish_x;
  int caption_y, status_y;
  Rect progress;
};

// Both columns of the worked table: a frame of the desktop's usual metrics
// and a client area of the window's whole size. The places the wizard
// works out itself are checked where it makes its controls and texts.
TEST(Layout, WorkedValuesForBothClientSizes) {
  const Worked cases[] = {
      {694, 475, 624, 35, 292, 406, 506, 409, 297, 443, 237, {0, 206, 694, 279}},
      {700, 500, 630, 35, 309, 427, 512, 430, 300, 468, 250, {0, 206, 700, 291}},
  };
  for (const Worked& c : cases) {
    SCOPED_TRACE(c.client_height);
    int pane_width = layout_pane_width(c.client_width);
    int margin = layout_margin(c.client_width, pane_width);
    int pane_height = layout_pane_height(c.client_height);
    EXPECT_EQ(pane_width, c.pane_width);
    EXPECT_EQ(margin, c.margin);
    EXPECT_EQ(pane_height, c.pane_height);
    EXPECT_EQ(layout_row_1_y(c.client_height, margin, pane_height), c.row_1_y);
    EXPECT_EQ(layout_edit_width(c.client_width, margin), c.edit_width);
    EXPECT_EQ(layout_row_2_y(c.client_height, margin, pane_height), c.row_2_y);
    EXPECT_EQ(layout_finish_x(c.client_width), c.finish_x);
    EXPECT_EQ(layout_caption_y(c.client_height), c.caption_y);
    EXPECT_EQ(layout_status_y(c.client_height), c.status_y);
    Rect r = layout_progress_rect(c.client_width, c.client_height, margin);
    EXPECT_EQ(r.left, c.progress.left);
    EXPECT_EQ(r.top, c.progress.top);
    EXPECT_EQ(r.right, c.progress.right);
    EXPECT_EQ(r.bottom, c.progress.bottom);
  }
}

// The constants' binary values lie off the decimals: whole products come out
// one lower where the value lies below, and never where it lies above.
TEST(Layout, ProductsThatAreWholeTruncateAsTheBinaryConstantsDo) {
  EXPECT_EQ(layout_pane_height(470), 288);   // 0.7 x 470 = 329 -> 328
  EXPECT_EQ(layout_pane_height(500), 309);   // 350 -> 349
  EXPECT_EQ(layout_pane_height(475), 292);   // 332.5 -> 332
  EXPECT_EQ(layout_pane_width(700), 630);    // 0.9 lies above: 630 stays
  EXPECT_EQ(layout_pane_width(694), 624);    // 624.6
  // 1.2 x 35 = 42 lies just under: 237.5 + 41.99.. -> 279; 250 + 41.99.. -> 291.
  EXPECT_EQ(layout_progress_rect(694, 475, 35).bottom, 279);
  EXPECT_EQ(layout_progress_rect(700, 500, 35).bottom, 291);
  // 2.4 x 35 = 84 lies just under: the row of the second buttons loses one.
  EXPECT_EQ(layout_row_2_y(500, 35, 309), 430);
  EXPECT_EQ(layout_caption_y(10), -21);  // trunc(-21.5) goes toward zero
}

TEST(Layout, FloorDivisionForEverySign) {
  EXPECT_EQ(floor_div(7, 2), 3);
  EXPECT_EQ(floor_div(-7, 2), -4);
  EXPECT_EQ(floor_div(-8, 2), -4);
  EXPECT_EQ(floor_div(7, -2), -4);
  EXPECT_EQ(floor_div(0, 5), 0);
}

TEST(Layout, CentringTruncatesTowardZero) {
  int x, y;
  centre_main_window(1024, 768, &x, &y);
  EXPECT_EQ(x, 162);
  EXPECT_EQ(y, 134);
  centre_main_window(800, 600, &x, &y);
  EXPECT_EQ(x, 50);
  EXPECT_EQ(y, 50);
  centre_main_window(640, 480, &x, &y);
  EXPECT_EQ(x, -30);
  EXPECT_EQ(y, -10);
  centre_main_window(699, 499, &x, &y);  // -0.5 goes to 0, not -1
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
}

class MeasureTest : public ShellTest {};

TEST_F(MeasureTest, ClientExtentFallsBackWhenUnreadableOrEmpty) {
  WindowHandle any = reinterpret_cast<WindowHandle>(1);
  windows_.client = Rect{10, 20, 704, 495};
  EXPECT_EQ(measure_client_width(any), 694);
  EXPECT_EQ(measure_client_height(any), 475);
  windows_.client = Rect{0, 0, 0, 0};
  EXPECT_EQ(measure_client_width(any), 700);
  EXPECT_EQ(measure_client_height(any), 500);
  windows_.client = Rect{0, 0, 300, 200};
  windows_.client_readable = false;
  EXPECT_EQ(measure_client_width(any), 700);
  EXPECT_EQ(measure_client_height(any), 500);
}

}  // namespace
