// Native stand-ins of the integration code's Win32 calls: the process
// environment, a file test, the settings files in text mode, and messages.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/integration_platform.h"
#include "platform/platform.h"

Registry* posix_registry();  // registry_posix.cpp

namespace {

constexpr std::size_t kNativePath = 4096;

class PosixEnvironment : public EnvironmentReader {
 public:
  uint32_t get_variable(const char* name, char* buffer, uint32_t size) override {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return 0;
    std::size_t length = std::strlen(value);
    if (length + 1 > size) return static_cast<uint32_t>(length + 1);
    std::memcpy(buffer, value, length + 1);
    return static_cast<uint32_t>(length);
  }
  bool can_open_for_reading(const char* path) override {
    char native[kNativePath];
    if (!native_path(path, native, sizeof native)) return false;
    int fd = open(native, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Opening a folder as a file fails on Windows.
    struct stat st;
    bool file = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close(fd);
    return file;
  }
};

// Text mode as the Windows C library gives it: a CR LF pair reads as LF.
ssize_t read_text(void* cookie, char* buffer, std::size_t size) {
  std::FILE* raw = static_cast<std::FILE*>(cookie);
  std::size_t count = 0;
  while (count < size) {
    int c = std::getc(raw);
    if (c == EOF) break;
    if (c == '\r') {
      int next = std::getc(raw);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, raw);
      }
    }
    buffer[count++] = static_cast<char>(c);
  }
  if (count == 0 && std::ferror(raw)) return -1;
  return static_cast<ssize_t>(count);
}

int close_text(void* cookie) { return std::fclose(static_cast<std::FILE*>(cookie)); }

class PosixSettingsFiles : public SettingsFileOpener {
 public:
  std::FILE* open_text(const char* name) override {
    char native[kNativePath];
    if (!native_path(name, native, sizeof native)) return nullptr;
    std::FILE* raw = std::fopen(native, "rb");
    if (raw == nullptr) return nullptr;
    cookie_io_functions_t functions = {read_text, nullptr, nullptr, close_text};
    std::FILE* text = fopencookie(raw, "r", functions);
    if (text == nullptr) std::fclose(raw);
    return text;
  }
};

class BoxShower : public MessageShower {
 public:
  void show(const char* text, const char* caption) override { show_message_box(text, caption); }
};

}  // namespace

IntegrationPorts platform_integration_ports() {
  static PosixEnvironment environment;
  static PosixSettingsFiles files;
  static BoxShower messages;
  static MessageBoxFatalReporter fatal;
  IntegrationPorts ports;
  ports.registry = posix_registry();
  ports.environment = &environment;
  ports.files = &files;
  ports.messages = &messages;
  ports.fatal = &fatal;
  return ports;
}
