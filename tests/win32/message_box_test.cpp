// The engine's real fatal path: a modal box with no owner and a single OK
// button, then the whole process ends with status 0. A helper here finds the
// box of the child process, reads it and presses OK, as a user would.
#include <windows.h>

#include <filesystem>
#include <string>

#include "engine_fixture.h"

namespace fs = std::filesystem;

namespace {

struct BoxSeen {
  bool found = false;
  bool owned = false;
  bool process_still_running = false;
  bool has_ok = false, has_cancel = false;
  int buttons = 0;
  std::string caption, text;
  DWORD exit_code = 0xFFFFFFFF;
};

std::string probe_path() {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
  std::string path(self, n);
  return path.substr(0, path.find_last_of('\\') + 1) + "fatal_probe.exe";
}

struct Search {
  DWORD process;
  HWND box;
};

BOOL CALLBACK find_box(HWND window, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char cls[64] = {};
  GetClassNameA(window, cls, sizeof cls);
  if (process == search->process && std::string(cls) == "#32770" && IsWindowVisible(window)) {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK read_child(HWND child, LPARAM param) {
  BoxSeen* seen = reinterpret_cast<BoxSeen*>(param);
  char cls[64] = {}, text[512] = {};
  GetClassNameA(child, cls, sizeof cls);
  GetWindowTextA(child, text, sizeof text);
  if (_stricmp(cls, "Button") == 0) {
    ++seen->buttons;
  } else if (_stricmp(cls, "Static") == 0 && text[0] != '\0') {
    seen->text = text;
  }
  return TRUE;
}

// Starts the probe, waits for its box, reads and dismisses it.
BoxSeen run_probe(const std::string& source, const std::string& destination, int mode) {
  BoxSeen seen;
  std::string command = "\"" + probe_path() + "\" \"" + source + "\" \"" + destination + "\" " + std::to_string(mode);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << command << ": " << GetLastError();
    return seen;
  }
  Search search = {process.dwProcessId, nullptr};
  for (int i = 0; i < 300 && search.box == nullptr; ++i) {
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;  // ended without a box
    EnumWindows(find_box, reinterpret_cast<LPARAM>(&search));
    if (search.box == nullptr) Sleep(100);
  }
  if (search.box != nullptr) {
    seen.found = true;
    // Modal: the process waits on the box.
    Sleep(200);
    seen.process_still_running = WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
    seen.owned = GetWindow(search.box, GW_OWNER) != nullptr;
    char caption[512] = {};
    GetWindowTextA(search.box, caption, sizeof caption);
    seen.caption = caption;
    EnumChildWindows(search.box, read_child, reinterpret_cast<LPARAM>(&seen));
    seen.has_ok = GetDlgItem(search.box, IDOK) != nullptr;
    seen.has_cancel = GetDlgItem(search.box, IDCANCEL) != nullptr;
    PostMessageA(search.box, WM_COMMAND, IDOK, 0);
  }
  if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "the probe did not end";
    TerminateProcess(process.hProcess, 99);
    WaitForSingleObject(process.hProcess, 5000);
  }
  GetExitCodeProcess(process.hProcess, &seen.exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return seen;
}

void expect_box(const BoxSeen& seen, const std::string& caption, const std::string& text) {
  ASSERT_TRUE(seen.found) << "no message box; exit code " << seen.exit_code;
  EXPECT_TRUE(seen.process_still_running) << "the box must hold the process until it is dismissed";
  EXPECT_FALSE(seen.owned);
  EXPECT_EQ(seen.caption, caption);
  EXPECT_EQ(seen.text, text);
  EXPECT_TRUE(seen.has_ok);
  EXPECT_FALSE(seen.has_cancel);
  EXPECT_EQ(seen.buttons, 1);
  EXPECT_EQ(seen.exit_code, 0u);
}

}  // namespace

TEST_F(EngineTest, FailureShowsOneUnownedOkBoxThenEndsWithStatusZero) {
  // A missing source: the destination is made first, then the box.
  BoxSeen seen = run_probe(at("no-source"), at("dst"), 2);
  expect_box(seen, "Error", "Source directory does not exist.");
  EXPECT_TRUE(fs::is_directory(native("dst")));

  // A read-only file in the way of the expansion names the file and reason.
  write("pkg/f.txt", "");
  write("dst/f.txt", "old");
  ASSERT_TRUE(SetFileAttributesA(at("dst\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  seen = run_probe(at("pkg"), at("dst"), 2);
  expect_box(seen, "Error", "Write to destination file " + at("dst\\f.txt") + ": Permission denied");
  EXPECT_EQ(read("dst/f.txt"), "old");
}

TEST_F(EngineTest, WalkWithoutFailureShowsNoBox) {
  write("src/a.txt", "a");
  BoxSeen seen = run_probe(at("src"), at("dst"), 0);
  EXPECT_FALSE(seen.found);
  EXPECT_EQ(seen.exit_code, 3u);
  EXPECT_EQ(read("dst/a.txt"), "a");
}
