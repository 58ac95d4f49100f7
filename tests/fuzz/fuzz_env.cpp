// The "env" reader and writer on any file, against the stand-in registry:
// a result of 0, 1 or 2, and a store that always reads back as REGEDIT4.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "integration/environment.h"
#include "platform/integration_platform.h"

namespace {

// Opens the settings files in the fuzzer's own folder: libFuzzer reads its
// corpus by relative paths, so the working folder must stay as it is.
class FolderFiles : public SettingsFileOpener {
 public:
  SettingsFileOpener* real = nullptr;
  std::string folder;
  std::FILE* open_text(const char* name) override { return real->open_text((folder + "/" + name).c_str()); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string folder = [] {
    std::string f = "/tmp/fuzz-env-" + std::to_string(getpid());
    std::system(("mkdir -p " + f).c_str());
    setenv("SETUP_MACHINE_REGISTRY", (f + "/machine.reg").c_str(), 1);
    setenv("SETUP_USER_REGISTRY", (f + "/user.reg").c_str(), 1);
    static FolderFiles files;
    integration_ports() = platform_integration_ports();
    files.real = integration_ports().files;
    files.folder = f;
    integration_ports().files = &files;
    // The format messages would flood the fuzzer's own output.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return f;
  }();
  std::string store_path = folder + "/machine.reg";
  std::remove(store_path.c_str());
  FILE* env = std::fopen((folder + "/env").c_str(), "wb");
  std::fwrite(data, 1, size, env);
  std::fclose(env);

  int result = configure_environment("C:\\fuzz\\gcc");
  if (result < 0 || result > 2) std::abort();
  if (FILE* store = std::fopen(store_path.c_str(), "rb")) {
    char head[9] = {};
    size_t n = std::fread(head, 1, 8, store);
    std::fclose(store);
    if (n != 8 || std::strcmp(head, "REGEDIT4") != 0) std::abort();
  }
  return 0;
}
