// Whole-file reads and writes for the tests that lay out packages and check
// what a run left behind.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Makes the parent folders as needed.
inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}
