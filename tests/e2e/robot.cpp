// A robot for end-to-end runs under Wine: finds the installer's main window,
// waits for its controls by identifier and presses them, as a user would.
//
//   robot.exe STEP...      each step is one argument, "verb:arguments"
//
//   window:CLASS           wait for the top-level window of that class
//   wait:ID                wait until the control exists and is visible
//   click:ID               wait for it, then press it (BM_CLICK)
//   settext:ID:TEXT        replace the control's text
//   expect:ID:TEXT         the control's text must be TEXT
//   print:ID               print "text ID TEXT"
//   last:ID                wait for the control, follow its text until it goes (the
//                          page is left), then print "text ID TEXT" of its last text
//   rect:ID                print "rect ID X Y W H" in the main window's client coordinates
//   winrect                print "winrect X Y W H" of the main window, "client X Y W H"
//                          of its client area on the screen, its title and class
//   sleep:MS               wait
//   clock                  print "clock MS", a monotonic time in milliseconds (timing runs)
//   start:COMMAND_LINE     start a program (a timing run's clock then starts with it);
//                          a wait gives up at once if it ends
//   exit                   wait for the started program to end, print "exit CODE"
//   snap:FILE              save the main window as the screen shows it, a BMP file
//   gone                   wait until the main window no longer exists
//   msgbox:CAPTION         wait for a message box of that caption, print
//                          "msgbox CAPTION: TEXT" and press its OK
//   dialog:ok, dialog:cancel  press OK or Cancel of the dialog the main window owns
//                          (the folder dialog)
//   silence-progman        end every other process that answers a "PROGMAN"
//                          initiate, so that only the stand-in takes part
//
//   robot.exe interrupt FOLDER OUT ERR PROGRAM [ARG...]
//                          runs the console program on a console of its own,
//                          its output and errors into the files OUT and ERR;
//                          once FOLDER holds an entry, sends that console
//                          Ctrl-C, waits for the program and prints "exit CODE"
//
// Every wait gives up after the time in SETUP_ROBOT_TIMEOUT_MS (default
// 60000): the robot then prints why and exits 1. Waits look again every
// SETUP_ROBOT_POLL_MS (default 50); timing runs look more often.
// SETUP_ROBOT_ENDED names a file that the runner of the program writes, with
// its exit status, when the program has ended: a wait then gives up at once,
// since no window of a program that is gone will ever come.
#include <windows.h>
#include <dde.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

HWND main_window = nullptr;
DWORD timeout_ms = 60000;
DWORD poll_ms = 50;
const char* ended_file = nullptr;
HANDLE started = nullptr;

[[noreturn]] void give_up(const std::string& why) {
  std::printf("robot: %s\n", why.c_str());
  std::fflush(stdout);
  std::exit(1);
}

// The program's exit status as its runner wrote it, once it has ended.
bool program_ended(std::string* status) {
  DWORD code = 0;
  if (started != nullptr && WaitForSingleObject(started, 0) == WAIT_OBJECT_0 && GetExitCodeProcess(started, &code)) {
    *status = std::to_string(code);
    return true;
  }
  if (ended_file == nullptr) return false;
  FILE* f = std::fopen(ended_file, "r");
  if (f == nullptr) return false;
  char line[64] = {};
  if (std::fgets(line, sizeof line, f) == nullptr) line[0] = '\0';
  std::fclose(f);
  *status = std::string(line, std::strcspn(line, "\r\n"));
  return true;
}

template <typename F>
void wait_for(const std::string& what, F ready) {
  DWORD start = GetTickCount();
  std::string status;
  while (!ready()) {
    if (program_ended(&status)) give_up("the program ended (status " + status + ") while waiting for " + what);
    if (GetTickCount() - start > timeout_ms) give_up("timed out waiting for " + what);
    Sleep(poll_ms);
  }
}

// Paints the window has pending are done before the robot goes on (its
// thread paints them while this waits), so that a screenshot shows them.
void flush_paint() {
  if (main_window != nullptr && IsWindow(main_window))
    RedrawWindow(main_window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// A robot run may start after an earlier one found the window: find it again.
void find_main_window() {
  if (main_window != nullptr) return;
  wait_for("window nv_gfortran", [&] { return (main_window = FindWindowA("nv_gfortran", nullptr)) != nullptr; });
}

HWND control(int id) {
  find_main_window();
  HWND found = nullptr;
  wait_for("control " + std::to_string(id), [&] {
    if (!IsWindow(main_window)) give_up("main window went away");
    found = GetDlgItem(main_window, id);
    return found != nullptr && IsWindowVisible(found);
  });
  return found;
}

std::string text_of(HWND window) {
  char buffer[1024] = {};
  SendMessageA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

struct DialogSearch {
  const char* caption;  // null: any dialog owned by the main window
  HWND found;
};

BOOL CALLBACK find_dialog(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<DialogSearch*>(data);
  char cls[64] = {}, title[256] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (std::strcmp(cls, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  GetWindowTextA(window, title, sizeof title);
  bool match = search->caption != nullptr ? std::strcmp(title, search->caption) == 0
                                          : GetWindow(window, GW_OWNER) == FindWindowA("nv_gfortran", nullptr);
  if (!match) return TRUE;
  search->found = window;
  return FALSE;
}

HWND dialog(const char* caption) {
  DialogSearch search{caption, nullptr};
  wait_for(caption != nullptr ? std::string("message box ") + caption : std::string("a dialog"), [&] {
    search.found = nullptr;
    EnumWindows(find_dialog, reinterpret_cast<LPARAM>(&search));
    return search.found != nullptr;
  });
  return search.found;
}

// The window's rectangle of the screen, bottom-up 24-bit rows as BMP keeps them.
void snap(const std::string& path) {
  find_main_window();
  flush_paint();
  RECT r;
  GetWindowRect(main_window, &r);
  LONG width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) give_up("the window has no area to save");
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap == nullptr) give_up("no bitmap for the picture");
  HGDIOBJ old = SelectObject(memory, bitmap);
  BOOL copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  DWORD size = static_cast<DWORD>((width * 3 + 3) / 4 * 4 * height);
  BITMAPFILEHEADER file = {};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + size;
  FILE* out = copied ? std::fopen(path.c_str(), "wb") : nullptr;
  bool written = out != nullptr && std::fwrite(&file, sizeof file, 1, out) == 1 &&
                 std::fwrite(&header, sizeof header, 1, out) == 1 && std::fwrite(bits, size, 1, out) == 1;
  if (out != nullptr && std::fclose(out) != 0) written = false;
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (!written) give_up("the picture " + path + " was not saved");
  std::printf("snap %s %ldx%ld\n", path.c_str(), width, height);
}

void press(HWND dialog_window, int id) {
  HWND button = GetDlgItem(dialog_window, id);
  if (button != nullptr) PostMessageA(button, BM_CLICK, 0, 0);
  else PostMessageA(dialog_window, WM_COMMAND, static_cast<WPARAM>(id), 0);
}

// Answers of other servers to our own "PROGMAN" initiate.
std::vector<HWND> answers;

LRESULT CALLBACK listener(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DDE_ACK) {
    answers.push_back(reinterpret_cast<HWND>(wparam));
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

void silence_progman() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = listener;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "robot_listener";
  RegisterClassA(&wc);
  HWND me = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
  ATOM atom = GlobalAddAtomA("PROGMAN");
  SendMessageA(HWND_BROADCAST, WM_DDE_INITIATE, reinterpret_cast<WPARAM>(me), MAKELPARAM(atom, atom));
  GlobalDeleteAtom(atom);
  for (HWND server : answers) {
    char cls[64] = {};
    GetClassNameA(server, cls, sizeof cls);
    if (std::strcmp(cls, "progman_standin") == 0) continue;
    DWORD pid = 0;
    GetWindowThreadProcessId(server, &pid);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (process != nullptr) {
      TerminateProcess(process, 0);
      CloseHandle(process);
      std::printf("silenced %s in process %lu\n", cls, pid);
    }
  }
  DestroyWindow(me);
}

void step(const std::string& s) {
  std::size_t colon = s.find(':');
  std::string verb = s.substr(0, colon);
  std::string rest = colon == std::string::npos ? "" : s.substr(colon + 1);
  int id = std::atoi(rest.c_str());
  std::string tail;
  std::size_t second = rest.find(':');
  if (second != std::string::npos) tail = rest.substr(second + 1);

  if (verb == "window") {
    wait_for("window " + rest, [&] { return (main_window = FindWindowA(rest.c_str(), nullptr)) != nullptr; });
    // The program shows its window before it centres it: a message sent from
    // here is answered only once its thread waits for messages, moved.
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(main_window, WM_NULL, 0, 0, SMTO_NORMAL, timeout_ms, &answer) == 0)
      give_up("window " + rest + " does not answer");
    flush_paint();
  } else if (verb == "wait") {
    control(id);
  } else if (verb == "click") {
    // Posted, so a command that ends the process cannot leave the robot hanging.
    PostMessageA(control(id), BM_CLICK, 0, 0);
  } else if (verb == "settext") {
    SendMessageA(control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(tail.c_str()));
  } else if (verb == "expect") {
    std::string got = text_of(control(id));
    if (got != tail) give_up("control " + std::to_string(id) + " holds \"" + got + "\", not \"" + tail + "\"");
  } else if (verb == "print") {
    std::printf("text %d %s\n", id, text_of(control(id)).c_str());
  } else if (verb == "last") {
    HWND c = control(id);
    std::string last = text_of(c);
    wait_for("control " + std::to_string(id) + " to go", [&] {
      std::string now = text_of(c);
      // A text read as the control went is no text of its own.
      if (!IsWindow(c) || !IsWindowVisible(c)) return true;
      last = now;
      return false;
    });
    std::printf("text %d %s\n", id, last.c_str());
  } else if (verb == "rect") {
    RECT r;
    HWND c = control(id);
    GetWindowRect(c, &r);
    MapWindowPoints(HWND_DESKTOP, main_window, reinterpret_cast<POINT*>(&r), 2);
    std::printf("rect %d %ld %ld %ld %ld\n", id, r.left, r.top, r.right - r.left, r.bottom - r.top);
  } else if (verb == "winrect") {
    find_main_window();
    RECT r;
    GetWindowRect(main_window, &r);
    char title[256] = {}, cls[256] = {};
    GetWindowTextA(main_window, title, sizeof title);
    GetClassNameA(main_window, cls, sizeof cls);
    RECT c;
    GetClientRect(main_window, &c);
    POINT origin = {0, 0};
    ClientToScreen(main_window, &origin);
    std::printf("winrect %ld %ld %ld %ld\nclient %ld %ld %ld %ld\ntitle %s\nclass %s\n", r.left, r.top,
                r.right - r.left, r.bottom - r.top, origin.x, origin.y, c.right, c.bottom, title, cls);
  } else if (verb == "clock") {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    std::printf("clock %.1f\n", static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart));
  } else if (verb == "start") {
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    PROCESS_INFORMATION process = {};
    std::string line = rest;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start, &process))
      give_up("cannot start " + rest + ": error " + std::to_string(GetLastError()));
    CloseHandle(process.hThread);
    started = process.hProcess;
  } else if (verb == "exit") {
    if (started == nullptr) give_up("exit: no program was started");
    if (WaitForSingleObject(started, timeout_ms) != WAIT_OBJECT_0) give_up("timed out waiting for the started program to end");
    DWORD code = 0;
    GetExitCodeProcess(started, &code);
    std::printf("exit %lu\n", code);
  } else if (verb == "snap") {
    snap(rest);
  } else if (verb == "sleep") {
    Sleep(static_cast<DWORD>(std::atoi(rest.c_str())));
  } else if (verb == "gone") {
    main_window = main_window != nullptr ? main_window : FindWindowA("nv_gfortran", nullptr);
    wait_for("the main window to close", [&] { return main_window == nullptr || !IsWindow(main_window); });
  } else if (verb == "msgbox") {
    HWND box = dialog(rest.c_str());
    char text[1024] = {};
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);  // a message box's text control
    std::printf("msgbox %s: %s\n", rest.c_str(), text);
    press(box, IDOK);
  } else if (verb == "dialog") {
    HWND d = dialog(nullptr);
    press(d, rest == "ok" ? IDOK : IDCANCEL);
  } else if (verb == "silence-progman") {
    silence_progman();
  } else {
    give_up("unknown step " + s);
  }
  std::fflush(stdout);
}

BOOL WINAPI keep_running(DWORD) { return TRUE; }

HANDLE inheritable_file(const char* path) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) give_up(std::string("cannot write ") + path);
  return file;
}

bool holds_an_entry(const std::string& folder) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool found = false;
  do found = std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0;
  while (!found && FindNextFileA(search, &data));
  FindClose(search);
  return found;
}

// The console Wine gives a program started from Linux with its output in
// files takes no control events: the program gets a new one of its own.
int interrupt(int count, char** args) {
  if (count < 4) give_up("interrupt FOLDER OUT ERR PROGRAM [ARG...]");
  std::string line;
  for (int i = 3; i < count; ++i) {
    std::string arg = args[i];
    if (arg.find('"') != std::string::npos || (!arg.empty() && arg.back() == '\\')) give_up("cannot quote " + arg);
    line += (i > 3 ? " \"" : "\"") + arg + "\"";
  }
  FreeConsole();
  if (!AllocConsole()) give_up("no console: error " + std::to_string(GetLastError()));
  SetConsoleCtrlHandler(keep_running, TRUE);
  STARTUPINFOA start = {};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  start.hStdOutput = inheritable_file(args[1]);
  start.hStdError = inheritable_file(args[2]);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process))
    give_up("cannot start " + line + ": error " + std::to_string(GetLastError()));
  CloseHandle(start.hStdOutput);
  CloseHandle(start.hStdError);
  std::string ended;
  wait_for(std::string(args[0]) + " to hold an entry", [&] {
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) give_up("the program ended before " + std::string(args[0]) + " held an entry");
    return holds_an_entry(args[0]);
  });
  if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) give_up("Ctrl-C not sent: error " + std::to_string(GetLastError()));
  if (WaitForSingleObject(process.hProcess, timeout_ms) != WAIT_OBJECT_0) give_up("the program did not end after Ctrl-C");
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  std::printf("exit %lu\n", code);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* t = std::getenv("SETUP_ROBOT_TIMEOUT_MS")) timeout_ms = static_cast<DWORD>(std::atol(t));
  if (const char* p = std::getenv("SETUP_ROBOT_POLL_MS")) poll_ms = static_cast<DWORD>(std::atol(p));
  if (poll_ms == 0) poll_ms = 1;
  if (const char* e = std::getenv("SETUP_ROBOT_ENDED"); e != nullptr && *e != '\0') ended_file = e;
  if (argc > 1 && std::strcmp(argv[1], "interrupt") == 0) return interrupt(argc - 2, argv + 2);
  for (int i = 1; i < argc; ++i) step(argv[i]);
  flush_paint();
  return 0;
}
