// The settings-file fuzzers' working folder: a scratch folder of their own
// from which "env" and "inf" are opened, through the real platform ports.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/integration_platform.h"

// libFuzzer reads its corpus by relative paths, so the working folder must
// stay as it is: the files are looked up in the scratch folder instead.
class FolderFiles : public SettingsFileOpener {
 public:
  SettingsFileOpener* real = nullptr;
  std::string folder;
  std::FILE* open_text(const char* name) override { return real->open_text((folder + "/" + name).c_str()); }
};

// Makes /tmp/fuzz-NAME-PID, sets the platform's integration ports with the
// settings files taken from it, and returns its path.
inline std::string settings_folder(const char* name) {
  std::string folder = std::string("/tmp/fuzz-") + name + "-" + std::to_string(getpid());
  std::system(("mkdir -p " + folder).c_str());
  static FolderFiles files;
  integration_ports() = platform_integration_ports();
  files.real = integration_ports().files;
  files.folder = folder;
  integration_ports().files = &files;
  return folder;
}

inline void write_file(const std::string& path, const void* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
}
