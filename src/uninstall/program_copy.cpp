#include "uninstall/program_copy.h"

#include "uninstall/manifest.h"

namespace {

const char kPrefix[] = "gcc-uninstall-";
constexpr std::size_t kDigits = 16;

std::string folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

std::string copy_folder_name(uint64_t random) {
  std::string name = kPrefix;
  for (int shift = 60; shift >= 0; shift -= 4) name += "0123456789abcdef"[(random >> shift) & 0xF];
  return name;
}

bool is_copy_program(const std::string& program, const std::string& temporary) {
  std::string folder = folded(temporary);
  if (folder.empty()) return false;
  if (folder.back() != '\\') folder += '\\';
  std::string path = folded(program);
  std::string tail = std::string(kPrefix) + std::string(kDigits, '0') + "\\" + kUninstallerName;
  if (path.size() != folder.size() + tail.size() || path.compare(0, folder.size(), folder) != 0) return false;
  std::string rest = path.substr(folder.size());
  std::size_t digits = sizeof kPrefix - 1;
  if (rest.compare(0, digits, kPrefix) != 0 || rest.substr(digits + kDigits) != tail.substr(digits + kDigits)) return false;
  for (std::size_t i = digits; i < digits + kDigits; ++i)
    if (!((rest[i] >= '0' && rest[i] <= '9') || (rest[i] >= 'a' && rest[i] <= 'f'))) return false;
  return true;
}
