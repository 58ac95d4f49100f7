// The folder proposed on the folder page: an existing installation found on
// the search path, else the user's home folder, else a constant.
#pragma once

#include <cstdint>

#include "integration/integration_ports.h"

// Fills `destination` (kPathBufferSize bytes); never leaves it empty.
void choose_default_folder(char* destination);

// The installation folder found on the machine's, then the user's, PATH;
// an empty text when none.
void find_existing_installation(char* folder);

// The installation folder found through the PATH value of one key (in lower
// case, the shortest folder holding gcc.exe, less its last four
// characters); an empty text when none.
void find_gcc_on_path(RegistryRoot root, const char* key_path, char* folder);

// 1 when the file can be opened for reading, else 0.
int file_exists(const char* path);

// HOMEDRIVE followed by HOMEPATH in `out`; its length, or 0 when there is
// no home folder (unset, empty, or not fitting `capacity` bytes).
int32_t get_home_folder(char* out, int32_t capacity);
