// pkgtree: makes and checks package trees with the installer's own engine.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/engine.h"
#include "platform/platform.h"

namespace {

const char kUsage[] = "usage: pkgtree [-v] compress|expand|copy SOURCE DESTINATION\n";

// Unlike the installer, a maintainer's tool must say it failed.
class ExitOneReporter : public FatalReporter {
 public:
  void fail(const char* text, const char* caption) override {
    std::fprintf(stderr, "pkgtree: %s: %s\n", caption, text);
    std::exit(1);
  }
};

class PathPrinter : public WizardLink {
 public:
  void set_current_file(const char* path) override {
    char native[4096];
    std::puts(native_path(path, native, sizeof native) ? native : path);
  }
  void send_command(WindowHandle, int32_t) override {}
};

}  // namespace

int main(int argc, char** argv) {
  int first = 1;
  int report = 0;
  if (argc > 1 && std::strcmp(argv[1], "-v") == 0) {
    report = 1;
    first = 2;
  }
  if (argc - first != 3) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const char* action = argv[first];
  CopyMode mode;
  if (std::strcmp(action, "compress") == 0) mode = CopyMode::Compress;
  else if (std::strcmp(action, "expand") == 0) mode = CopyMode::Expand;
  else if (std::strcmp(action, "copy") == 0) mode = CopyMode::Copy;
  else {
    std::fputs(kUsage, stderr);
    return 2;
  }
  static ExitOneReporter fatal;
  static PathPrinter printer;
  EnginePorts ports = platform_engine_ports();
  ports.fatal = &fatal;
  ports.wizard = &printer;
  engine_ports() = ports;
  install_tree(argv[first + 1], argv[first + 2], static_cast<int32_t>(mode), report);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
