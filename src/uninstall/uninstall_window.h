// The uninstaller's program: its options, its window in the installer's
// style (class, colours, font, 700 x 500 centred) with three pages, and the
// silent form /S, which does the same work with the window never shown.
#pragma once

#include <cstdint>

#include "shell/window_ports.h"

// The page of the window, in InstallState::page while the uninstaller runs.
enum UninstallPage : int { kPageAsk = 1, kPageRemoving = 2, kPageRemoved = 3 };

// Buttons and commands of the window. 8 and 9 are sent, as in the
// installer: 8 by the end of the group conversation, 9 by the worker.
enum UninstallCommand : int {
  kCommandRemove = 1,
  kCommandKeep = 6,  // Cancel
  kCommandClose = 7,  // Finish
  kCommandGroupDone = 8,
  kCommandFilesDone = 9,
};

// uninstall [/S] [FOLDER]: FOLDER defaults to `program_folder`, the folder
// of the program's own file. Ends the process: windowed with status 0;
// silent with 0 when nothing was kept, 1 when something was, 2 when it
// refused to start (nothing touched).
int uninstall_entry(int argc, char** argv, const char* program_folder);

// The main window's procedure.
intptr_t UninstallWindow(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
