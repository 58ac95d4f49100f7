// Native stand-in of the registry's environment keys: each root is one
// REGEDIT4 file, the text format the Windows registry editor imports. A key
// is a section "[ROOT\path]"; REG_SZ values are quoted strings, other types
// "hex(N):" bytes. Every write replaces the file through a temporary file
// and a rename, so an interrupted run leaves the previous file whole. Lines
// of other keys, and values not written, come out exactly as they came in.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "integration/integration_ports.h"

namespace {

constexpr int32_t kAccessDenied = 5;  // ERROR_ACCESS_DENIED
constexpr int32_t kInvalidData = 13;  // ERROR_INVALID_DATA
constexpr int32_t kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

const char kHeader[] = "REGEDIT4";

// One line of a section as read (continuations joined), or a value set since.
struct Entry {
  std::vector<std::string> lines;  // the original physical lines, if any
  bool is_value = false;
  // Names a value but cannot be read as one: a read of that name fails
  // rather than find nothing, as a second line of the name would be added.
  bool unreadable = false;
  bool changed = false;
  std::string name;
  uint32_t type = 0;
  std::string data;  // the value's bytes, terminator included
};

struct KeyFile {
  std::string path;     // the .reg file of the root
  std::string section;  // "ROOT\path" of the key
  std::vector<std::string> before, after;  // lines outside the key's section
  std::vector<Entry> entries;              // the key's section, header excluded
  std::string section_line;
  std::string line_end = "\n";  // what the file uses; CR LF when it came so
  bool writable = false;
};

bool same_text(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::string root_file(RegistryRoot root) {
  const char* chosen = std::getenv(root == RegistryRoot::LocalMachine ? "SETUP_MACHINE_REGISTRY"
                                                                      : "SETUP_USER_REGISTRY");
  if (chosen != nullptr && *chosen != '\0') return chosen;
  if (root == RegistryRoot::LocalMachine) return "/etc/gcc-setup/environment.reg";
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && *config != '\0') return std::string(config) + "/gcc-setup/environment.reg";
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return "";
  return std::string(home) + "/.config/gcc-setup/environment.reg";
}

std::string parent_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// mkdir -p of the file's folder; false when a component cannot be a folder.
bool make_parents(const std::string& path) {
  std::string folder = parent_of(path);
  for (std::size_t i = 1; i <= folder.size(); ++i) {
    if (i < folder.size() && folder[i] != '/') continue;
    std::string part = folder.substr(0, i);
    struct stat st;
    if (stat(part.c_str(), &st) == 0) {
      if (!S_ISDIR(st.st_mode)) return false;
      continue;
    }
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool read_file(const std::string& path, std::string* text) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char block[4096];
  std::size_t n;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0) text->append(block, n);
  bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

// Physical lines without their LF (a CR before it stays, so that lines kept
// come out as they came); a final line without LF counts too.
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string without_cr(const std::string& line) {
  return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

// A quoted text with \\ and \" escapes, from `*at` (on its opening quote).
bool parse_quoted(const std::string& line, std::size_t* at, std::string* out) {
  if (*at >= line.size() || line[*at] != '"') return false;
  for (std::size_t i = *at + 1; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      out->push_back(line[++i]);
    } else if (line[i] == '"') {
      *at = i + 1;
      return true;
    } else {
      out->push_back(line[i]);
    }
  }
  return false;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The continuations are joined already, so a backslash left is not ours.
bool parse_hex_bytes(const std::string& text, std::string* out) {
  int high = -1;
  for (char c : text) {
    if (c == ',' || c == ' ' || c == '\t') {
      if (high >= 0) return false;
      continue;
    }
    int d = hex_digit(c);
    if (d < 0) return false;
    if (high < 0) {
      high = d;
      continue;
    }
    out->push_back(static_cast<char>(high * 16 + d));
    high = -1;
  }
  return high < 0;
}

bool all_hex(const std::string& text) {
  for (char c : text)
    if (hex_digit(c) < 0) return false;
  return !text.empty();
}

// What follows "=": a quoted string, dword: or hex bytes.
bool parse_data(const std::string& rest, uint32_t* type_out, std::string* data_out) {
  std::string data;
  uint32_t type;
  if (!rest.empty() && rest[0] == '"') {
    std::size_t q = 0;
    if (!parse_quoted(rest, &q, &data) || q != rest.size()) return false;
    data.push_back('\0');
    type = kRegSz;
  } else if (rest.compare(0, 6, "dword:") == 0 && rest.size() == 14 && all_hex(rest.substr(6))) {
    unsigned long word = std::strtoul(rest.c_str() + 6, nullptr, 16);
    for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>((word >> (8 * i)) & 0xFF));
    type = 4;
  } else if (rest.compare(0, 4, "hex:") == 0) {
    if (!parse_hex_bytes(rest.substr(4), &data)) return false;
    type = 3;
  } else if (rest.compare(0, 4, "hex(") == 0) {
    std::size_t close = rest.find("):");
    if (close == std::string::npos || close > 12 || !all_hex(rest.substr(4, close - 4))) return false;
    type = static_cast<uint32_t>(std::strtoul(rest.substr(4, close - 4).c_str(), nullptr, 16));
    if (!parse_hex_bytes(rest.substr(close + 2), &data)) return false;
  } else {
    return false;  // a deletion mark, or something this stand-in does not know
  }
  *type_out = type;
  *data_out = data;
  return true;
}

// A value line "name"=... or @=...; anything else is kept as text. A line
// that begins with a name (blanks before it allowed) but is not a value
// this store can read is marked unreadable under that name.
void parse_value(const std::string& line, Entry* entry) {
  std::size_t at = line.find_first_not_of(" \t");
  if (at == std::string::npos) return;
  std::size_t name_at = at;
  std::string name;
  if (line[at] == '@') {
    ++at;
  } else if (!parse_quoted(line, &at, &name)) {
    return;
  }
  entry->name = name;
  uint32_t type = 0;
  std::string data;
  if (name_at != 0 || at >= line.size() || line[at] != '=' || !parse_data(line.substr(at + 1), &type, &data)) {
    entry->unreadable = true;
    return;
  }
  entry->is_value = true;
  entry->type = type;
  entry->data = data;
}

bool is_section_line(const std::string& line) {
  return line.size() >= 2 && line[0] == '[' && line.back() == ']';
}

bool parse_key_file(const std::string& text, KeyFile* key) {
  std::vector<std::string> lines = split_lines(text);
  if (lines.empty()) return true;  // an empty file holds nothing yet
  if (without_cr(lines[0]) != kHeader) return false;
  if (lines[0] != kHeader) key->line_end = "\r\n";
  enum { Before, Inside, After } where = Before;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& raw = lines[i];
    std::string line = without_cr(raw);
    if (is_section_line(line)) {
      if (where == Inside) where = After;
      if (where == Before && same_text(line.substr(1, line.size() - 2), key->section)) {
        where = Inside;
        key->section_line = raw;
        continue;
      }
    }
    if (where == Before) {
      key->before.push_back(raw);
    } else if (where == After) {
      key->after.push_back(raw);
    } else {
      Entry entry;
      entry.lines.push_back(raw);
      // Hex data goes on over lines ending with a backslash.
      std::string logical = line;
      while (!logical.empty() && logical.back() == '\\' && i + 1 < lines.size() &&
             logical.find("=hex") != std::string::npos) {
        logical.pop_back();
        entry.lines.push_back(lines[++i]);
        logical += without_cr(lines[i]);
      }
      parse_value(logical, &entry);
      key->entries.push_back(entry);
    }
  }
  return true;
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// A value as the registry editor writes it: a quoted string when the text
// allows it, else hex bytes wrapped at 80 columns.
std::vector<std::string> value_lines(const Entry& entry) {
  std::string head = entry.name.empty() ? "@=" : quoted(entry.name) + "=";
  const std::string& data = entry.data;
  if (entry.type == kRegSz && !data.empty() && data.back() == '\0') {
    bool plain = true;
    for (std::size_t i = 0; i + 1 < data.size(); ++i)
      if (static_cast<unsigned char>(data[i]) < 0x20) plain = false;
    if (plain) return {head + quoted(data.substr(0, data.size() - 1))};
  }
  char prefix[16];
  std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(entry.type));
  std::vector<std::string> lines;
  std::string line = head + prefix;
  for (std::size_t i = 0; i < data.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(data[i]));
    bool last = i + 1 == data.size();
    line += byte;
    if (!last) line += ",";
    if (!last && line.size() >= 76) {
      lines.push_back(line + "\\");
      line = "  ";
    }
  }
  lines.push_back(line);
  return lines;
}

std::string render(const KeyFile& key) {
  const std::string& end = key.line_end;
  std::string text;
  for (const std::string& line : key.before) text += line + "\n";
  if (key.before.empty()) text += kHeader + end + end;
  if (key.section_line.empty()) {
    // A new key after what is there, parted from it by an empty line.
    if (!key.before.empty() && !without_cr(key.before.back()).empty()) text += end;
    text += "[" + key.section + "]" + end;
  } else {
    text += key.section_line + "\n";
  }
  for (const Entry& entry : key.entries) {
    if (entry.changed) {
      for (const std::string& line : value_lines(entry)) text += line + end;
    } else {
      for (const std::string& line : entry.lines) text += line + "\n";
    }
  }
  for (const std::string& line : key.after) text += line + "\n";
  return text;
}

// Replaces the file whole: a temporary file beside it, then a rename.
bool write_file(const std::string& path, const std::string& text) {
  std::string temporary = path + ".tmp." + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok && rename(temporary.c_str(), path.c_str()) == 0) return true;
  unlink(temporary.c_str());
  return false;
}

std::string section_of(RegistryRoot root, const char* path) {
  return std::string(root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") +
         path;
}

// Loads the key's file; false when it exists but cannot be read as ours.
bool load(KeyFile* key, bool* exists) {
  std::string text;
  struct stat st;
  *exists = stat(key->path.c_str(), &st) == 0;
  if (!*exists) return true;
  if (!S_ISREG(st.st_mode) || !read_file(key->path, &text)) return false;
  return parse_key_file(text, key);
}

// Full access means the file can be replaced: its folder takes new files.
// A file without any write bit is read-only, for root too, as the
// read-only attribute holds on Windows for administrators.
bool replaceable(const std::string& path) {
  std::string folder = parent_of(path);
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0) return false;
  return access(folder.c_str(), W_OK | X_OK) == 0 && (access(path.c_str(), F_OK) != 0 ||
                                                       access(path.c_str(), W_OK) == 0);
}

// The line of `name` that a read or a write finds: the last, as an import
// lets the later line win. *unreadable when a line of that name cannot be
// read, whatever else there is.
Entry* find_value(KeyFile* key, const char* name, bool* unreadable) {
  Entry* found = nullptr;
  *unreadable = false;
  for (Entry& entry : key->entries) {
    if ((!entry.is_value && !entry.unreadable) || !same_text(entry.name, name)) continue;
    if (entry.unreadable)
      *unreadable = true;
    else
      found = &entry;
  }
  return found;
}

// A REGEDIT4 name is one quoted line: a line end or another control
// character in it could not come back as it went.
bool writable_name(const char* name) {
  for (const char* c = name; *c != '\0'; ++c)
    if (static_cast<unsigned char>(*c) < 0x20) return false;
  return true;
}

class PosixRegistry : public Registry {
 public:
  int32_t create_key(RegistryRoot root, const char* path, RegistryKey* handle) override {
    KeyFile* key = new KeyFile;
    key->path = root_file(root);
    key->section = section_of(root, path);
    bool exists = false;
    bool ok = !key->path.empty() && make_parents(key->path) && load(key, &exists) &&
              replaceable(key->path);
    // A key made now is on disk at once, as the registry's would be.
    if (ok && key->section_line.empty()) ok = write_file(key->path, render(*key));
    if (!ok) {
      delete key;
      return kAccessDenied;
    }
    key->writable = true;
    *handle = key;
    return kRegistryOk;
  }
  int32_t open_key(RegistryRoot root, const char* path, RegistryKey* handle) override {
    int32_t result = open_key_for_reading(root, path, handle);
    if (result != kRegistryOk) return result;
    KeyFile* key = static_cast<KeyFile*>(*handle);
    if (!replaceable(key->path)) {
      delete key;
      *handle = nullptr;
      return kAccessDenied;
    }
    key->writable = true;
    return kRegistryOk;
  }
  int32_t open_key_for_reading(RegistryRoot root, const char* path, RegistryKey* handle) override {
    KeyFile* key = new KeyFile;
    key->path = root_file(root);
    key->section = section_of(root, path);
    bool exists = false;
    if (key->path.empty() || !load(key, &exists) || !exists || key->section_line.empty()) {
      delete key;
      return kRegistryNotFound;
    }
    *handle = key;
    return kRegistryOk;
  }
  int32_t query_value(RegistryKey handle, const char* name, uint32_t* type, char* data,
                      uint32_t* size) override {
    KeyFile* key = static_cast<KeyFile*>(handle);
    bool unreadable = false;
    Entry* entry = find_value(key, name, &unreadable);
    if (unreadable) return kInvalidData;
    if (entry == nullptr) return kRegistryNotFound;
    uint32_t needed = static_cast<uint32_t>(entry->data.size());
    if (type != nullptr) *type = entry->type;
    if (data == nullptr || *size < needed) {
      *size = needed;
      return data == nullptr ? kRegistryOk : kRegistryMoreData;
    }
    std::memcpy(data, entry->data.data(), needed);
    *size = needed;
    return kRegistryOk;
  }
  int32_t set_value(RegistryKey handle, const char* name, uint32_t type, const char* data,
                    uint32_t size) override {
    KeyFile* key = static_cast<KeyFile*>(handle);
    if (!key->writable) return kAccessDenied;
    if (data == nullptr && size != 0) return kInvalidData;
    if (!writable_name(name)) return kInvalidParameter;
    bool unreadable = false;
    Entry* entry = find_value(key, name, &unreadable);
    // What is there cannot be told; the line is not replaced blind.
    if (unreadable) return kInvalidData;
    std::vector<Entry> saved = key->entries;
    if (entry == nullptr) {
      key->entries.emplace_back();
      entry = &key->entries.back();
      entry->is_value = true;
      entry->name = name;
      // New values go before the blank line that ends the section.
      std::size_t at = key->entries.size() - 1;
      while (at > 0 && !key->entries[at - 1].is_value && key->entries[at - 1].lines.size() == 1 &&
             without_cr(key->entries[at - 1].lines[0]).empty()) {
        std::swap(key->entries[at - 1], key->entries[at]);
        --at;
      }
      entry = &key->entries[at];
    }
    entry->type = type;
    entry->data.assign(data, size);
    entry->changed = true;
    if (!write_file(key->path, render(*key))) {
      key->entries = saved;
      return kAccessDenied;
    }
    return kRegistryOk;
  }
  // Every other line comes out as it came in.
  int32_t delete_value(RegistryKey handle, const char* name) override {
    KeyFile* key = static_cast<KeyFile*>(handle);
    if (!key->writable) return kAccessDenied;
    bool unreadable = false;
    Entry* entry = find_value(key, name, &unreadable);
    if (unreadable) return kInvalidData;
    if (entry == nullptr) return kRegistryNotFound;
    // Every line of the name goes: an earlier one would otherwise count again.
    std::vector<Entry> saved = key->entries;
    std::vector<Entry> kept;
    for (Entry& e : key->entries)
      if (!e.is_value || !same_text(e.name, name)) kept.push_back(e);
    key->entries = kept;
    if (!write_file(key->path, render(*key))) {
      key->entries = saved;
      return kAccessDenied;
    }
    return kRegistryOk;
  }
  void close_key(RegistryKey handle) override { delete static_cast<KeyFile*>(handle); }
};

}  // namespace

Registry* posix_registry() {
  static PosixRegistry registry;
  return &registry;
}
