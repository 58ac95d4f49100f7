// The registry adapter: the advapi32 calls of the environment keys. The
// values are read and written whole through the wide calls, carried as UTF-8
// to the core; the package's own texts come in the ANSI code page.
#include <windows.h>

#include <new>
#include <string>
#include <vector>

#include "integration/integration_ports.h"

#ifndef WC_ERR_INVALID_CHARS
#define WC_ERR_INVALID_CHARS 0x80
#endif

namespace {

// `length` bytes of `text` in `code_page` as UTF-16; false unless every
// byte converts.
bool widen(UINT code_page, const char* text, int length, std::wstring* wide) {
  wide->clear();
  if (length == 0) return true;
  int needed = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
  if (needed <= 0) return false;
  wide->resize(static_cast<std::size_t>(needed));
  return MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text, length, &(*wide)[0], needed) == needed;
}

// UTF-16 as UTF-8; false for an unpaired surrogate, which would not come
// back as it was.
bool narrow(const wchar_t* wide, int length, std::string* text) {
  text->clear();
  if (length == 0) return true;
  int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  text->resize(static_cast<std::size_t>(needed));
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, length, &(*text)[0], needed, nullptr,
                             nullptr) == needed;
}

bool widen_utf8(const char* text, std::wstring* wide) {
  return widen(CP_UTF8, text, static_cast<int>(std::char_traits<char>::length(text)), wide);
}

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
  int32_t query_text(RegistryKey key, const char* name, uint32_t* type, std::string* text) override {
    std::wstring wide_name;
    if (!widen_utf8(name, &wide_name)) return kRegistryNotText;
    std::vector<BYTE> data(512);
    DWORD value_type = 0;
    DWORD size = 0;
    for (;;) {
      size = static_cast<DWORD>(data.size());
      LONG answer = RegQueryValueExW(static_cast<HKEY>(key), wide_name.c_str(), nullptr, &value_type, data.data(), &size);
      *type = value_type;
      if (answer == ERROR_SUCCESS && size <= data.size()) break;
      // A size that does not grow would ask again for ever.
      if (answer != ERROR_MORE_DATA || size <= data.size()) return answer == ERROR_SUCCESS ? -1 : answer;
      try {
        data.assign(size, 0);
      } catch (const std::bad_alloc&) {
        return -1;
      }
    }
    text->clear();
    // The type alone refuses another kind of data; its bytes are not text.
    if (value_type != REG_SZ && value_type != REG_EXPAND_SZ) return kRegistryOk;
    if (size % 2 != 0) return kRegistryNotText;
    std::wstring wide(size / 2, L'\0');
    if (size > 0) CopyMemory(&wide[0], data.data(), size);
    while (!wide.empty() && wide.back() == L'\0') wide.pop_back();
    return narrow(wide.data(), static_cast<int>(wide.size()), text) ? kRegistryOk : kRegistryNotText;
  }
  int32_t set_text(RegistryKey key, const char* name, uint32_t type, const std::string& text) override {
    std::wstring wide_name, wide;
    if (!widen_utf8(name, &wide_name) || !widen(CP_UTF8, text.data(), static_cast<int>(text.size()), &wide))
      return kRegistryNotText;
    return RegSetValueExW(static_cast<HKEY>(key), wide_name.c_str(), 0, type, reinterpret_cast<const BYTE*>(wide.c_str()),
                          static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  }
  bool text_from_ansi(const char* ansi, std::string* text) override {
    std::wstring wide;
    return widen(CP_ACP, ansi, static_cast<int>(std::char_traits<char>::length(ansi)), &wide) &&
           narrow(wide.data(), static_cast<int>(wide.size()), text);
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
