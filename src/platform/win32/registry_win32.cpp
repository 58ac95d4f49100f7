// The registry adapter: the advapi32 calls of the environment keys.
#include <windows.h>

#include "integration/integration_ports.h"

namespace {

HKEY root_key(RegistryRoot root) {
  return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

class Win32Registry : public Registry {
 public:
  int32_t create_key(RegistryRoot root, const char* path, RegistryKey* key) override {
    char key_class[] = "Norvexa";
    HKEY opened = nullptr;
    DWORD disposition = 0;
    LONG answer = RegCreateKeyExA(root_key(root), path, 0, key_class, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &opened, &disposition);
    if (answer == ERROR_SUCCESS) *key = opened;
    return answer;
  }
  int32_t open_key(RegistryRoot root, const char* path, RegistryKey* key) override {
    HKEY opened = nullptr;
    LONG answer = RegOpenKeyExA(root_key(root), path, 0, KEY_ALL_ACCESS, &opened);
    if (answer == ERROR_SUCCESS) *key = opened;
    return answer;
  }
  int32_t open_key_for_reading(RegistryRoot root, const char* path, RegistryKey* key) override {
    HKEY opened = nullptr;
    LONG answer = RegOpenKeyExA(root_key(root), path, 0, KEY_READ, &opened);
    if (answer == ERROR_SUCCESS) *key = opened;
    return answer;
  }
  int32_t query_value(RegistryKey key, const char* name, uint32_t* type, char* data,
                      uint32_t* size) override {
    DWORD value_type = 0;
    DWORD value_size = *size;
    LONG answer = RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, &value_type,
                                   reinterpret_cast<BYTE*>(data), &value_size);
    *type = value_type;
    *size = value_size;
    return answer;
  }
  int32_t set_value(RegistryKey key, const char* name, uint32_t type, const char* data,
                    uint32_t size) override {
    return RegSetValueExA(static_cast<HKEY>(key), name, 0, type, reinterpret_cast<const BYTE*>(data), size);
  }
  int32_t delete_value(RegistryKey key, const char* name) override {
    return RegDeleteValueA(static_cast<HKEY>(key), name);
  }
  void close_key(RegistryKey key) override { RegCloseKey(static_cast<HKEY>(key)); }
};

}  // namespace

Registry* win32_registry() {
  static Win32Registry registry;
  return &registry;
}
