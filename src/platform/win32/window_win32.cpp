// The installer shell on the Win32 window system: each operation is the
// user32, gdi32, shell32, kernel32 or advapi32 call of the same name.
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstdlib>

#include "platform/shell_platform.h"
#include "platform/win32/notice_win32.h"

namespace {

constexpr int kLogoIcon = 32517;         // IDI_WINLOGO
constexpr int kArrowCursor = 32512;      // IDC_ARROW
constexpr int kMissingIconNumber = 32515;  // the notice class asks its own module for this

static_assert(kWmCreate == WM_CREATE && kWmPaint == WM_PAINT && kWmCommand == WM_COMMAND &&
              kWmClose == WM_CLOSE && kWmSetText == WM_SETTEXT && kWmGetText == WM_GETTEXT &&
              kWmSetFont == WM_SETFONT && kWmNcCalcSize == WM_NCCALCSIZE && kWmVScroll == WM_VSCROLL &&
              kEmSetSel == EM_SETSEL && kEmLineLength == EM_LINELENGTH && kWmDestroy == WM_DESTROY);
static_assert(kWsChild == WS_CHILD && kWsVisible == WS_VISIBLE && kWsClipChildren == WS_CLIPCHILDREN &&
              kWsCaption == WS_CAPTION && kWsBorder == WS_BORDER && kWsVScroll == WS_VSCROLL &&
              kBsPushButton == BS_PUSHBUTTON && kEsLeft == ES_LEFT && kEsAutoHScroll == ES_AUTOHSCROLL);
static_assert(kSwShow == SW_SHOW && kSwShowDefault == SW_SHOWDEFAULT);
static_assert(rgb(1, 2, 3) == RGB(1, 2, 3));

// The class procedure must be a stdcall function of the platform's types.
WindowProcedure main_procedure = nullptr;

LRESULT CALLBACK main_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return main_procedure(window, message, wparam, lparam);
}

HWND hwnd(WindowHandle window) { return static_cast<HWND>(window); }

struct PaintRecord {
  PAINTSTRUCT paint;
  HDC dc;
};

class Win32WindowSystem : public WindowSystem {
 public:
  bool register_main_class(const char* class_name, WindowProcedure procedure, uint32_t background) override {
    main_procedure = procedure;
    HINSTANCE module = GetModuleHandleA(nullptr);
    HBRUSH brush = CreateSolidBrush(background);
    WNDCLASSA window_class = {};
    window_class.style = CS_OWNDC;
    window_class.lpfnWndProc = main_window_procedure;
    window_class.cbClsExtra = 0;
    window_class.cbWndExtra = 0;
    window_class.hInstance = module;
    window_class.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(kLogoIcon));
    window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(kArrowCursor));
    window_class.hbrBackground = brush;
    window_class.lpszMenuName = nullptr;
    window_class.lpszClassName = class_name;
    return RegisterClassA(&window_class) != 0;
  }

  bool register_notice_class(DrawingObject background) override {
    HINSTANCE module = GetModuleHandleA(nullptr);
    WNDCLASSA window_class = {};
    window_class.style = 0;
    window_class.lpfnWndProc = notice_pane_procedure;
    window_class.hInstance = module;
    window_class.hIcon = LoadIconA(module, MAKEINTRESOURCEA(kMissingIconNumber));
    window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(kArrowCursor));
    window_class.hbrBackground = static_cast<HBRUSH>(background);
    window_class.lpszMenuName = nullptr;
    window_class.lpszClassName = "MDICLIENT";
    return RegisterClassA(&window_class) != 0;
  }

  WindowHandle create_window(uint32_t ex_style, const char* class_name, const char* text, uint32_t style,
                             int x, int y, int width, int height, WindowHandle parent, int id) override {
    return CreateWindowExA(ex_style, class_name, text, style, x, y, width, height, hwnd(parent),
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), GetModuleHandleA(nullptr),
                           nullptr);
  }

  void show_window(WindowHandle window, int mode) override { ShowWindow(hwnd(window), mode); }

  bool destroy_window(WindowHandle window) override { return DestroyWindow(hwnd(window)) != 0; }

  bool move_window(WindowHandle window, int x, int y, int width, int height, bool repaint) override {
    return MoveWindow(hwnd(window), x, y, width, height, repaint ? TRUE : FALSE) != 0;
  }

  bool read_screen_size(WindowHandle window, int* width, int* height) override {
    HDC dc = GetDC(hwnd(window));
    *width = GetDeviceCaps(dc, HORZRES);
    *height = GetDeviceCaps(dc, VERTRES);
    return ReleaseDC(hwnd(window), dc) == 1;
  }

  bool get_client_rect(WindowHandle window, Rect* rect) override {
    RECT r;
    if (!GetClientRect(hwnd(window), &r)) return false;
    rect->left = r.left;
    rect->top = r.top;
    rect->right = r.right;
    rect->bottom = r.bottom;
    return true;
  }

  void invalidate_rect(WindowHandle window, const Rect* rect, bool erase) override {
    RECT r;
    if (rect != nullptr) {
      r.left = rect->left;
      r.top = rect->top;
      r.right = rect->right;
      r.bottom = rect->bottom;
    }
    InvalidateRect(hwnd(window), rect != nullptr ? &r : nullptr, erase ? TRUE : FALSE);
  }

  void update_window(WindowHandle window) override { UpdateWindow(hwnd(window)); }

  void set_focus(WindowHandle window) override { SetFocus(hwnd(window)); }

  intptr_t send_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    return SendMessageA(hwnd(window), message, wparam, lparam);
  }

  intptr_t default_procedure(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) override {
    return DefWindowProcA(hwnd(window), message, wparam, lparam);
  }

  int get_message(WindowMessage* message, WindowHandle filter) override {
    BOOL got = GetMessageA(&last_, hwnd(filter), 0, 0);
    if (got == -1) return -1;
    message->window = last_.hwnd;
    message->message = last_.message;
    message->wparam = last_.wParam;
    message->lparam = last_.lParam;
    return got != 0 ? 1 : 0;
  }

  // The full record (time, cursor position) is the one just retrieved.
  void translate_message(const WindowMessage& message) override { TranslateMessage(record_of(message)); }
  void dispatch_message(const WindowMessage& message) override { DispatchMessageA(record_of(message)); }

  DrawingObject create_solid_brush(uint32_t color) override { return CreateSolidBrush(color); }

  DrawingObject create_font(const FontSpec& f) override {
    return CreateFontA(f.height, f.width, f.escapement, f.orientation, f.weight, f.italic, f.underline,
                       f.strike_out, f.char_set, f.out_precision, f.clip_precision, f.quality,
                       f.pitch_and_family, f.face);
  }

  void delete_object(DrawingObject object) override { DeleteObject(static_cast<HGDIOBJ>(object)); }

  PaintContext begin_paint(WindowHandle window) override {
    PaintRecord* record = new PaintRecord;
    record->dc = BeginPaint(hwnd(window), &record->paint);
    return record;
  }

  void end_paint(WindowHandle window, PaintContext context) override {
    PaintRecord* record = static_cast<PaintRecord*>(context);
    EndPaint(hwnd(window), &record->paint);
    delete record;
  }

  uint32_t set_text_color(PaintContext context, uint32_t color) override {
    return SetTextColor(static_cast<PaintRecord*>(context)->dc, color);
  }

  uint32_t set_background_color(PaintContext context, uint32_t color) override {
    return SetBkColor(static_cast<PaintRecord*>(context)->dc, color);
  }

  DrawingObject select_object(PaintContext context, DrawingObject object) override {
    return SelectObject(static_cast<PaintRecord*>(context)->dc, static_cast<HGDIOBJ>(object));
  }

  void text_out(PaintContext context, int x, int y, const char* text, int length) override {
    TextOutA(static_cast<PaintRecord*>(context)->dc, x, y, text, length);
  }

  void message_box(const char* text, const char* caption) override {
    MessageBoxA(nullptr, text, caption, MB_OK);
  }

 private:
  const MSG* record_of(const WindowMessage& message) {
    if (message.window != last_.hwnd || message.message != last_.message || message.wparam != last_.wParam ||
        message.lparam != last_.lParam) {
      last_ = MSG{};
      last_.hwnd = hwnd(message.window);
      last_.message = message.message;
      last_.wParam = message.wparam;
      last_.lParam = message.lparam;
    }
    return &last_;
  }
  MSG last_ = {};
};

class Win32FolderPicker : public FolderPicker {
 public:
  PickedFolder browse_for_folder(WindowHandle owner, const char* title, char* display_name) override {
    BROWSEINFOA info = {};
    info.hwndOwner = hwnd(owner);
    info.pidlRoot = nullptr;
    info.pszDisplayName = display_name;
    info.lpszTitle = title;
    info.ulFlags = 0;
    info.lpfn = nullptr;
    return SHBrowseForFolderA(&info);
  }
  // The item list is the caller's to free once its path has been read.
  bool path_from_item(PickedFolder item, char* path) override {
    BOOL found = SHGetPathFromIDListA(static_cast<PCIDLIST_ABSOLUTE>(item), path);
    ILFree(static_cast<PIDLIST_RELATIVE>(item));
    return found != 0;
  }
};

class Win32Threads : public ThreadStarter {
 public:
  bool start_thread(ThreadEntry entry, void* parameter) override {
    Start* start = new Start{entry, parameter};
    HANDLE thread = CreateThread(nullptr, 0, run, start, 0, nullptr);
    if (thread == nullptr) {
      delete start;
      return false;
    }
    // Never waited for: the handle is not kept.
    CloseHandle(thread);
    return true;
  }
  void sleep(uint32_t milliseconds) override { Sleep(milliseconds); }

 private:
  struct Start {
    ThreadEntry entry;
    void* parameter;
  };
  static DWORD WINAPI run(LPVOID raw) {
    Start start = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    return start.entry(start.parameter);
  }
};

class Win32Account : public AccountReader {
 public:
  void user_name(char* buffer, uint32_t size) override {
    if (size == 0) return;
    buffer[0] = '\0';
    DWORD length = size;
    GetUserNameA(buffer, &length);
    buffer[size - 1] = '\0';
  }
};

class Win32Process : public ProcessControl {
 public:
  void write_line(const char* line) override {
    std::puts(line);
    std::fflush(stdout);
  }
  void end_process(int status) override { std::exit(status); }
};

}  // namespace

ShellPorts platform_shell_ports() {
  static Win32WindowSystem* windows = new Win32WindowSystem;
  static Win32FolderPicker* folders = new Win32FolderPicker;
  static Win32Threads* threads = new Win32Threads;
  static Win32Account* account = new Win32Account;
  static Win32Process* process = new Win32Process;
  ShellPorts ports;
  ports.windows = windows;
  ports.folders = folders;
  ports.threads = threads;
  ports.account = account;
  ports.process = process;
  return ports;
}

// The integration adapters carry the real DDE channel on Windows.
DdeChannel* platform_dde_channel() { return nullptr; }
