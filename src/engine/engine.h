// The package installation engine: the tree walk, the per-file actions and
// the loader thread's body.
#pragma once

#include <cstdint>

#include "engine/entry_names.h"

// Thread entry of the loader: installs InstallState's source folder into its
// destination folder, then sends the completion command. Returns 0.
uint32_t PackageLoader(void* parameter);


void install_tree(const char* source_dir, const char* destination_dir, int32_t copy_mode,
                  int32_t report);
void ensure_directory(const char* path);
void install_file(const char* source_path, const char* destination_path, int32_t copy_mode,
                  int32_t report);
void copy_file_plain(const char* source_path, const char* destination_path);
void compress_file(const char* source_path, const char* destination_path);
void expand_file(const char* source_path, const char* destination_path);
