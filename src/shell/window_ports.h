// What the installer shell needs of the platform: the window system (classes,
// windows, messages, painting), the folder dialog, threads, the account name
// and the end of the process. The Win32 adapters call the functions of the
// same names; the native stand-in is a headless, scriptable window system.
#pragma once

#include <cstdint>

#include "common/install_state.h"

// Message numbers, as the platform numbers them.
constexpr uint32_t kWmCreate = 0x0001;
constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmSetText = 0x000C;
constexpr uint32_t kWmGetText = 0x000D;
constexpr uint32_t kWmPaint = 0x000F;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmSetFont = 0x0030;
constexpr uint32_t kWmNcCalcSize = 0x0083;
constexpr uint32_t kEmSetSel = 0x00B1;
constexpr uint32_t kEmLineLength = 0x00C1;
constexpr uint32_t kWmCommand = 0x0111;
constexpr uint32_t kWmVScroll = 0x0115;
// The DDE messages are numbered in integration/integration_ports.h.

// Window styles.
constexpr uint32_t kWsChild = 0x40000000;
constexpr uint32_t kWsVisible = 0x10000000;
constexpr uint32_t kWsClipChildren = 0x02000000;
constexpr uint32_t kWsCaption = 0x00C00000;
constexpr uint32_t kWsBorder = 0x00800000;
constexpr uint32_t kWsVScroll = 0x00200000;
constexpr uint32_t kBsPushButton = 0x00000000;
constexpr uint32_t kEsLeft = 0x00000000;
constexpr uint32_t kEsAutoHScroll = 0x00000080;

// Show modes.
constexpr int kSwShow = 5;
constexpr int kSwShowDefault = 10;

// Colours as the platform packs them: 0x00BBGGRR.
constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r | (g << 8) | (b << 16); }

using WindowProcedure = intptr_t (*)(WindowHandle window, uint32_t message, uintptr_t wparam,
                                     intptr_t lparam);
using ThreadEntry = uint32_t (*)(void* parameter);

// Brushes and fonts (HBRUSH, HFONT); null means none.
using DrawingObject = void*;
// The device context of a paint in progress (HDC).
using PaintContext = void*;
// A folder picked in the folder dialog (an item list); null when cancelled.
using PickedFolder = void*;

// One message as the loop retrieves it.
struct WindowMessage {
  WindowHandle window = nullptr;
  uint32_t message = 0;
  uintptr_t wparam = 0;
  intptr_t lparam = 0;
};

// A font, field by field as the platform's font factory takes it.
struct FontSpec {
  int height, width, escapement, orientation, weight;
  uint32_t italic, underline, strike_out, char_set, out_precision, clip_precision, quality,
      pitch_and_family;
  const char* face;
};

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // The main window's class for this module: own device context, the
  // system's logo icon and arrow cursor, a solid background brush of
  // `background`, no menu. False when registration fails.
  virtual bool register_main_class(const char* class_name, WindowProcedure procedure,
                                   uint32_t background) = 0;
  // The notice pane's class "MDICLIENT" for this module: style 0, the
  // pane's own procedure, no icon, the arrow cursor, `background`.
  virtual bool register_notice_class(DrawingObject background) = 0;

  // A window of a registered or system class; null on failure. `id` is the
  // control identifier of a child (the menu argument).
  virtual WindowHandle create_window(uint32_t ex_style, const char* class_name, const char* text,
                                     uint32_t style, int x, int y, int width, int height,
                                     WindowHandle parent, int id) = 0;
  virtual void show_window(WindowHandle window, int mode) = 0;
  // False when the window could not be destroyed.
  virtual bool destroy_window(WindowHandle window) = 0;
  virtual bool move_window(WindowHandle window, int x, int y, int width, int height,
                           bool repaint) = 0;
  // Screen width and height through the window's device context; false when
  // releasing the context does not report success.
  virtual bool read_screen_size(WindowHandle window, int* width, int* height) = 0;
  // False when the client rectangle cannot be read.
  virtual bool get_client_rect(WindowHandle window, Rect* rect) = 0;

  // `rect` null marks the whole client area.
  virtual void invalidate_rect(WindowHandle window, const Rect* rect, bool erase) = 0;
  // Has the pending repaint done at once (by the window's own thread) and
  // returns when it is done.
  virtual void update_window(WindowHandle window) = 0;
  virtual void set_focus(WindowHandle window) = 0;

  // Synchronous: returns when the window's procedure has handled it.
  virtual intptr_t send_message(WindowHandle window, uint32_t message, uintptr_t wparam,
                                intptr_t lparam) = 0;
  virtual intptr_t default_procedure(WindowHandle window, uint32_t message, uintptr_t wparam,
                                     intptr_t lparam) = 0;

  // The loop of the UI thread, filtered on `filter` and its children:
  // 1 for a message, 0 for the end of the loop, -1 for an error (a window
  // that no longer exists among them).
  virtual int get_message(WindowMessage* message, WindowHandle filter) = 0;
  virtual void translate_message(const WindowMessage& message) = 0;
  virtual void dispatch_message(const WindowMessage& message) = 0;

  virtual DrawingObject create_solid_brush(uint32_t color) = 0;
  virtual DrawingObject create_font(const FontSpec& spec) = 0;
  virtual void delete_object(DrawingObject object) = 0;

  virtual PaintContext begin_paint(WindowHandle window) = 0;
  virtual void end_paint(WindowHandle window, PaintContext context) = 0;
  // Each returns what was set or selected before.
  virtual uint32_t set_text_color(PaintContext context, uint32_t color) = 0;
  virtual uint32_t set_background_color(PaintContext context, uint32_t color) = 0;
  virtual DrawingObject select_object(PaintContext context, DrawingObject object) = 0;
  // Draws `length` characters with the top-left corner at (x, y), opaque.
  virtual void text_out(PaintContext context, int x, int y, const char* text, int length) = 0;

  // A modal message box with no owner and a single OK button.
  virtual void message_box(const char* text, const char* caption) = 0;
};

// The system's folder dialog and the path of what it returns.
class FolderPicker {
 public:
  virtual ~FolderPicker() = default;
  // `display_name` (260 bytes) receives the chosen folder's display name.
  virtual PickedFolder browse_for_folder(WindowHandle owner, const char* title,
                                       char* display_name) = 0;
  // The item's file-system path into `path` (260 bytes); false when it has none.
  virtual bool path_from_item(PickedFolder item, char* path) = 0;
};

class ThreadStarter {
 public:
  virtual ~ThreadStarter() = default;
  // Starts `entry(parameter)` at once with the default stack size; the
  // thread is never waited for. False when it cannot be created.
  virtual bool start_thread(ThreadEntry entry, void* parameter) = 0;
  // Pauses the calling thread.
  virtual void sleep(uint32_t milliseconds) = 0;
};

class AccountReader {
 public:
  virtual ~AccountReader() = default;
  // The current user's name into `buffer` of `size` bytes, always terminated.
  virtual void user_name(char* buffer, uint32_t size) = 0;
};

class ProcessControl {
 public:
  virtual ~ProcessControl() = default;
  // One line on the standard output.
  virtual void write_line(const char* line) = 0;
  // Ends the whole process. Must not return; a test double may throw.
  virtual void end_process(int status) = 0;
};

struct ShellPorts {
  WindowSystem* windows = nullptr;
  FolderPicker* folders = nullptr;
  ThreadStarter* threads = nullptr;
  AccountReader* account = nullptr;
  ProcessControl* process = nullptr;
};

// The ports the shell uses; set once before the program starts.
ShellPorts& shell_ports();
