// The real setup.exe on the desktop: started with a title, its main window
// is found by class and measured, page 1's controls are found by
// identifier and class, and Deny ends it with status 0.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/engine.h"
#include "platform/platform.h"
#include "shell/layout.h"

namespace {

// The program's path as this (Windows) process names it.
std::string windows_path(const char* path) {
  std::string out = path;
  if (!out.empty() && out[0] == '/') out = "Z:" + out;
  for (char& c : out) c = c == '/' ? '\\' : c;
  return out;
}

template <typename F>
bool wait_until(F ready, DWORD ms = 60000) {
  DWORD start = GetTickCount();
  while (!ready()) {
    if (GetTickCount() - start > ms) return false;
    Sleep(50);
  }
  return true;
}

struct Child {
  HWND window = nullptr;
  RECT rect{};  // in the main window's client coordinates
  std::string class_name, text;
  LONG style = 0;
};

struct Search {
  HWND main;
  int id;
  const char* class_name;
  Child* out;
};

BOOL CALLBACK match_child(HWND child, LPARAM raw) {
  Search* s = reinterpret_cast<Search*>(raw);
  char name[64] = {};
  GetClassNameA(child, name, sizeof name);
  if (GetDlgCtrlID(child) != s->id || lstrcmpiA(name, s->class_name) != 0) return TRUE;
  s->out->window = child;
  s->out->class_name = name;
  char text[128] = {};
  GetWindowTextA(child, text, sizeof text);
  s->out->text = text;
  s->out->style = GetWindowLongA(child, GWL_STYLE);
  GetWindowRect(child, &s->out->rect);
  MapWindowPoints(HWND_DESKTOP, s->main, reinterpret_cast<POINT*>(&s->out->rect), 2);
  return FALSE;
}

Child child_with(HWND main, int id, const char* class_name) {
  Child found;
  Search search{main, id, class_name, &found};
  EnumChildWindows(main, match_child, reinterpret_cast<LPARAM>(&search));
  return found;
}

TEST(SetupWindow, CentredCaptionWindowWithPageOneInPlace) {
  std::string command = "\"" + windows_path(SETUP_EXE_PATH) + "\" -t \"Probe Title\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process))
      << GetLastError();

  HWND main = nullptr;
  ASSERT_TRUE(wait_until([&] { return (main = FindWindowA("nv_gfortran", "Probe Title")) != nullptr; }));
  // Centring follows the showing: wait until the window has moved.
  RECT outer{};
  ASSERT_TRUE(wait_until([&] {
    GetWindowRect(main, &outer);
    return outer.left != 0 || outer.top != 0;
  }));
  EXPECT_EQ(outer.left, 162);
  EXPECT_EQ(outer.top, 134);
  EXPECT_EQ(outer.right - outer.left, 700);
  EXPECT_EQ(outer.bottom - outer.top, 500);
  LONG style = GetWindowLongA(main, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), WS_CAPTION);

  RECT client{};
  GetClientRect(main, &client);
  int width = client.right, height = client.bottom;
  std::printf("client area %d x %d\n", width, height);
  int pane_width = layout_pane_width(width);
  int margin = layout_margin(width, pane_width);
  int pane_height = layout_pane_height(height);
  int row_1_y = layout_row_1_y(height, margin, pane_height);

  Child pane = child_with(main, 0, "MDICLIENT");
  ASSERT_NE(pane.window, nullptr);
  EXPECT_EQ(pane.rect.left, margin);
  EXPECT_EQ(pane.rect.top, margin + 40);
  EXPECT_EQ(pane.rect.right - pane.rect.left, pane_width);
  EXPECT_EQ(pane.rect.bottom - pane.rect.top, pane_height);
  EXPECT_TRUE(pane.style & WS_VISIBLE);
  EXPECT_TRUE(pane.style & WS_VSCROLL);

  Child accept = child_with(main, 1, "BUTTON");
  Child deny = child_with(main, 2, "BUTTON");
  ASSERT_NE(accept.window, nullptr);
  ASSERT_NE(deny.window, nullptr);
  EXPECT_EQ(accept.text, "Accept");
  EXPECT_EQ(accept.rect.left, width - margin - 100);
  EXPECT_EQ(accept.rect.top, row_1_y);
  EXPECT_EQ(accept.rect.right - accept.rect.left, 100);
  EXPECT_EQ(accept.rect.bottom - accept.rect.top, 30);
  EXPECT_EQ(deny.text, "Deny");
  EXPECT_EQ(deny.rect.left, margin);
  EXPECT_EQ(deny.rect.top, row_1_y);

  // The desktop's usual frame gives the client area of the worked values.
  if (width == 694 && height == 475) {
    EXPECT_EQ(pane.rect.top, 75);
    EXPECT_EQ(accept.rect.left, 559);
    EXPECT_EQ(accept.rect.top, 406);
  }

  PostMessageA(deny.window, BM_CLICK, 0, 0);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  EXPECT_EQ(status, 0u);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

// A whole installation by the real program, driven as a user would: a
// small package made with the engine, Accept, a folder, Install, Finish.
class ThrowingReporter : public FatalReporter {
 public:
  void fail(const char* text, const char*) override { throw std::string(text); }
};

class Quiet : public WizardLink {
 public:
  void set_current_file(const char*) override {}
  void send_command(WindowHandle, int32_t) override {}
};

void write_text(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

std::string read_text(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(missing)";
  char buffer[4096];
  DWORD got = 0;
  ReadFile(file, buffer, sizeof buffer, &got, nullptr);
  CloseHandle(file);
  return std::string(buffer, got);
}

HWND wait_for_control(HWND main, int id, const char* class_name) {
  HWND found = nullptr;
  wait_until([&] {
    Child c = child_with(main, id, class_name);
    found = c.window != nullptr && (c.style & WS_VISIBLE) ? c.window : nullptr;
    return found != nullptr || !IsWindow(main);
  });
  return found;
}

TEST(SetupWindow, InstallsFromTheLicenceToFinish) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string root = std::string(temp) + "setup-probe-" + std::to_string(GetCurrentProcessId());
  std::string plain = root + "\\plain", package = root + "\\package", destination = root + "\\installed";
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA(plain.c_str(), nullptr);
  CreateDirectoryA((plain + "\\bin").c_str(), nullptr);
  CreateDirectoryA(package.c_str(), nullptr);
  write_text(plain + "\\bin\\tool.txt", "installed by the probe\n");
  {
    ThrowingReporter fatal;
    Quiet quiet;
    EnginePorts saved = engine_ports();
    EnginePorts ports = platform_engine_ports();
    ports.fatal = &fatal;
    ports.wizard = &quiet;
    engine_ports() = ports;
    install_tree(plain.c_str(), (package + "\\source").c_str(), static_cast<int32_t>(CopyMode::Compress), 0);
    engine_ports() = saved;
  }
  write_text(package + "\\env", "PROBE_HOME\nREG_SZ\n\\bin\n::\n");
  write_text(package + "\\inf", "Probe\n::\n$\\bin\\tool.txt,Probe Tool\n");

  std::string command = "\"" + windows_path(SETUP_EXE_PATH) + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, package.c_str(),
                             &startup, &process));
  HWND main = nullptr;
  ASSERT_TRUE(wait_until([&] { return (main = FindWindowA("nv_gfortran", nullptr)) != nullptr; }));

  HWND accept = wait_for_control(main, 1, "BUTTON");
  ASSERT_NE(accept, nullptr);
  PostMessageA(accept, BM_CLICK, 0, 0);
  HWND edit = wait_for_control(main, 4, "EDIT");
  ASSERT_NE(edit, nullptr);
  HWND install = wait_for_control(main, 5, "BUTTON");
  ASSERT_NE(install, nullptr);
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(destination.c_str()));
  PostMessageA(install, BM_CLICK, 0, 0);
  HWND finish = wait_for_control(main, 7, "BUTTON");
  ASSERT_NE(finish, nullptr) << "no Finish button";
  Child placed = child_with(main, 7, "BUTTON");
  RECT client{};
  GetClientRect(main, &client);
  EXPECT_EQ(placed.rect.left, layout_finish_x(client.right));
  PostMessageA(finish, BM_CLICK, 0, 0);

  EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  EXPECT_EQ(status, 0u);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(read_text(destination + "\\bin\\tool.txt"), "installed by the probe\n");
}

// The system closes the window (it has no close box, but the system may
// still ask): the default handling destroys it and the program ends with 0
// instead of waiting on a window that is gone.
TEST(SetupWindow, SystemCloseRequestEndsTheProgram) {
  std::string command = "\"" + windows_path(SETUP_EXE_PATH) + "\" -t \"Close Probe\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process));
  HWND main = nullptr;
  ASSERT_TRUE(wait_until([&] { return (main = FindWindowA("nv_gfortran", "Close Probe")) != nullptr; }));
  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
  DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  EXPECT_EQ(status, 0u);
  if (status == STILL_ACTIVE) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace
