// Geometry of the main window's client area. The window's constants are
// fractions (0.9, 0.7, 0.5, 2.5, 2.4, 1.2, 31.5) whose binary values lie a
// hair off the decimals; these integer forms give exactly what the
// truncated extended-precision products give, without floating point.
#pragma once

#include "common/install_state.h"

constexpr int kMainWindowWidth = 700;
constexpr int kMainWindowHeight = 500;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 30;

// Floor division for any signs (C++ truncates toward zero).
int floor_div(int numerator, int denominator);

// The client extent of `window`: 700 and 500 when it cannot be read or is 0.
int measure_client_width(WindowHandle window);
int measure_client_height(WindowHandle window);

// trunc(client_width x 0.9)
int layout_pane_width(int client_width);
// trunc((client_width - pane_width) x 0.5)
int layout_margin(int client_width, int pane_width);
// trunc(client_height x 0.7) - 40
int layout_pane_height(int client_height);
// The row of Accept and Deny.
int layout_row_1_y(int client_height, int margin, int pane_height);
// The row of Install, Cancel and Finish.
int layout_row_2_y(int client_height, int margin, int pane_height);
// trunc(client_width - 2.5 x margin - 100)
int layout_edit_width(int client_width, int margin);
// client_width - trunc((client_width - 100) x 0.5) - 100
int layout_finish_x(int client_width);
// trunc(client_height - 31.5)
int layout_caption_y(int client_height);
// Page 4's bar line and the current-file line below it.
Rect layout_progress_rect(int client_width, int client_height, int margin);
// trunc(client_height x 0.5): the current-file line.
int layout_status_y(int client_height);

// Start-up centring of the 700 x 500 window on a screen.
void centre_main_window(int screen_width, int screen_height, int* x, int* y);
