// The DDE channel: atoms, the broadcasts, and the shareable command block.
#include <windows.h>

#include "integration/integration_ports.h"

namespace {

// The broadcast target, every bit of the handle set.
HWND broadcast_window() { return reinterpret_cast<HWND>(~static_cast<UINT_PTR>(0)); }

class Win32DdeChannel : public DdeChannel {
 public:
  uint16_t add_atom(const char* name) override { return GlobalAddAtomA(name); }
  uint16_t delete_atom(uint16_t atom) override { return GlobalDeleteAtom(atom); }
  void broadcast_initiate(WindowHandle client, uint16_t application, uint16_t topic) override {
    SendMessageA(broadcast_window(), WM_DDE_INITIATE, reinterpret_cast<WPARAM>(client),
                 MAKELPARAM(application, topic));
  }
  MemoryBlock allocate_block(uint32_t size) override { return GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, size); }
  char* lock_block(MemoryBlock block) override { return static_cast<char*>(GlobalLock(block)); }
  int32_t unlock_block(char* text) override { return GlobalUnlock(static_cast<HGLOBAL>(text)); }
  MemoryBlock free_block(MemoryBlock block) override { return GlobalFree(block); }
  void post_execute(WindowHandle server, WindowHandle client, MemoryBlock block) override {
    PostMessageA(static_cast<HWND>(server), WM_DDE_EXECUTE, reinterpret_cast<WPARAM>(client),
                 reinterpret_cast<LPARAM>(block));
  }
  void broadcast_terminate(WindowHandle client) override {
    PostMessageA(broadcast_window(), WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(client), 0);
  }
  void send_command(WindowHandle window, int32_t command) override {
    SendMessageA(static_cast<HWND>(window), WM_COMMAND, static_cast<WPARAM>(command), 0);
  }
};

}  // namespace

DdeChannel* win32_dde_channel() {
  static Win32DdeChannel channel;
  return &channel;
}
