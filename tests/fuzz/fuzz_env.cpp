// The "env" reader and writer on any file, against the stand-in registry:
// a result of 0, 1 or 2, and a store that always reads back as REGEDIT4.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "integration/environment.h"
#include "settings_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string folder = [] {
    std::string f = settings_folder("env");
    setenv("SETUP_MACHINE_REGISTRY", (f + "/machine.reg").c_str(), 1);
    setenv("SETUP_USER_REGISTRY", (f + "/user.reg").c_str(), 1);
    // The format messages would flood the fuzzer's own output.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return f;
  }();
  std::string store_path = folder + "/machine.reg";
  std::remove(store_path.c_str());
  write_file(folder + "/env", data, size);

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
