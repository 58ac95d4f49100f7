// The uninstaller's list reader on any bytes: as they come (the end line
// must catch the damage), and with a matching end line added, so that the
// records themselves are read. What it takes must name only paths inside
// the folder, and must write out and read back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "uninstall/manifest.h"

namespace {

bool same(const Manifest& a, const Manifest& b) {
  if (a.groups != b.groups || a.env_lines != b.env_lines || a.folders != b.folders ||
      a.installed_in != b.installed_in || a.name != b.name || a.files.size() != b.files.size())
    return false;
  for (std::size_t i = 0; i < a.files.size(); ++i)
    if (a.files[i].path != b.files[i].path || a.files[i].size != b.files[i].size || a.files[i].crc != b.files[i].crc)
      return false;
  return true;
}

void check(const std::string& bytes) {
  Manifest m;
  int line = 0;
  if (parse_manifest(bytes.data(), bytes.size(), &m, &line) != nullptr) return;
  for (const std::string& folder : m.folders)
    if (!manifest_path_is_sound(folder)) std::abort();
  for (const ManifestFile& file : m.files)
    if (!manifest_path_is_sound(file.path)) std::abort();
  std::string text = format_manifest(m);
  Manifest again;
  if (parse_manifest(text.data(), text.size(), &again, &line) != nullptr || !same(m, again)) std::abort();
  if (format_manifest(again) != text) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  check(bytes);
  // The same lines under an end line that matches them.
  std::size_t lines = 0;
  for (char c : bytes) lines += c == '\n';
  char end[64];
  std::snprintf(end, sizeof end, "end %zu %08x\n", lines, crc32_update(0, bytes.data(), bytes.size()));
  check(bytes + end);
  return 0;
}
