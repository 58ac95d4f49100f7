#include "integration/default_folder.h"

#include <cstdlib>
#include <cstring>

#include "integration/environment.h"

namespace {

const char kFallbackFolder[] = "c:\\program files\\gcc";
const char kCompilerName[] = "\\gcc.exe";
constexpr int32_t kBinLength = 4;  // "\bin" under the installation folder

// The PATH value of an open key, read whole; nullptr when there is none.
char* read_path_value(Registry* registry, RegistryKey key) {
  uint32_t capacity = 1;
  for (;;) {
    char* buffer = static_cast<char*>(std::malloc(capacity + 1));
    if (buffer == nullptr) return nullptr;
    uint32_t size = capacity;
    uint32_t type = 0;
    int32_t answer = registry->query_value(key, "PATH", &type, buffer, &size);
    if (answer == kRegistryOk && size <= capacity) {
      buffer[size] = '\0';
      return buffer;
    }
    std::free(buffer);
    if (answer != kRegistryMoreData || size <= capacity || size == UINT32_MAX) return nullptr;
    capacity = size;
  }
}

}  // namespace

int file_exists(const char* path) {
  return integration_ports().environment->can_open_for_reading(path) ? 1 : 0;
}

void find_gcc_on_path(RegistryRoot root, const char* key_path, char* folder) {
  folder[0] = '\0';
  Registry* registry = integration_ports().registry;
  RegistryKey key = nullptr;
  if (registry->open_key(root, key_path, &key) != kRegistryOk) return;
  char* value = read_path_value(registry, key);
  if (value == nullptr) {
    registry->close_key(key);
    return;
  }
  for (char* c = value; *c != '\0'; ++c)
    if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');

  const int32_t suffix_length = static_cast<int32_t>(sizeof kCompilerName - 1);
  int32_t best_length = 2 * kPathBufferSize;
  char candidate[kPathBufferSize];
  char* piece = value;
  while (*piece != '\0') {
    // Runs of ';' and separators at either end give no folder.
    if (*piece == ';') {
      ++piece;
      continue;
    }
    char* end = std::strchr(piece, ';');
    int32_t length = end != nullptr ? static_cast<int32_t>(end - piece) : static_cast<int32_t>(std::strlen(piece));
    // A folder that cannot lose "\bin", or whose candidate would not fit,
    // cannot name an installation here.
    if (length >= kBinLength && length + suffix_length < kPathBufferSize && length < best_length) {
      std::memcpy(candidate, piece, static_cast<std::size_t>(length));
      std::memcpy(candidate + length, kCompilerName, sizeof kCompilerName);
      if (file_exists(candidate)) {
        best_length = length;
        std::memcpy(folder, piece, static_cast<std::size_t>(length - kBinLength));
        folder[length - kBinLength] = '\0';
      }
    }
    piece += length;
  }
  std::free(value);
  registry->close_key(key);
}

void find_existing_installation(char* folder) {
  find_gcc_on_path(RegistryRoot::LocalMachine, kMachineEnvironmentKey, folder);
  if (folder[0] == '\0') find_gcc_on_path(RegistryRoot::CurrentUser, kUserEnvironmentKey, folder);
}

int32_t get_home_folder(char* out, int32_t capacity) {
  EnvironmentReader* environment = integration_ports().environment;
  char buffer[kPathBufferSize];
  uint32_t drive = environment->get_variable("HOMEDRIVE", buffer, kPathBufferSize);
  if (drive == 0 || drive >= kPathBufferSize || static_cast<int32_t>(drive) >= capacity) return 0;
  std::memcpy(out, buffer, drive + 1);
  uint32_t path = environment->get_variable("HOMEPATH", buffer, kPathBufferSize);
  if (path == 0 || path >= kPathBufferSize || static_cast<int32_t>(drive + path) >= capacity) return 0;
  std::memcpy(out + drive, buffer, path + 1);
  return static_cast<int32_t>(drive + path);
}

void choose_default_folder(char* destination) {
  char found[kPathBufferSize];
  find_existing_installation(found);
  if (found[0] != '\0') {
    std::memcpy(destination, found, std::strlen(found) + 1);
    return;
  }
  char home[kPathBufferSize];
  int32_t length = get_home_folder(home, kPathBufferSize);
  if (length > 0) {
    const char* suffix = home[length - 1] == '\\' ? "gcc" : "\\gcc";
    int32_t suffix_length = static_cast<int32_t>(std::strlen(suffix));
    // A home folder too long for the proposal counts as none.
    if (length + suffix_length < kPathBufferSize) {
      std::memcpy(destination, home, static_cast<std::size_t>(length));
      std::memcpy(destination + length, suffix, static_cast<std::size_t>(suffix_length) + 1);
      return;
    }
  }
  std::memcpy(destination, kFallbackFolder, sizeof kFallbackFolder);
}
