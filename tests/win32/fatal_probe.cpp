// Runs the tree walk with the installer's real fatal reporter on a worker
// thread, as the loader does:  fatal_probe SOURCE DESTINATION COPY_MODE
// A failure shows the real message box and ends the process with status 0;
// a walk that succeeds ends it with status 3.
#include <windows.h>

#include <cstdlib>

#include "engine/engine.h"
#include "platform/platform.h"

namespace {

class SilentWizard : public WizardLink {
 public:
  void set_current_file(const char*) override {}
  void send_command(WindowHandle, int32_t) override {}
};

const char* g_source;
const char* g_destination;
int32_t g_mode;

DWORD WINAPI walk(void*) {
  install_tree(g_source, g_destination, g_mode, 1);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  g_source = argv[1];
  g_destination = argv[2];
  g_mode = std::atoi(argv[3]);
  static MessageBoxFatalReporter fatal;
  static SilentWizard wizard;
  EnginePorts ports = platform_engine_ports();
  ports.fatal = &fatal;
  ports.wizard = &wizard;
  engine_ports() = ports;
  HANDLE thread = CreateThread(nullptr, 0, walk, nullptr, 0, nullptr);
  if (thread == nullptr) return 4;
  // The box's exit ends this wait together with the whole process.
  WaitForSingleObject(thread, INFINITE);
  return 3;
}
