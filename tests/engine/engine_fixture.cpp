#include "engine_fixture.h"

#include <cstdlib>
#include <random>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

void EngineTest::SetUp() {
  // Unique per test and per process, on Windows as natively.
  static int counter = 0;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  root_ = fs::temp_directory_path() /
          ("engine-" + std::to_string(std::random_device{}()) + "-" + std::to_string(++counter) + "-" + info->name());
  fs::remove_all(root_);
  ASSERT_TRUE(fs::create_directories(root_));
  saved_ = engine_ports();
  EnginePorts ports = platform_engine_ports();
  ports.fatal = &fatal_;
  ports.wizard = &wizard_;
  lister_.real = ports.lister;
  ports.lister = &lister_;
  engine_ports() = ports;
}

void EngineTest::TearDown() {
  lister_.close_left_over();
  engine_ports() = saved_;
  std::error_code ignored;
  // Read-only folders left by a test must not stop the clean-up.
  for (auto& entry : fs::recursive_directory_iterator(root_, ignored))
    fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(root_, ignored);
}

std::string EngineTest::at(const std::string& relative) const {
  std::string path = root_.string() + "\\" + relative;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

void EngineTest::write(const std::string& relative, const std::string& bytes) const {
  fs::create_directories(native(relative).parent_path());
  std::ofstream(native(relative), std::ios::binary) << bytes;
}

std::string EngineTest::read(const std::string& relative) const {
  std::ifstream in(native(relative), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void EngineTest::make_dir(const std::string& relative) const { fs::create_directories(native(relative)); }

std::string pattern_bytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    state = state * 1103515245u + 12345u;
    b = static_cast<char>(state >> 16);
  }
  return bytes;
}
