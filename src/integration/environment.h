// The environment settings file "env" and the registry writer.
#pragma once

#include <cstdint>

#include "integration/integration_ports.h"

constexpr int32_t kMaxVariables = 32;
constexpr int32_t kEnvLineBufferSize = 256;
constexpr int32_t kEnvTextSize = 512;

extern const char kMachineEnvironmentKey[];  // under HKEY_LOCAL_MACHINE
extern const char kUserEnvironmentKey[];     // under HKEY_CURRENT_USER

struct EnvTable {
  int32_t count = 0;
  char name[kMaxVariables][kEnvTextSize] = {};
  uint32_t type[kMaxVariables] = {};
  char value[kMaxVariables][kEnvTextSize] = {};
};

// Reads "env" and writes its variables for all users where it may, else for
// the current user: 1 machine key written, 2 user key, 0 failure.
int configure_environment(const char* installation_folder);

// Parses an open "env" file into `table` (its count: the blocks closed by
// "::"). Prints the format message and returns false on a format error.
bool read_env_table(std::FILE* file, const char* installation_folder, EnvTable* table);
// The same without printing: nullptr when well formed, else the format
// message, with *error_line the line of the file (from 1) that gave it.
const char* parse_env_table(std::FILE* file, const char* installation_folder, EnvTable* table,
                            int32_t* error_line);

// The blocks of "env" one line at a time, for lines that come from
// elsewhere than the file (the uninstaller keeps them in its list): the
// state between lines; table->count starts at 0.
struct EnvLineReader {
  int32_t line_in_block = 0;
  char spare_name[kEnvTextSize] = {};  // lines after the 32nd block go here
  char spare_value[kEnvTextSize] = {};
  uint32_t spare_type = 0;
};
// One line (`length` its full length; `line` holds at most 255 of it and a
// zero byte): nullptr, or the format message of parse_env_table.
const char* read_env_line(EnvLineReader& reader, const char* line, int32_t length,
                          const char* installation_folder, EnvTable* table);

// Builds a variable's value from its value line: each item prefixed with the
// folder, joined by ';'. False when it would not fit `size` bytes.
bool build_value(const char* value_line, const char* installation_folder, char* out, int32_t size);

// Writes the first `count` variables into the key: 1 all written, 0 otherwise.
int write_environment_key(int32_t count, RegistryRoot root, const char* key_path,
                          const EnvTable& table);

// The answer of list_item_end when no item starts at the index; an empty
// item ends at one less than its start, so every item end is at least -1.
constexpr int32_t kNoListItem = -2;

// Index of the last character of the ';'-separated item that starts at
// `start`, or kNoListItem when `start` is at or past the end of `list`.
int32_t list_item_end(const char* list, int32_t start);

// The new items first, then the existing items that differ from all of them
// (ASCII letters compared without case). `merged` holds at least
// strlen(existing) + strlen(fresh) + 2 bytes.
void merge_value_list(const char* existing, const char* fresh, char* merged);

// The merge undone: the items of `existing` that equal none of `removed`'s
// (ASCII letters compared without case), in their order, joined by ';',
// into `remaining` (at least strlen(existing) + 1 bytes). Returns how many
// items were left out.
int32_t remove_value_items(const char* existing, const char* removed, char* remaining);
