// Shared doubles of the integration tests: an in-memory registry that can
// refuse keys and fail writes, a scripted environment, settings files in a
// scratch folder, and a DDE channel with scripted group servers.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "integration/integration_ports.h"

struct StoredValue {
  uint32_t type = 0;
  std::string data;  // terminator included, as written
};

class FakeRegistry : public Registry {
 public:
  // Key name: "M\path" or "U\path".
  std::map<std::string, std::map<std::string, StoredValue>> keys;
  std::set<std::string> refused;  // keys that cannot be opened or created
  int writes = 0;
  int failing_write = -1;  // the one write (counted from 0) that fails
  int32_t query_failure = 0;      // answered for every query when not 0
  int open_count = 0;
  std::vector<std::string> queried;

  static std::string key_name(RegistryRoot root, const char* path);
  void put(RegistryRoot root, const char* path, const std::string& name, uint32_t type,
           const std::string& text);
  const StoredValue* get(RegistryRoot root, const char* path, const std::string& name) const;

  int32_t create_key(RegistryRoot root, const char* path, RegistryKey* key) override;
  int32_t open_key(RegistryRoot root, const char* path, RegistryKey* key) override;
  int32_t open_key_for_reading(RegistryRoot root, const char* path, RegistryKey* key) override;
  int32_t query_value(RegistryKey key, const char* name, uint32_t* type, char* data,
                      uint32_t* size) override;
  int32_t set_value(RegistryKey key, const char* name, uint32_t type, const char* data,
                    uint32_t size) override;
  int32_t delete_value(RegistryKey key, const char* name) override;
  void close_key(RegistryKey key) override;

 private:
  std::vector<std::string> handles_;
};

class FakeEnvironment : public EnvironmentReader {
 public:
  std::map<std::string, std::string> variables;
  std::set<std::string> files;  // paths, as the code forms them
  std::vector<std::string> tested;
  uint32_t get_variable(const char* name, char* buffer, uint32_t size) override;
  bool can_open_for_reading(const char* path) override;
};

// Opens the settings files of a scratch folder through the platform's own
// text-mode opener.
class ScratchFiles : public SettingsFileOpener {
 public:
  std::filesystem::path folder;
  std::FILE* open_text(const char* name) override;
};

class RecordingShower : public MessageShower {
 public:
  std::vector<std::string> shown;
  void show(const char* text, const char* caption) override {
    shown.push_back(std::string(caption) + ": " + text);
  }
};

struct FatalCall {
  std::string text, caption;
};

class ThrowingReporter : public FatalReporter {
 public:
  void fail(const char* text, const char* caption) override { throw FatalCall{text, caption}; }
};

// Group servers are windows 0x100, 0x200, ...; each answers the initiate
// with WM_DDE_ACK carrying the atom (or `wrong_atom`, when set).
class FakeDde : public DdeChannel {
 public:
  int servers = 1;
  uint16_t atom = 0xC0DE;
  uint16_t delete_answer = 0;
  bool wrong_atom = false;
  bool unlock_fails = false;
  bool free_fails = false;
  std::vector<std::string> calls;  // in order
  std::vector<std::string> executed;  // the text of each block posted
  int blocks_live = 0;

  ~FakeDde() override {
    for (auto* block : blocks_) delete block;
  }
  uint16_t add_atom(const char* name) override;
  uint16_t delete_atom(uint16_t atom) override;
  void broadcast_initiate(WindowHandle client, uint16_t application, uint16_t topic) override;
  MemoryBlock allocate_block(uint32_t size) override;
  char* lock_block(MemoryBlock block) override;
  int32_t unlock_block(char* text) override;
  MemoryBlock free_block(MemoryBlock block) override;
  void post_execute(WindowHandle server, WindowHandle client, MemoryBlock block) override;
  void broadcast_terminate(WindowHandle client) override;
  void send_command(WindowHandle window, int32_t command) override;

 private:
  std::vector<std::vector<char>*> blocks_;
};

class IntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void write(const std::string& name, const std::string& bytes) const;
  // Runs configure_environment and returns its result and what it printed.
  int configure(const char* folder, std::string* printed = nullptr);

  std::filesystem::path root_;
  FakeRegistry registry_;
  FakeEnvironment environment_;
  ScratchFiles files_;
  RecordingShower shower_;
  ThrowingReporter fatal_;
  FakeDde dde_;
  IntegrationPorts saved_;
};

extern const char kMachineKey[];
extern const char kUserKey[];
