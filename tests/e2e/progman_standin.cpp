// A Program Manager stand-in for runs under Wine: answers the "PROGMAN"
// initiate as a server does, appends every execute's text as one line to
// OUTPUT_FILE, acknowledges it, and answers a terminate with its own.
//
//   progman_standin.exe OUTPUT_FILE READY_FILE
//
// READY_FILE is created once the server window exists, so a harness knows
// when to start the installer.
#include <windows.h>
#include <dde.h>

#include <cstdio>
#include <cstring>

namespace {

const char* output_path = nullptr;

bool names_progman(ATOM atom) {
  char name[64] = {};
  return atom != 0 && GlobalGetAtomNameA(atom, name, sizeof name) > 0 && lstrcmpiA(name, "PROGMAN") == 0;
}

void record(const char* text) {
  if (FILE* out = std::fopen(output_path, "ab")) {
    std::fprintf(out, "%s\n", text);
    std::fclose(out);
  }
}

LRESULT CALLBACK server_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DDE_INITIATE: {
      ATOM application = LOWORD(lparam), topic = HIWORD(lparam);
      if (names_progman(application) && names_progman(topic)) {
        // A server hands out atoms of its own; adding a reference is that.
        ATOM a = GlobalAddAtomA("PROGMAN");
        SendMessageA(reinterpret_cast<HWND>(wparam), WM_DDE_ACK, reinterpret_cast<WPARAM>(window), MAKELPARAM(a, a));
      }
      return 0;
    }
    case WM_DDE_EXECUTE: {
      HGLOBAL block = reinterpret_cast<HGLOBAL>(lparam);
      const char* text = static_cast<const char*>(GlobalLock(block));
      record(text != nullptr ? text : "");
      if (text != nullptr) GlobalUnlock(block);
      PostMessageA(reinterpret_cast<HWND>(wparam), WM_DDE_ACK, reinterpret_cast<WPARAM>(window),
                   PackDDElParam(WM_DDE_ACK, 0x8000, reinterpret_cast<UINT_PTR>(block)));
      return 0;
    }
    case WM_DDE_TERMINATE:
      PostMessageA(reinterpret_cast<HWND>(wparam), WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window), 0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: progman_standin OUTPUT_FILE READY_FILE\n");
    return 2;
  }
  output_path = argv[1];
  WNDCLASSA wc = {};
  wc.lpfnWndProc = server_proc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "progman_standin";
  RegisterClassA(&wc);
  // A hidden top-level window: broadcasts reach it, the screen does not show it.
  HWND window = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
  if (window == nullptr) return 1;
  if (FILE* ready = std::fopen(argv[2], "wb")) std::fclose(ready);
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
  return 0;
}
