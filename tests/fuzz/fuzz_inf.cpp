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
#include "settings_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string folder = settings_folder("inf");
  // First line: the installation folder (at most 259 characters); the rest: inf.
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t newline = input.find('\n');
  if (newline == std::string::npos || newline > 259) return 0;
  std::string destination = input.substr(0, newline);
  if (destination.find('\0') != std::string::npos) return 0;
  write_file(folder + "/inf", input.data() + newline + 1, input.size() - newline - 1);

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
