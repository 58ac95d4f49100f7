// The conversation through the real Win32 channel: a group server window of
// this test answers the broadcast like the shell's, under Wine.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "integration/progman.h"
#include "integration_fixture.h"
#include "platform/integration_platform.h"

namespace {

struct ServerLog {
  int initiates = 0;
  int terminates = 0;
  std::vector<std::string> executed;
  int commands_8 = 0;
};
ServerLog* server_log = nullptr;

LRESULT CALLBACK server_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DDE_INITIATE: {
      char name[32] = {};
      GlobalGetAtomNameA(LOWORD(lparam), name, sizeof name);
      // Atom names keep the spelling of their first owner.
      if (lstrcmpiA(name, "PROGMAN") != 0) break;
      ++server_log->initiates;
      SendMessageA(reinterpret_cast<HWND>(wparam), WM_DDE_ACK, reinterpret_cast<WPARAM>(window),
                   MAKELPARAM(LOWORD(lparam), HIWORD(lparam)));
      return 0;
    }
    case WM_DDE_EXECUTE: {
      HGLOBAL block = reinterpret_cast<HGLOBAL>(lparam);
      const char* text = static_cast<const char*>(GlobalLock(block));
      server_log->executed.emplace_back(text != nullptr ? text : "<no text>");
      GlobalUnlock(block);
      return 0;
    }
    case WM_DDE_TERMINATE:
      ++server_log->terminates;
      return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

LRESULT CALLBACK wizard_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_DDE_ACK:
      on_dde_ack(window, wparam, lparam);
      return 0;
    case WM_DDE_TERMINATE:
      on_dde_terminate(window, wparam, lparam);
      return 0;
    case WM_COMMAND:
      if (wparam == 8) ++server_log->commands_8;
      return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

HWND make_window(const char* class_name, WNDPROC procedure) {
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = class_name;
  RegisterClassA(&window_class);
  return CreateWindowExA(0, class_name, class_name, WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

class WineDde : public IntegrationTest {
 protected:
  void SetUp() override {
    IntegrationTest::SetUp();
    integration_ports().dde = platform_integration_ports().dde;
    server_log = &log_;
    std::strcpy(install_state().destination_folder, "c:\\tools\\gcc");
  }
  void TearDown() override {
    server_log = nullptr;
    IntegrationTest::TearDown();
  }
  // Handles the queued messages until `done` or two seconds have passed.
  template <typename Done>
  void pump(Done done) {
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < 2000) {
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
      Sleep(10);
    }
  }
  ServerLog log_;
};

TEST_F(WineDde, ConversationWithOneServer) {
  // The prefix's own group server may answer too: a name of this test's own.
  write("inf", "Probe Group\n::\n$\\bin\\gcc.exe,Compiler\n::\nProbe Group\n");
  HWND server = make_window("GroupServerProbe", server_procedure);
  HWND wizard = make_window("WizardProbe", wizard_procedure);
  ASSERT_NE(server, nullptr);
  ASSERT_NE(wizard, nullptr);
  start_group_conversation(wizard);
  // The answer came inside the broadcast; the execute and the terminates
  // arrive through the queue.
  EXPECT_EQ(log_.initiates, 1);
  pump([&] { return log_.commands_8 > 0 && log_.terminates > 0 && !log_.executed.empty(); });
  ASSERT_EQ(log_.executed.size(), 1u);
  EXPECT_EQ(log_.executed[0],
            "[CreateGroup(Probe Group, )][AddItem(c:\\tools\\gcc\\bin\\gcc.exe,Compiler)]"
            "[ShowGroup(Probe Group,4, )][ExitProgman(1)]");
  EXPECT_GE(log_.terminates, 1) << "the broadcast terminate reached the server";
  EXPECT_GE(log_.commands_8, 1);
  EXPECT_EQ(progman_conversation().command_block, nullptr) << "released at the wizard's terminate";
  EXPECT_TRUE(shower_.shown.empty()) << (shower_.shown.empty() ? "" : shower_.shown[0]);
  DestroyWindow(wizard);
  DestroyWindow(server);
}

}  // namespace
