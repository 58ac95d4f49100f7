#include "integration/environment.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "integration/settings_reader.h"

const char kMachineEnvironmentKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char kUserEnvironmentKey[] = "Environment";

namespace {

const char kBadType[] = "key value not defined.";
const char kBadFormat[] = "environment not propoerly defined.";

// The format messages go to the console; flushed, since the process may end
// without running the library's exit handlers.
void say(const char* line) {
  std::puts(line);
  std::fflush(stdout);
}

int32_t item_end(const char* list, int32_t length, int32_t start) {
  if (start >= length) return kNoListItem;
  const void* separator = std::memchr(list + start, ';', static_cast<std::size_t>(length - start));
  if (separator == nullptr) return length - 1;
  return static_cast<int32_t>(static_cast<const char*>(separator) - list) - 1;
}

char fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_item(const char* a, int32_t a_length, const char* b, int32_t b_length) {
  if (a_length != b_length) return false;
  for (int32_t i = 0; i < a_length; ++i)
    if (fold(a[i]) != fold(b[i])) return false;
  return true;
}

bool contains_item(const char* list, int32_t length, const char* item, int32_t item_length) {
  for (int32_t start = 0, end; (end = item_end(list, length, start)) != kNoListItem; start = end + 2)
    if (same_item(list + start, end - start + 1, item, item_length)) return true;
  return false;
}

const char* root_words(RegistryRoot root) { return root == RegistryRoot::LocalMachine ? "all users" : "this user"; }

// Only a string value holding no zero before its end is a list to merge;
// anything else is another program's data, left as it was.
bool is_text_list(uint32_t type, const std::string& text) {
  return (type == kRegSz || type == kRegExpandSz) && text.find('\0') == std::string::npos;
}

int32_t write_variable(Registry* registry, RegistryKey key, RegistryRoot root, const char* name,
                       uint32_t type, const char* value) {
  std::string text_name, fresh;
  if (!registry->text_from_ansi(name, &text_name) || !registry->text_from_ansi(value, &fresh))
    return kRegistryNotText;
  uint32_t existing_type = 0;
  std::string existing;
  int32_t answer = registry->query_text(key, text_name.c_str(), &existing_type, &existing);
  if (answer == kRegistryNotFound) return registry->set_text(key, text_name.c_str(), type, fresh);
  if (answer == kRegistryOk && !is_text_list(existing_type, existing)) answer = kRegistryNotText;
  if (answer == kRegistryNotText)
    say((std::string(name) + " for " + root_words(root) + " is left as it was: it is not plain text.").c_str());
  if (answer != kRegistryOk) return answer;
  // The existing type stays: a value the user made expandable remains so.
  std::string merged(existing.size() + fresh.size() + 2, '\0');
  merge_value_list(existing.c_str(), fresh.c_str(), merged.data());
  merged.resize(std::strlen(merged.c_str()));
  return registry->set_text(key, text_name.c_str(), existing_type, merged);
}

}  // namespace

int32_t list_item_end(const char* list, int32_t start) {
  return item_end(list, static_cast<int32_t>(std::strlen(list)), start);
}

void merge_value_list(const char* existing, const char* fresh, char* merged) {
  int32_t fresh_length = static_cast<int32_t>(std::strlen(fresh));
  int32_t existing_length = static_cast<int32_t>(std::strlen(existing));
  std::memcpy(merged, fresh, static_cast<std::size_t>(fresh_length));
  int32_t position = fresh_length;
  for (int32_t start = 0, end; (end = item_end(existing, existing_length, start)) != kNoListItem;
       start = end + 2) {
    int32_t length = end - start + 1;
    if (contains_item(fresh, fresh_length, existing + start, length)) continue;
    merged[position++] = ';';
    std::memcpy(merged + position, existing + start, static_cast<std::size_t>(length));
    position += length;
  }
  merged[position] = '\0';
}

int32_t remove_value_items(const char* existing, const char* removed, char* remaining) {
  int32_t existing_length = static_cast<int32_t>(std::strlen(existing));
  int32_t removed_length = static_cast<int32_t>(std::strlen(removed));
  int32_t position = 0, dropped = 0;
  bool first = true;
  for (int32_t start = 0, end; (end = item_end(existing, existing_length, start)) != kNoListItem;
       start = end + 2) {
    int32_t length = end - start + 1;
    if (contains_item(removed, removed_length, existing + start, length)) {
      ++dropped;
      continue;
    }
    if (!first) remaining[position++] = ';';
    first = false;
    std::memcpy(remaining + position, existing + start, static_cast<std::size_t>(length));
    position += length;
  }
  remaining[position] = '\0';
  return dropped;
}

bool build_value(const char* value_line, const char* installation_folder, char* out, int32_t size) {
  int32_t line_length = static_cast<int32_t>(std::strlen(value_line));
  int32_t folder_length = static_cast<int32_t>(std::strlen(installation_folder));
  int32_t position = 0;
  for (int32_t start = 0, end; (end = item_end(value_line, line_length, start)) != kNoListItem;
       start = end + 2) {
    int32_t length = end - start + 1;
    // The ';' after each item may take the last byte: the final one becomes
    // the terminator.
    if (position + folder_length + length + 1 > size) return false;
    std::memcpy(out + position, installation_folder, static_cast<std::size_t>(folder_length));
    position += folder_length;
    std::memcpy(out + position, value_line + start, static_cast<std::size_t>(length));
    position += length;
    out[position++] = ';';
  }
  if (position > 0) --position;
  out[position] = '\0';
  return true;
}

const char* read_env_line(EnvLineReader& reader, const char* line, int32_t length,
                          const char* installation_folder, EnvTable* table) {
  // The reader stores the start of an overlong line, enough to know a
  // comment, which is skipped whatever its length; the limit is for the
  // lines that are kept.
  if (line[0] == '#') return nullptr;
  if (length > kEnvLineBufferSize - 1) return kBadFormat;
  if (std::strcmp(line, "::") == 0) {
    // A block closed before its three lines, or a 33rd block.
    if (reader.line_in_block != 3 || table->count == kMaxVariables) return kBadFormat;
    ++table->count;
    reader.line_in_block = 0;
    return nullptr;
  }
  // Lines after the 32nd block are checked in the spare entry; a "::"
  // closing them is an error.
  bool spare = table->count == kMaxVariables;
  char* name = spare ? reader.spare_name : table->name[table->count];
  char* value = spare ? reader.spare_value : table->value[table->count];
  uint32_t* type = spare ? &reader.spare_type : &table->type[table->count];
  switch (reader.line_in_block) {
    case 0:
      std::memcpy(name, line, static_cast<std::size_t>(length) + 1);
      break;
    case 1:
      if (std::strcmp(line, "REG_EXPAND_SZ") == 0) {
        *type = kRegExpandSz;
      } else if (std::strcmp(line, "REG_SZ") == 0) {
        *type = kRegSz;
      } else {
        return kBadType;
      }
      break;
    case 2:
      if (!build_value(line, installation_folder, value, kEnvTextSize)) return kBadFormat;
      break;
    default:
      return kBadFormat;
  }
  ++reader.line_in_block;
  return nullptr;
}

const char* parse_env_table(std::FILE* file, const char* installation_folder, EnvTable* table,
                            int32_t* error_line) {
  SettingsLineReader reader;
  EnvLineReader blocks;
  char line[kEnvLineBufferSize];
  int32_t line_number = 0;
  if (error_line != nullptr) *error_line = 0;
  table->count = 0;
  for (int32_t length; (length = read_line(reader, file, line, kEnvLineBufferSize)) != -1;) {
    ++line_number;
    if (error_line != nullptr) *error_line = line_number;
    const char* message = read_env_line(blocks, line, length, installation_folder, table);
    if (message != nullptr) return message;
  }
  if (error_line != nullptr) *error_line = 0;
  return nullptr;
}

bool read_env_table(std::FILE* file, const char* installation_folder, EnvTable* table) {
  const char* message = parse_env_table(file, installation_folder, table, nullptr);
  if (message != nullptr) say(message);
  return message == nullptr;
}

int write_environment_key(int32_t count, RegistryRoot root, const char* key_path,
                          const EnvTable& table) {
  Registry* registry = integration_ports().registry;
  RegistryKey key = nullptr;
  if (registry->create_key(root, key_path, &key) != kRegistryOk) return 0;
  for (int32_t i = 0; i < count; ++i) {
    if (write_variable(registry, key, root, table.name[i], table.type[i], table.value[i]) != kRegistryOk) {
      registry->close_key(key);
      return 0;
    }
  }
  registry->close_key(key);
  return 1;
}

int configure_environment(const char* installation_folder) {
  std::FILE* file = integration_ports().files->open_text("env");
  if (file == nullptr) return 0;
  EnvTable table;
  bool well_formed = read_env_table(file, installation_folder, &table);
  std::fclose(file);
  if (!well_formed || table.count == 0) return 0;
  if (write_environment_key(table.count, RegistryRoot::LocalMachine, kMachineEnvironmentKey, table) == 1)
    return 1;
  if (write_environment_key(table.count, RegistryRoot::CurrentUser, kUserEnvironmentKey, table) == 1)
    return 2;
  return 0;
}
