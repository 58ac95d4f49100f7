// The DLL search of the programs, in a file of its own: linked only into a
// program that calls it, so that the import check sees the call itself.
#include <windows.h>

#include "platform/platform.h"

namespace {

// Not in every compiler's headers: the policy's number and its one word.
constexpr int kProcessRedirectionTrustPolicy = 16;
struct RedirectionTrustPolicy {
  DWORD flags;  // bit 0: enforce
};

// Junctions that a user without administrator rights made are then not
// followed by this process, which may run elevated. Looked up: Windows
// before 10 (21H2) and Wine lack it, and the run goes on without.
void refuse_untrusted_junctions() {
  using SetPolicy = BOOL(WINAPI*)(int, PVOID, SIZE_T);
  auto set_policy = reinterpret_cast<SetPolicy>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetProcessMitigationPolicy")));
  if (set_policy == nullptr) return;
  RedirectionTrustPolicy policy{1};
  set_policy(kProcessRedirectionTrustPolicy, &policy, sizeof policy);
}

}  // namespace

void restrict_library_search() {
  // Looked up: older systems lack it, and they get the next best, the
  // current folder taken out of the search.
  using SetDefault = BOOL(WINAPI*)(DWORD);
  auto set_default = reinterpret_cast<SetDefault>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (set_default == nullptr || !set_default(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryA("");
  refuse_untrusted_junctions();
}
