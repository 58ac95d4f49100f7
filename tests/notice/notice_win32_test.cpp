// The pane's window procedure on the real window system: a pane of the
// wizard's size, its scroll bar and what a paint leaves on the screen.
#include <windows.h>

#include <gtest/gtest.h>

#include "common/install_state.h"
#include "notice/notice_pane.h"
#include "platform/win32/notice_win32.h"

namespace {

class NoticeWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    notice_state() = {};
    install_state().hide_library_paragraph = 1;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA parent_class = {};
    parent_class.lpfnWndProc = DefWindowProcA;
    parent_class.hInstance = instance;
    parent_class.lpszClassName = "notice_test_parent";
    RegisterClassA(&parent_class);  // fails harmlessly once registered
    brush_ = CreateSolidBrush(RGB(224, 223, 209));
    WNDCLASSA pane_class = {};
    pane_class.lpfnWndProc = notice_pane_procedure;
    pane_class.hInstance = instance;
    pane_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    pane_class.hbrBackground = brush_;
    pane_class.lpszClassName = "MDICLIENT";
    UnregisterClassA("MDICLIENT", instance);
    ASSERT_NE(RegisterClassA(&pane_class), 0);

    parent_ = CreateWindowExA(0, "notice_test_parent", "notice", WS_OVERLAPPEDWINDOW, 0, 0, 700, 500,
                              nullptr, nullptr, instance, nullptr);
    ASSERT_NE(parent_, nullptr);
    // The wizard's pane for a 694 x 470 client area.
    pane_ = CreateWindowExA(0, "MDICLIENT", nullptr, WS_CHILD | WS_CLIPCHILDREN | WS_BORDER | WS_VSCROLL,
                            35, 75, 624, 288, parent_, nullptr, instance, nullptr);
    ASSERT_NE(pane_, nullptr);
    ShowWindow(parent_, SW_SHOW);
    ShowWindow(pane_, SW_SHOW);
    UpdateWindow(parent_);
  }

  void TearDown() override {
    if (parent_ != nullptr) DestroyWindow(parent_);
    UnregisterClassA("MDICLIENT", GetModuleHandleA(nullptr));
    DeleteObject(brush_);
  }

  SCROLLINFO bar() {
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(pane_, SB_VERT, &info);
    return info;
  }

  LRESULT scroll(int command, int position = 0) {
    return SendMessageA(pane_, WM_VSCROLL, MAKEWPARAM(command, position), 0);
  }

  // Pixels of `colour` in the band of display row `row` on screen.
  int pixels_in_row(int row, COLORREF colour) {
    HDC dc = GetDC(pane_);
    int count = 0;
    for (int y = 5 + 20 * row; y < 25 + 20 * row; ++y)
      for (int x = 0; x < 560; ++x)
        if (GetPixel(dc, x, y) == colour) ++count;
    ReleaseDC(pane_, dc);
    return count;
  }

  HBRUSH brush_ = nullptr;
  HWND parent_ = nullptr;
  HWND pane_ = nullptr;
};

TEST_F(NoticeWindow, CreationBuildsTheTextAndSetsUpTheBar) {
  EXPECT_EQ(notice_state().notice_built, 1);
  RECT client;
  ASSERT_TRUE(GetClientRect(pane_, &client));
  EXPECT_EQ(client.bottom, 286);
  EXPECT_EQ(notice_state().visible_rows, 14);
  const SCROLLINFO info = bar();
  EXPECT_EQ(info.nMin, 0);
  EXPECT_EQ(info.nMax, 404);
  EXPECT_EQ(info.nPage, 28u);
  EXPECT_EQ(info.nPos, 0);
}

TEST_F(NoticeWindow, ScrollCommandsMoveTheBar) {
  EXPECT_EQ(scroll(SB_PAGEDOWN), 0);
  EXPECT_EQ(notice_state().top_row, 14);
  EXPECT_EQ(bar().nPos, 14);
  // Released at the thumb's last place: past the line bound.
  scroll(SB_THUMBPOSITION, 377);
  EXPECT_EQ(notice_state().top_row, 377);
  EXPECT_EQ(bar().nPos, 377);
  scroll(SB_LINEDOWN);
  EXPECT_EQ(notice_state().top_row, 376);
  // The bar holds the thumb at 377; the next command starts from there.
  scroll(SB_THUMBPOSITION, 390);
  EXPECT_EQ(notice_state().top_row, 390);
  EXPECT_EQ(bar().nPos, 377);
  scroll(SB_LINEUP);
  EXPECT_EQ(notice_state().top_row, 376);
  // Dragging does not move the text.
  scroll(SB_THUMBTRACK, 5);
  EXPECT_EQ(notice_state().top_row, 376);
  EXPECT_EQ(bar().nPos, 376);
}

TEST_F(NoticeWindow, PaintDrawsTheRowsInTheirColours) {
  const COLORREF text = RGB(108, 99, 51), background = RGB(224, 223, 209);
  EXPECT_GT(pixels_in_row(1, text), 0);  // the free-software paragraph
  EXPECT_EQ(pixels_in_row(0, text), 0);  // blank
  EXPECT_GT(pixels_in_row(0, background), 0);
  scroll(SB_THUMBPOSITION, 377);  // rows 383 and 384, then background
  EXPECT_GT(pixels_in_row(1, text), 0);
  EXPECT_EQ(pixels_in_row(2, text), 0);
}

}  // namespace
