// Program entry and the progress display.
#include <cstring>

#include "shell/layout.h"
#include "shell/wizard.h"

const char* scan_title(int argc, char** argv) {
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    if (std::strcmp(argv[i], "-t") == 0) return argv[i + 1];  // the vector ends with a null
  }
  return " ";
}

bool scan_show_library(int argc, char** argv) {
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    if (std::strcmp(argv[i], "-n") == 0) return true;
  }
  return false;
}

int program_entry(int argc, char** argv, int show_mode) {
  WindowSystem& windows = *shell_ports().windows;
  if (!windows.register_main_class(kMainClassName, InstallWizard, kMainBackground)) {
    windows.message_box("RegisterClass() failed:  Cannot register window class.", "Error");
    return 0;
  }
  const char* title = scan_title(argc, argv);
  if (scan_show_library(argc, argv)) install_state().hide_library_paragraph = 0;

  WindowHandle window = windows.create_window(0, kMainClassName, title, kWsCaption, 0, 0,
                                              kMainWindowWidth, kMainWindowHeight, nullptr, 0);
  if (window == nullptr) {
    windows.message_box("CreateWindow() failed:  Cannot create a window.", "Error");
    return 0;
  }
  windows.show_window(window, show_mode);

  int screen_width = 0, screen_height = 0;
  if (!windows.read_screen_size(window, &screen_width, &screen_height)) {
    windows.message_box("ReleaseDC() failed:  Cannot release device ciontent.", "Error");
    return 0;
  }
  int x, y;
  centre_main_window(screen_width, screen_height, &x, &y);
  if (!windows.move_window(window, x, y, kMainWindowWidth, kMainWindowHeight, true)) {
    windows.message_box("moveWindow() failed:  Cannot move window to center.", "Error");
    return 0;
  }

  WindowMessage message;
  int got;
  while ((got = windows.get_message(&message, window)) != 0) {
    // The main window is gone (closed by the system): nothing is left to run.
    if (got == -1) {
      shell_ports().process->end_process(0);
      return 0;
    }
    windows.translate_message(message);
    windows.dispatch_message(message);
  }
  return 0;
}

uint32_t ProgressAnimator(void*) {
  InstallState& state = install_state();
  fill_bar_table();
  while (state.installing.load() == 1) {
    int next = state.bar_length.load() + 1;
    if (next > 49) next = 0;
    state.bar_length.store(next);
    shell_ports().windows->invalidate_rect(state.wizard_window, &state.progress_rect, true);
    shell_ports().windows->update_window(state.wizard_window);
    shell_ports().threads->sleep(100);
  }
  return 0;
}
