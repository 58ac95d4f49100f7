// The DLL search of both programs, in a file of its own: linked only into a
// program that calls it, so that the import check sees the call itself.
#include <windows.h>

#include "platform/platform.h"

void restrict_library_search() {
  // Looked up: older systems lack it, and they get the next best, the
  // current folder taken out of the search.
  using SetDefault = BOOL(WINAPI*)(DWORD);
  auto set_default = reinterpret_cast<SetDefault>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (set_default != nullptr && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryA("");
}
