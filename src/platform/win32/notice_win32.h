// The notice pane's window procedure, for the class the wizard registers.
#pragma once

#include <windows.h>

LRESULT CALLBACK notice_pane_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
