#include "uninstall/manifest.h"

#include <cstdio>
#include <cstring>

#include "engine/engine.h"
#include "engine/engine_ports.h"
#include "integration/environment.h"
#include "integration/progman.h"

namespace {

const char kHeader[] = "uninstall list 1";
constexpr std::size_t kMaxPath = 259;
constexpr uint32_t kReadBlock = 64 * 1024;

bool needs_escape(unsigned char c) { return c < 0x20 || c == 0x7F || c == '%'; }

void put_escaped(std::string* out, const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    if (needs_escape(c)) {
      out->push_back('%');
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    } else {
      out->push_back(static_cast<char>(c));
    }
  }
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A field back to its bytes; false for a broken escape, a raw byte that
// would have been escaped, or a zero byte (no name or line holds one).
bool unescape(const char* text, std::size_t length, std::string* out) {
  out->clear();
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c != '%') {
      if (needs_escape(c)) return false;
      out->push_back(static_cast<char>(c));
      continue;
    }
    if (i + 2 >= length) return false;
    int high = hex_value(text[i + 1]), low = hex_value(text[i + 2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return false;
    out->push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

std::string hex8(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// Exactly 8 lower-case hex digits, as written.
bool parse_hex8(const char* text, std::size_t length, uint32_t* value) {
  if (length != 8) return false;
  uint32_t v = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    v = v * 16 + static_cast<uint32_t>(hex_value(c));
  }
  *value = v;
  return true;
}

// Decimal digits without a leading zero (but "0"), no overflow.
bool parse_decimal(const char* text, std::size_t length, uint64_t* value) {
  if (length == 0 || length > 20 || (length > 1 && text[0] == '0')) return false;
  uint64_t v = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

// The lines of a settings file as the installer's text-mode reader sees
// them: CR LF is LF; a last line without LF counts.
std::vector<std::string> settings_lines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line.push_back(c);
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

bool add_tree_file(const std::string& root, const std::string& path, Manifest* manifest, std::string* why) {
  FileCopier* copier = engine_ports().copier;
  std::string full = root + "\\" + path;
  FileHandle file = copier->open_source(full.c_str());
  if (file == nullptr) {
    *why = full + ": cannot be read";
    return false;
  }
  ManifestFile entry;
  entry.path = path;
  std::vector<char> block(kReadBlock);
  bool ok = true;
  for (uint32_t count = 0;;) {
    if (!(ok = copier->read(file, block.data(), kReadBlock, &count)) || count == 0) break;
    entry.size += count;
    entry.crc = crc32_update(entry.crc, block.data(), count);
  }
  copier->close(file);
  if (!ok) {
    *why = full + ": cannot be read";
    return false;
  }
  manifest->files.push_back(entry);
  return true;
}

// The installer's walk: each folder recorded as it is made, then entered.
bool walk(const std::string& root, const std::string& relative, Manifest* manifest, std::string* why) {
  EnginePorts& ports = engine_ports();
  std::string folder = relative.empty() ? root : root + "\\" + relative;
  std::string pattern = folder + "\\*";
  FindRecord record;
  SearchHandle search = ports.lister->find_first(pattern.c_str(), &record);
  if (search == nullptr) {
    *why = folder + ": cannot be listed";
    return false;
  }
  bool ok = true;
  do {
    if (std::strcmp(record.name, ".") == 0 || std::strcmp(record.name, "..") == 0) continue;
    std::string path = relative.empty() ? record.name : relative + "\\" + record.name;
    if (!names_one_entry(record.name) || path.size() > kMaxPath) {
      *why = folder + "\\" + record.name + ": a name the installer would refuse";
      ok = false;
    } else if (record.attributes & kAttributeDirectory) {
      manifest->folders.push_back(path);
      ok = walk(root, path, manifest, why);
    } else {
      ok = add_tree_file(root, path, manifest, why);
    }
  } while (ok && ports.lister->find_next(search, &record));
  ports.lister->find_close(search);
  return ok;
}

// Windows takes a name without regard to case or to dots and blanks at its end.
std::string windows_form(const std::string& name) {
  std::string form = name;
  while (!form.empty() && (form.back() == '.' || form.back() == ' ')) form.pop_back();
  for (char& c : form)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return form;
}

bool at_root(const Manifest& manifest, const char* name) {
  for (const ManifestFile& file : manifest.files)
    if (windows_form(file.path) == name) return true;
  for (const std::string& folder : manifest.folders)
    if (windows_form(folder) == name) return true;
  return false;
}

}  // namespace

bool manifest_path_is_sound(const std::string& path) {
  if (path.empty() || path.size() > kMaxPath) return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = path.find('\\', start);
    std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (name == "." || name == ".." || !names_one_entry(name.c_str())) return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

std::string format_manifest(const Manifest& manifest) {
  std::string text = std::string(kHeader) + "\n";
  int lines = 1;
  auto record = [&](const char* keyword, const std::string& value) {
    text += keyword;
    text += ' ';
    put_escaped(&text, value);
    text += '\n';
    ++lines;
  };
  for (const std::string& group : manifest.groups) record("group", group);
  for (const std::string& line : manifest.env_lines) record("env", line);
  for (const std::string& folder : manifest.folders) record("folder", folder);
  for (const ManifestFile& file : manifest.files)
    record("file", std::to_string(file.size) + " " + hex8(file.crc) + " " + file.path);
  if (!manifest.installed_in.empty()) record("installed-in", manifest.installed_in);
  if (!manifest.name.empty()) record("name", manifest.name);
  uint32_t crc = crc32_update(0, text.data(), text.size());
  text += "end " + std::to_string(lines) + " " + hex8(crc) + "\n";
  return text;
}

const char* parse_manifest(const char* bytes, std::size_t size, Manifest* manifest, int* line) {
  *manifest = Manifest();
  *line = 0;
  if (size > kMaxManifestSize) return "it is larger than any list the package maker writes";
  std::size_t at = 0;
  int number = 0;
  bool ended = false;
  while (at < size) {
    const char* start = bytes + at;
    const void* lf = std::memchr(start, '\n', size - at);
    if (lf == nullptr) {
      *line = number + 1;
      return "its last line has no line end: the list was cut short";
    }
    std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
    *line = ++number;
    std::size_t next = at + length + 1;
    if (ended) return "there is more after its last line";
    if (number == 1) {
      if (length != sizeof kHeader - 1 || std::memcmp(start, kHeader, length) != 0)
        return "its first line is not that of an uninstall list";
      at = next;
      continue;
    }
    const char* space = static_cast<const char*>(std::memchr(start, ' ', length));
    if (space == nullptr) return "a line without a record";
    std::string keyword(start, static_cast<std::size_t>(space - start));
    const char* value = space + 1;
    std::size_t value_length = length - keyword.size() - 1;
    std::string text;
    if (keyword == "end") {
      const char* gap = static_cast<const char*>(std::memchr(value, ' ', value_length));
      uint64_t count = 0;
      uint32_t crc = 0;
      if (gap == nullptr || !parse_decimal(value, static_cast<std::size_t>(gap - value), &count) ||
          !parse_hex8(gap + 1, value_length - static_cast<std::size_t>(gap - value) - 1, &crc))
        return "its last line is out of form";
      if (count != static_cast<uint64_t>(number - 1)) return "it does not hold the number of lines its end records";
      if (crc32_update(0, bytes, at) != crc) return "its bytes are not those its end records";
      ended = true;
    } else if (!unescape(value, value_length, &text)) {
      return "a byte that the list would have written otherwise";
    } else if (keyword == "group") {
      manifest->groups.push_back(text);
    } else if (keyword == "env") {
      manifest->env_lines.push_back(text);
    } else if (keyword == "folder") {
      if (!manifest_path_is_sound(text)) return "a folder outside the installed folder, or a name the installer refuses";
      manifest->folders.push_back(text);
    } else if (keyword == "file") {
      // SIZE CRC PATH: the path last, as it may hold spaces.
      std::size_t first = text.find(' ');
      std::size_t second = first == std::string::npos ? std::string::npos : text.find(' ', first + 1);
      ManifestFile file;
      if (second == std::string::npos || !parse_decimal(text.data(), first, &file.size) ||
          !parse_hex8(text.data() + first + 1, second - first - 1, &file.crc))
        return "a file whose size or CRC is out of form";
      file.path = text.substr(second + 1);
      if (!manifest_path_is_sound(file.path)) return "a file outside the installed folder, or a name the installer refuses";
      manifest->files.push_back(file);
    } else if (keyword == "installed-in" || keyword == "name") {
      std::string& field = keyword == "name" ? manifest->name : manifest->installed_in;
      if (!field.empty() || text.empty()) return "a second or empty installed-in or name";
      field = text;
    } else {
      return "a record of an unknown kind";
    }
    at = next;
  }
  if (!ended) {
    *line = number;
    return number == 0 ? "it is empty" : "it has no end line: the list was cut short";
  }
  *line = 0;
  return nullptr;
}

bool manifest_from_tree(const char* plain_root, Manifest* manifest, std::string* why) {
  return walk(plain_root, "", manifest, why);
}

bool manifest_settings(const std::string& env_bytes, const std::string& inf_bytes, Manifest* manifest,
                       std::string* why) {
  if (env_bytes.find('\0') != std::string::npos) {
    *why = "env holds a zero byte";
    return false;
  }
  std::vector<std::string> env = settings_lines(env_bytes);
  // The lines must read as the installer reads them, or it wrote nothing.
  EnvLineReader reader;
  EnvTable* table = new EnvTable;
  for (std::size_t i = 0; i < env.size(); ++i) {
    char line[kEnvLineBufferSize] = {};
    std::size_t n = env[i].size() < sizeof line - 1 ? env[i].size() : sizeof line - 1;
    std::memcpy(line, env[i].data(), n);
    const char* message = read_env_line(reader, line, static_cast<int32_t>(env[i].size()), "", table);
    if (message != nullptr) {
      *why = "env line " + std::to_string(i + 1) + ": " + message;
      delete table;
      return false;
    }
  }
  delete table;
  manifest->env_lines = env;
  int section = 0;
  for (const std::string& line : settings_lines(inf_bytes)) {
    if (line == "::") {
      ++section;
      continue;
    }
    // A longer line is passed over by the installer.
    if (section != 0 || line.size() > static_cast<std::size_t>(kGroupLineBufferSize - 1)) continue;
    std::string name = line.substr(0, line.find(','));
    if (!name.empty()) manifest->groups.push_back(name);
  }
  return true;
}

void manifest_add_file(Manifest* manifest, const std::string& path, const std::string& bytes) {
  ManifestFile file;
  file.path = path;
  file.size = bytes.size();
  file.crc = crc32_update(0, bytes.data(), bytes.size());
  manifest->files.push_back(file);
}

bool package_manifest(const char* plain_root, const std::string& uninstaller_bytes,
                      const std::string& env_bytes, const std::string& inf_bytes, std::string* text,
                      std::string* why) {
  Manifest manifest;
  if (!manifest_from_tree(plain_root, &manifest, why)) return false;
  for (const char* name : {kUninstallerName, kManifestName}) {
    if (at_root(manifest, name)) {
      *why = std::string(plain_root) + " already holds " + name + " at its root";
      return false;
    }
  }
  manifest_add_file(&manifest, kUninstallerName, uninstaller_bytes);
  if (!manifest_settings(env_bytes, inf_bytes, &manifest, why)) return false;
  *text = format_manifest(manifest);
  return true;
}
