// The integration code's Win32 adapters: the process environment, the file
// test, the settings files, messages, and the factory of them all.
#include <windows.h>

#include <cstdio>

#include "platform/integration_platform.h"
#include "platform/platform.h"

Registry* win32_registry();       // registry_win32.cpp
DdeChannel* win32_dde_channel();  // dde_win32.cpp

namespace {

class Win32Environment : public EnvironmentReader {
 public:
  uint32_t get_variable(const char* name, char* buffer, uint32_t size) override {
    return GetEnvironmentVariableA(name, buffer, size);
  }
  bool can_open_for_reading(const char* path) override {
    HANDLE file = CreateFileA(path, FILE_READ_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
  }
};

class Win32SettingsFiles : public SettingsFileOpener {
 public:
  std::FILE* open_text(const char* name) override { return std::fopen(name, "r"); }
};

class BoxShower : public MessageShower {
 public:
  void show(const char* text, const char* caption) override { show_message_box(text, caption); }
};

}  // namespace

IntegrationPorts platform_integration_ports() {
  static Win32Environment environment;
  static Win32SettingsFiles files;
  static BoxShower messages;
  static MessageBoxFatalReporter fatal;
  IntegrationPorts ports;
  ports.registry = win32_registry();
  ports.environment = &environment;
  ports.files = &files;
  ports.dde = win32_dde_channel();
  ports.messages = &messages;
  ports.fatal = &fatal;
  return ports;
}
