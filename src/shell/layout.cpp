#include "shell/layout.h"

#include "shell/window_ports.h"

int floor_div(int numerator, int denominator) {
  int q = numerator / denominator;
  if ((numerator % denominator != 0) && ((numerator < 0) != (denominator < 0))) --q;
  return q;
}

int measure_client_width(WindowHandle window) {
  Rect rect;
  if (!shell_ports().windows->get_client_rect(window, &rect)) return kMainWindowWidth;
  int width = rect.right - rect.left;
  return width != 0 ? width : kMainWindowWidth;
}

int measure_client_height(WindowHandle window) {
  Rect rect;
  if (!shell_ports().windows->get_client_rect(window, &rect)) return kMainWindowHeight;
  int height = rect.bottom - rect.top;
  return height != 0 ? height : kMainWindowHeight;
}

int layout_pane_width(int client_width) { return floor_div(9 * client_width, 10); }

// 0.5 is exact, so halving and truncating toward zero is the whole story.
int layout_margin(int client_width, int pane_width) { return (client_width - pane_width) / 2; }

// 0.7 lies below the decimal: a multiple of 10 comes out one lower.
int layout_pane_height(int client_height) { return floor_div(7 * client_height - 1, 10) - 40; }

int layout_row_1_y(int client_height, int margin, int pane_height) {
  int top = margin + 40;
  return (client_height - top - pane_height - kButtonHeight) / 2 + top + pane_height;
}

// 2.4 lies below the decimal, so 2.4 x margin truncates one lower when whole.
int layout_row_2_y(int client_height, int margin, int pane_height) {
  return floor_div(5 * client_height - 12 * margin - 5 * pane_height - 150, 10) +
         floor_div(12 * margin - 1, 5) + pane_height;
}

int layout_edit_width(int client_width, int margin) {
  return (2 * client_width - 5 * margin - 2 * kButtonWidth) / 2;
}

int layout_finish_x(int client_width) {
  return client_width - (client_width - kButtonWidth) / 2 - kButtonWidth;
}

// 31.5 is exact: halve twice the difference.
int layout_caption_y(int client_height) { return (2 * client_height - 63) / 2; }

Rect layout_progress_rect(int client_width, int client_height, int margin) {
  Rect rect;
  rect.left = 0;
  rect.top = margin / 2 + 189;
  rect.right = client_width;
  // 1.2 lies below the decimal.
  rect.bottom = floor_div(5 * client_height + 12 * margin - 1, 10);
  return rect;
}

int layout_status_y(int client_height) { return client_height / 2; }

void centre_main_window(int screen_width, int screen_height, int* x, int* y) {
  *x = (screen_width - kMainWindowWidth) / 2;
  *y = (screen_height - kMainWindowHeight) / 2;
}
