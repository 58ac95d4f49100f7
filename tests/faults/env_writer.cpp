// Writes the "env" file of the current folder into the file-backed registry,
// as the installer does after the files are in place, and nothing else: a
// short process a test can kill at any moment of the store's rewrite.
//   env_writer FOLDER [SNAPSHOT_DIR]
// Prints "ready" just before the write starts and "result R MICROSECONDS"
// when it is over. With SNAPSHOT_DIR, a copy of the machine store is taken
// after every change the registry accepts (0.reg, 1.reg, ...): the whole
// states the store passes through on an uninterrupted run.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "integration/environment.h"
#include "platform/integration_platform.h"

namespace {

class SnapshotRegistry : public Registry {
 public:
  SnapshotRegistry(Registry* inner, std::string folder) : inner_(inner), folder_(std::move(folder)) {}

  int32_t create_key(RegistryRoot root, const char* path, RegistryKey* key) override {
    int32_t answer = inner_->create_key(root, path, key);
    if (answer == kRegistryOk) take();
    return answer;
  }
  int32_t open_key(RegistryRoot root, const char* path, RegistryKey* key) override {
    return inner_->open_key(root, path, key);
  }
  int32_t open_key_for_reading(RegistryRoot root, const char* path, RegistryKey* key) override {
    return inner_->open_key_for_reading(root, path, key);
  }
  int32_t query_value(RegistryKey key, const char* name, uint32_t* type, char* data,
                      uint32_t* size) override {
    return inner_->query_value(key, name, type, data, size);
  }
  int32_t delete_value(RegistryKey key, const char* name) override {
    int32_t answer = inner_->delete_value(key, name);
    if (answer == kRegistryOk) take();
    return answer;
  }
  int32_t set_value(RegistryKey key, const char* name, uint32_t type, const char* data,
                    uint32_t size) override {
    int32_t answer = inner_->set_value(key, name, type, data, size);
    if (answer == kRegistryOk) take();
    return answer;
  }
  void close_key(RegistryKey key) override { inner_->close_key(key); }

 private:
  void take() {
    const char* store = std::getenv("SETUP_MACHINE_REGISTRY");
    if (store == nullptr) return;
    std::ifstream in(store, std::ios::binary);
    if (!in) return;
    std::ostringstream text;
    text << in.rdbuf();
    std::ofstream(folder_ + "/" + std::to_string(count_++) + ".reg", std::ios::binary) << text.str();
  }

  Registry* inner_;
  std::string folder_;
  int count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: env_writer FOLDER [SNAPSHOT_DIR]\n", stderr);
    return 2;
  }
  IntegrationPorts ports = platform_integration_ports();
  static SnapshotRegistry* snapshots = nullptr;
  if (argc == 3) {
    snapshots = new SnapshotRegistry(ports.registry, argv[2]);
    ports.registry = snapshots;
  }
  integration_ports() = ports;
  std::puts("ready");
  std::fflush(stdout);
  auto start = std::chrono::steady_clock::now();
  int result = configure_environment(argv[1]);
  auto spent = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
  std::printf("result %d %lld\n", result, static_cast<long long>(spent.count()));
  return 0;
}
