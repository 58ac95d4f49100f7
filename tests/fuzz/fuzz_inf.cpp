// The group file on any input, with any folder for "$": the command text
// always fits its 1024-byte block and, from a file, ends with the exit command.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "integration/progman.h"
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
    std::string f = "/tmp/fuzz-inf-" + std::to_string(getpid());
    std::system(("mkdir -p " + f).c_str());
    static FolderFiles files;
    integration_ports() = platform_integration_ports();
    files.real = integration_ports().files;
    files.folder = f;
    integration_ports().files = &files;
    return f;
  }();
  // First line: the installation folder (at most 259 characters); the rest: inf.
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t newline = input.find('\n');
  if (newline == std::string::npos || newline > 259) return 0;
  std::string destination = input.substr(0, newline);
  if (destination.find('\0') != std::string::npos) return 0;
  FILE* inf = std::fopen((folder + "/inf").c_str(), "wb");
  std::fwrite(input.data() + newline + 1, 1, input.size() - newline - 1, inf);
  std::fclose(inf);

  // Exactly the sizes the conversation uses, so any overrun is seen.
  std::vector<char> work(kCommandBufferSize), text(kCommandBufferSize);
  read_group_commands(work.data(), destination.c_str());
  expand_folder_marks(work.data(), destination.c_str(), text.data());
  static const char kExit[] = "[ExitProgman(1)]";
  size_t n = std::strlen(text.data());
  if (n >= kCommandBufferSize) std::abort();
  if (n < sizeof kExit - 1 || std::strcmp(text.data() + n - (sizeof kExit - 1), kExit) != 0) std::abort();
  return 0;
}
