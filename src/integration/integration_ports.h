// What the system-integration code needs of the platform: the registry, the
// process environment and file test, the settings files, the DDE exchange
// with the shell's group server, and the two ways of reporting. The Win32
// adapters call the functions named on each operation; the POSIX ones stand in.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/fatal.h"
#include "common/install_state.h"

// Registry value types and answers, with the platform's codes.
constexpr uint32_t kRegSz = 1;         // REG_SZ
constexpr uint32_t kRegExpandSz = 2;   // REG_EXPAND_SZ
constexpr int32_t kRegistryOk = 0;
constexpr int32_t kRegistryNotFound = 2;    // ERROR_FILE_NOT_FOUND
constexpr int32_t kRegistryMoreData = 234;  // ERROR_MORE_DATA
constexpr int32_t kRegistryNotText = 13;    // ERROR_INVALID_DATA: no text to be read whole

enum class RegistryRoot : int32_t { LocalMachine = 0, CurrentUser = 1 };

using RegistryKey = void*;

class Registry {
 public:
  virtual ~Registry() = default;
  // RegCreateKeyExA(root, path, 0, "Norvexa", 0, KEY_ALL_ACCESS, no
  // security attributes): 0 and *key set when the key is open for writing.
  virtual int32_t create_key(RegistryRoot root, const char* path, RegistryKey* key) = 0;
  // RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS): an existing key only.
  virtual int32_t open_key(RegistryRoot root, const char* path, RegistryKey* key) = 0;
  // RegOpenKeyExA(root, path, 0, KEY_READ): an existing key, to read only.
  virtual int32_t open_key_for_reading(RegistryRoot root, const char* path, RegistryKey* key) = 0;
  // RegQueryValueExA: *size is the buffer's size on entry. 0: *type and the
  // data given, *size the bytes stored; 234: buffer too small, *size the
  // size needed; 2: no such value; anything else: failure.
  virtual int32_t query_value(RegistryKey key, const char* name, uint32_t* type, char* data,
                              uint32_t* size) = 0;
  // RegSetValueExA(key, name, 0, type, data, size): 0 = written.
  virtual int32_t set_value(RegistryKey key, const char* name, uint32_t type, const char* data,
                            uint32_t size) = 0;
  // The environment values read and written whole, in UTF-8: on Windows
  // through RegQueryValueExW and RegSetValueExW, so that an item outside the
  // ANSI code page comes back as it was. The byte calls above serve a store
  // that keeps UTF-8 as it is, and the default folder's ANSI read.
  // query_text: the answer of the read; *text the data without the zeros
  // that end it (a zero before them stays, for the caller to refuse), or
  // kRegistryNotText when the data is no text (UTF-16 cut or ill-formed).
  virtual int32_t query_text(RegistryKey key, const char* name, uint32_t* type, std::string* text);
  // set_text: `text` and its terminator; kRegistryNotText when it is no UTF-8.
  virtual int32_t set_text(RegistryKey key, const char* name, uint32_t type, const std::string& text);
  // The package's text (ANSI code page) as the UTF-8 of the two calls above:
  // MultiByteToWideChar(CP_ACP) on Windows; as it is elsewhere. False when
  // it cannot be converted.
  virtual bool text_from_ansi(const char* ansi, std::string* text);
  // RegDeleteValueA(key, name): 0 = deleted.
  virtual int32_t delete_value(RegistryKey key, const char* name) = 0;
  // RegCloseKey.
  virtual void close_key(RegistryKey key) = 0;
};

class EnvironmentReader {
 public:
  virtual ~EnvironmentReader() = default;
  // GetEnvironmentVariableA(name, buffer, size): 0 when unset or empty; the
  // size needed (above `size`) when it does not fit;
  // otherwise the length stored.
  virtual uint32_t get_variable(const char* name, char* buffer, uint32_t size) = 0;
  // CreateFileA(path, FILE_READ_DATA, FILE_SHARE_READ, no security
  // attributes, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, no template), closed
  // again at once: true when it opened. `path` is "\"-separated.
  virtual bool can_open_for_reading(const char* path) = 0;
};

class SettingsFileOpener {
 public:
  virtual ~SettingsFileOpener() = default;
  // fopen(name, "r"): the settings file beside the installer, in text mode
  // (a CR before an LF is not seen). nullptr when it cannot be opened.
  virtual std::FILE* open_text(const char* name) = 0;
};

// Message numbers of the exchange.
constexpr uint32_t kWmDdeInitiate = 0x03E0;
constexpr uint32_t kWmDdeTerminate = 0x03E1;
constexpr uint32_t kWmDdeAck = 0x03E4;
constexpr uint32_t kWmDdeExecute = 0x03E8;

using MemoryBlock = void*;  // a shareable global memory handle

class DdeChannel {
 public:
  virtual ~DdeChannel() = default;
  // GlobalAddAtomA(name).
  virtual uint16_t add_atom(const char* name) = 0;
  // GlobalDeleteAtom(atom): 0 = done.
  virtual uint16_t delete_atom(uint16_t atom) = 0;
  // SendMessageA(HWND_BROADCAST, WM_DDE_INITIATE, client, MAKELONG(application,
  // topic)). Returns once every top-level window has handled it, so the
  // servers' WM_DDE_ACK answers reach the client before it returns.
  virtual void broadcast_initiate(WindowHandle client, uint16_t application, uint16_t topic) = 0;
  // GlobalAlloc(GMEM_DDESHARE | GMEM_MOVEABLE, size); nullptr on failure.
  virtual MemoryBlock allocate_block(uint32_t size) = 0;
  // GlobalLock(block); nullptr on failure.
  virtual char* lock_block(MemoryBlock block) = 0;
  // GlobalUnlock(text), given the locked address: 0 = failure.
  virtual int32_t unlock_block(char* text) = 0;
  // GlobalFree(block): nullptr = freed, else the block.
  virtual MemoryBlock free_block(MemoryBlock block) = 0;
  // PostMessageA(server, WM_DDE_EXECUTE, client, block).
  virtual void post_execute(WindowHandle server, WindowHandle client, MemoryBlock block) = 0;
  // PostMessageA(HWND_BROADCAST, WM_DDE_TERMINATE, client, 0).
  virtual void broadcast_terminate(WindowHandle client) = 0;
  // SendMessageA(window, WM_COMMAND, command, 0): returns once handled.
  virtual void send_command(WindowHandle window, int32_t command) = 0;
};

class MessageShower {
 public:
  virtual ~MessageShower() = default;
  // MessageBoxA(no owner, text, caption, MB_OK); the run goes on.
  virtual void show(const char* text, const char* caption) = 0;
};

struct IntegrationPorts {
  Registry* registry = nullptr;
  EnvironmentReader* environment = nullptr;
  SettingsFileOpener* files = nullptr;
  DdeChannel* dde = nullptr;
  MessageShower* messages = nullptr;
  FatalReporter* fatal = nullptr;
};

// The ports the integration code uses; set once before it runs.
IntegrationPorts& integration_ports();
