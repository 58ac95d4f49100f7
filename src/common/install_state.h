// The installer's process-wide state: one instance for the whole run, shared
// by the UI thread, the progress animator and the package loader.
#pragma once

#include <atomic>
#include <cstdint>

// Every path lives in a buffer of this size (at most 259 characters).
constexpr int kPathBufferSize = 260;

// Opaque handle of a window of the platform (HWND on Windows).
using WindowHandle = void*;

// The per-file action of the tree walk; a plain int where it is passed.
enum class CopyMode : int32_t { Copy = 0, Compress = 1, Expand = 2 };

struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

struct InstallState {
  int hide_library_paragraph = 1;
  // Written once by the loader, polled by the animator: a whole word, no lock.
  std::atomic<int32_t> installing{1};
  int page = 1;
  WindowHandle wizard_window = nullptr;
  int client_width = 0, client_height = 0, pane_width = 0, pane_height = 0, margin = 0;
  char destination_folder[kPathBufferSize] = {};
  char source_folder[kPathBufferSize] = {};
  int32_t copy_mode = 0;
  int32_t completion_command = 0;
  Rect progress_rect;
  char status_line[kPathBufferSize] = {};
  int environment_configured = 0;
  char bar_table[50][50] = {};
  std::atomic<int32_t> bar_length{0};
};

InstallState& install_state();
