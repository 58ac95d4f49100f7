#include "integration_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "integration/environment.h"
#include "integration/progman.h"
#include "platform/integration_platform.h"

const char kMachineKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char kUserKey[] = "Environment";

namespace {
std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}
}  // namespace

std::string FakeRegistry::key_name(RegistryRoot root, const char* path) {
  return std::string(root == RegistryRoot::LocalMachine ? "M\\" : "U\\") + path;
}

void FakeRegistry::put(RegistryRoot root, const char* path, const std::string& name, uint32_t type,
                       const std::string& text) {
  keys[key_name(root, path)][lower(name)] = StoredValue{type, text + std::string(1, '\0')};
}

const StoredValue* FakeRegistry::get(RegistryRoot root, const char* path, const std::string& name) const {
  auto key = keys.find(key_name(root, path));
  if (key == keys.end()) return nullptr;
  auto value = key->second.find(lower(name));
  return value == key->second.end() ? nullptr : &value->second;
}

int32_t FakeRegistry::create_key(RegistryRoot root, const char* path, RegistryKey* key) {
  std::string name = key_name(root, path);
  if (refused.count(name)) return 5;
  keys[name];
  handles_.push_back(name);
  *key = reinterpret_cast<RegistryKey>(handles_.size());
  ++open_count;
  return 0;
}

int32_t FakeRegistry::open_key(RegistryRoot root, const char* path, RegistryKey* key) {
  std::string name = key_name(root, path);
  if (refused.count(name)) return 5;
  return open_key_for_reading(root, path, key);
}

int32_t FakeRegistry::open_key_for_reading(RegistryRoot root, const char* path, RegistryKey* key) {
  std::string name = key_name(root, path);
  if (refused.count(name)) return 5;
  if (!keys.count(name)) return 2;
  handles_.push_back(name);
  *key = reinterpret_cast<RegistryKey>(handles_.size());
  ++open_count;
  return 0;
}

int32_t FakeRegistry::query_value(RegistryKey key, const char* name, uint32_t* type, char* data,
                                  uint32_t* size) {
  const std::string& key_name = handles_.at(reinterpret_cast<std::size_t>(key) - 1);
  queried.push_back(name);
  if (query_failure != 0) return query_failure;
  auto& values = keys[key_name];
  auto value = values.find(lower(name));
  if (value == values.end()) return 2;
  uint32_t needed = static_cast<uint32_t>(value->second.data.size());
  *type = value->second.type;
  if (*size < needed) {
    *size = needed;
    return 234;
  }
  std::memcpy(data, value->second.data.data(), needed);
  *size = needed;
  return 0;
}

int32_t FakeRegistry::set_value(RegistryKey key, const char* name, uint32_t type, const char* data,
                                uint32_t size) {
  if (writes++ == failing_write) return 5;
  const std::string& key_name = handles_.at(reinterpret_cast<std::size_t>(key) - 1);
  keys[key_name][lower(name)] = StoredValue{type, std::string(data, size)};
  return 0;
}

int32_t FakeRegistry::delete_value(RegistryKey key, const char* name) {
  if (writes++ == failing_write) return 5;
  auto& values = keys[handles_.at(reinterpret_cast<std::size_t>(key) - 1)];
  return values.erase(lower(name)) == 1 ? 0 : 2;
}

void FakeRegistry::close_key(RegistryKey key) {
  EXPECT_GT(open_count, 0) << "a key closed twice";
  --open_count;
  (void)key;
}

uint32_t FakeEnvironment::get_variable(const char* name, char* buffer, uint32_t size) {
  auto value = variables.find(name);
  if (value == variables.end() || value->second.empty()) return 0;
  uint32_t length = static_cast<uint32_t>(value->second.size());
  if (length + 1 > size) return length + 1;
  std::memcpy(buffer, value->second.c_str(), length + 1);
  return length;
}

bool FakeEnvironment::can_open_for_reading(const char* path) {
  tested.push_back(path);
  return files.count(path) != 0;
}

std::FILE* ScratchFiles::open_text(const char* name) {
  std::string path = (folder / name).string();
  return platform_integration_ports().files->open_text(path.c_str());
}

uint16_t FakeDde::add_atom(const char* name) {
  calls.push_back(std::string("add_atom ") + name);
  return atom;
}

uint16_t FakeDde::delete_atom(uint16_t value) {
  calls.push_back("delete_atom " + std::to_string(value));
  return delete_answer;
}

void FakeDde::broadcast_initiate(WindowHandle client, uint16_t application, uint16_t topic) {
  calls.push_back("initiate " + std::to_string(application) + " " + std::to_string(topic));
  // The servers answer while the broadcast is being handled.
  for (int i = 1; i <= servers; ++i) {
    uint16_t answered = wrong_atom ? static_cast<uint16_t>(atom + 1) : atom;
    intptr_t lparam = static_cast<intptr_t>(answered) | (static_cast<intptr_t>(0x5151) << 16);
    on_dde_ack(client, static_cast<uintptr_t>(0x100 * i), lparam);
  }
}

MemoryBlock FakeDde::allocate_block(uint32_t size) {
  calls.push_back("allocate " + std::to_string(size));
  blocks_.push_back(new std::vector<char>(size, 'X'));
  ++blocks_live;
  return blocks_.back();
}

char* FakeDde::lock_block(MemoryBlock block) {
  return static_cast<std::vector<char>*>(block)->data();
}

int32_t FakeDde::unlock_block(char* text) {
  calls.push_back(text == nullptr ? "unlock null" : "unlock");
  return unlock_fails || text == nullptr ? 0 : 1;
}

MemoryBlock FakeDde::free_block(MemoryBlock block) {
  calls.push_back(block == nullptr ? "free null" : "free");
  if (free_fails || block == nullptr) return block;
  for (auto& held : blocks_)
    if (held == block) {
      delete held;
      held = nullptr;
      --blocks_live;
    }
  return nullptr;
}

void FakeDde::post_execute(WindowHandle server, WindowHandle client, MemoryBlock block) {
  (void)client;
  calls.push_back("execute " + std::to_string(reinterpret_cast<uintptr_t>(server)));
  const std::vector<char>& bytes = *static_cast<std::vector<char>*>(block);
  auto end = std::find(bytes.begin(), bytes.end(), '\0');
  EXPECT_NE(end, bytes.end()) << "the command text is not terminated inside its block";
  executed.emplace_back(bytes.begin(), end);
}

void FakeDde::broadcast_terminate(WindowHandle client) {
  (void)client;
  calls.push_back("terminate");
}

void FakeDde::send_command(WindowHandle window, int32_t command) {
  (void)window;
  calls.push_back("command " + std::to_string(command));
}

void IntegrationTest::SetUp() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  root_ = std::filesystem::temp_directory_path() /
          (std::string("integration-") + info->test_suite_name() + "-" + info->name() + "-" +
           std::to_string(::getpid()));
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_);
  files_.folder = root_;
  saved_ = integration_ports();
  integration_ports() = IntegrationPorts{&registry_, &environment_, &files_, &dde_, &shower_, &fatal_};
  progman_conversation() = ProgmanConversation{};
}

void IntegrationTest::TearDown() {
  integration_ports() = saved_;
  progman_conversation() = ProgmanConversation{};
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

void IntegrationTest::write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(root_ / name, std::ios::binary);
  out << bytes;
}

int IntegrationTest::configure(const char* folder, std::string* printed) {
  ::testing::internal::CaptureStdout();
  int result = configure_environment(folder);
  std::string out = ::testing::internal::GetCapturedStdout();
  if (printed != nullptr) *printed = out;
  return result;
}
