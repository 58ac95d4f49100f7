#include "uninstall/removal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "integration/integration_ports.h"
#include "integration/progman.h"
#include "uninstall/uninstall_ports.h"

UninstallPorts& uninstall_ports() {
  static UninstallPorts ports;
  return ports;
}

namespace {

constexpr std::size_t kMaxPath = 259;
constexpr uint32_t kReadBlock = 64 * 1024;

const char kChanged[] = "changed since it was installed";
const char kReplaced[] = "replaced since it was installed";
const char kAdded[] = "added after the installation";
const char kNotRemoved[] = "could not be removed";
const char kHoldsKept[] = "it holds what is kept";

RemovalFiles& files() { return *uninstall_ports().files; }

// Names as Windows compares them: ASCII letters without case.
std::string folded(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string full_path(const Uninstall& u, const std::string& relative) { return u.folder + "\\" + relative; }

bool is_root_uninstaller(const std::string& path) { return folded(path) == kUninstallerName; }

void keep(Uninstall& u, const std::string& what, const char* why) { u.kept.push_back(KeptItem{what, why}); }

// Every folder on the way to `relative` is a real folder, not a link that
// would lead the removal elsewhere.
bool reached_directly(const std::string& relative) {
  for (std::size_t at = relative.find('\\'); at != std::string::npos; at = relative.find('\\', at + 1)) {
    uint64_t size = 0;
    if (files().look_up(relative.substr(0, at).c_str(), &size) != EntryKind::Folder) return false;
  }
  return true;
}

bool read_whole(const char* relative, std::size_t limit, std::string* bytes) {
  uint64_t size = 0;
  FileHandle file = files().open_file(relative, false, &size);
  if (file == nullptr) return false;
  std::vector<char> block(kReadBlock);
  bool ok = true;
  for (uint32_t count = 0;;) {
    if (!(ok = files().read(file, block.data(), kReadBlock, &count)) || count == 0) break;
    bytes->append(block.data(), count);
    if (bytes->size() > limit) break;
  }
  files().close(file);
  return ok;
}

bool same_crc(FileHandle file, uint32_t crc) {
  std::vector<char> block(kReadBlock);
  uint32_t sum = 0;
  bool ok = true;
  for (uint32_t count = 0;;) {
    if (!(ok = files().read(file, block.data(), kReadBlock, &count)) || count == 0) break;
    sum = crc32_update(sum, block.data(), count);
  }
  return ok && sum == crc;
}

// Locked: a plain file that cannot be opened to be removed.
enum class FileState { Gone, AsInstalled, Changed, Unreachable, Locked };

// The installer's Expand gives an installed file the time of the install,
// so only its size and bytes tell whether the user changed it. With
// `removal`, a file as installed is left open there, so that what was
// checked is what gets removed.
FileState file_state(const ManifestFile& file, FileHandle* removal = nullptr) {
  if (!reached_directly(file.path)) return FileState::Unreachable;
  uint64_t size = 0;
  EntryKind kind = files().look_up(file.path.c_str(), &size);
  if (kind == EntryKind::Missing) return FileState::Gone;
  if (kind != EntryKind::File || size != file.size) return FileState::Changed;
  FileHandle opened = files().open_file(file.path.c_str(), removal != nullptr, &size);
  if (opened == nullptr) return removal != nullptr ? FileState::Locked : FileState::Changed;
  bool same = size == file.size && same_crc(opened, file.crc);
  if (same && removal != nullptr) {
    *removal = opened;
    return FileState::AsInstalled;
  }
  files().close(opened);
  return same ? FileState::AsInstalled : FileState::Changed;
}

// A listed file: removed and counted when it is as installed, else kept
// with the reason (a file gone, or behind a link, is not named).
void remove_listed_file(Uninstall& u, const ManifestFile& file) {
  std::string path = full_path(u, file.path);
  FileHandle opened = nullptr;
  switch (file_state(file, &opened)) {
    case FileState::Gone:
    case FileState::Unreachable:  // its folder is named instead
      break;
    case FileState::Changed:
      keep(u, path, kChanged);
      break;
    case FileState::Locked:
      keep(u, path, kNotRemoved);
      break;
    case FileState::AsInstalled:
      if (files().remove_opened(opened))
        ++u.files_removed;
      else
        keep(u, path, kNotRemoved);
      files().close(opened);
      break;
  }
}

// The entries of a folder, "." and ".." left out.
std::vector<std::string> entries_of(const std::string& folder) {
  std::vector<std::string> names;
  DirectoryLister* lister = uninstall_ports().lister;
  std::string pattern = folder + "\\*";
  FindRecord record;
  SearchHandle search = lister->find_first(pattern.c_str(), &record);
  if (search == nullptr) return names;
  do {
    if (std::strcmp(record.name, ".") != 0 && std::strcmp(record.name, "..") != 0) names.push_back(record.name);
  } while (lister->find_next(search, &record));
  lister->find_close(search);
  return names;
}

std::size_t depth(const std::string& path) { return static_cast<std::size_t>(std::count(path.begin(), path.end(), '\\')); }

bool same_folder(const std::string& a, const std::string& b) { return folded(a) == folded(b); }

// The list belongs to the folder it stands in: a run that kept something
// recorded that folder; before that, at least one of the package's own
// files is there as installed. A copy of uninstall.exe and its list in
// another folder finds neither.
bool belongs_here(const Uninstall& u) {
  if (!u.manifest.installed_in.empty()) return same_folder(u.manifest.installed_in, u.folder);
  for (const ManifestFile& file : u.manifest.files)
    if (!is_root_uninstaller(file.path) && file_state(file) == FileState::AsInstalled) return true;
  return false;
}

std::string last_name(const std::string& folder) {
  std::size_t at = folder.find_last_of("\\/");
  return at == std::string::npos || at + 1 == folder.size() ? folder : folder.substr(at + 1);
}

// Whole commands that fit the conversation's block with the folder in
// place of each "$", as the installer's group commands are cut.
std::string delete_commands(const std::vector<std::string>& groups, const std::string& folder) {
  std::string text;
  std::size_t expanded = 0;
  for (const std::string& group : groups) {
    std::string command = "[DeleteGroup(" + group + ")]";
    std::size_t marks = static_cast<std::size_t>(std::count(command.begin(), command.end(), '$'));
    std::size_t length = command.size() - marks + marks * folder.size();
    if (text.size() + command.size() >= kCommandBufferSize || expanded + length >= kCommandBufferSize) break;
    text += command;
    expanded += length;
  }
  return text;
}

const char* root_words(RegistryRoot root) { return root == RegistryRoot::LocalMachine ? "all users" : "this user"; }

const char* key_path(RegistryRoot root) {
  return root == RegistryRoot::LocalMachine ? kMachineEnvironmentKey : kUserEnvironmentKey;
}

// The package's items (ANSI, as they are shown) that `value` holds, each once.
std::vector<std::string> items_present(Registry* registry, const std::string& value, const char* ours) {
  std::vector<std::string> present;
  std::string rest(value.size() + 1, '\0');
  for (int32_t start = 0, end; (end = list_item_end(ours, start)) != kNoListItem; start = end + 2) {
    std::string item(ours + start, static_cast<std::size_t>(end - start + 1)), text;
    if (registry->text_from_ansi(item.c_str(), &text) && remove_value_items(value.c_str(), text.c_str(), rest.data()) > 0 &&
        std::find(present.begin(), present.end(), item) == present.end())
      present.push_back(item);
  }
  return present;
}

// Variable i of the package as the registry's text: its name in *name, its
// items in *ours, and the key's value of it in *value. kRegistryOk only for
// a value that is a list of text; kRegistryNotText for one that is not, or
// for a name or items that cannot be converted.
int32_t read_ours(Registry* registry, RegistryKey key, const EnvTable& table, int32_t i, std::string* name,
                  std::string* ours, std::string* value, uint32_t* type = nullptr) {
  if (!registry->text_from_ansi(table.name[i], name) || !registry->text_from_ansi(table.value[i], ours))
    return kRegistryNotText;
  uint32_t value_type = 0;
  int32_t answer = registry->query_text(key, name->c_str(), &value_type, value);
  if (type != nullptr) *type = value_type;
  if (answer == kRegistryOk &&
      ((value_type != kRegSz && value_type != kRegExpandSz) || value->find('\0') != std::string::npos))
    return kRegistryNotText;
  return answer;
}

// A key that may be read but not written: each package item in it stays.
void report_unwritable_key(Uninstall& u, RegistryRoot root) {
  Registry* registry = integration_ports().registry;
  RegistryKey key = nullptr;
  if (registry->open_key_for_reading(root, key_path(root), &key) != kRegistryOk) return;
  const EnvTable& table = *u.environment;
  for (int32_t i = 0; i < table.count; ++i) {
    std::string name, ours, value;
    if (read_ours(registry, key, table, i, &name, &ours, &value) != kRegistryOk) continue;
    for (const std::string& item : items_present(registry, value, table.value[i])) {
      keep(u, item + " in " + table.name[i] + " for " + root_words(root), "no right to change it");
      u.environment_kept = true;
    }
  }
  registry->close_key(key);
}

void clean_key(Uninstall& u, RegistryRoot root) {
  Registry* registry = integration_ports().registry;
  RegistryKey key = nullptr;
  int32_t answer = registry->open_key(root, key_path(root), &key);
  if (answer == kRegistryNotFound) return;  // no such key: nothing of ours in it
  if (answer != kRegistryOk) {
    report_unwritable_key(u, root);
    return;
  }
  const EnvTable& table = *u.environment;
  for (int32_t i = 0; i < table.count; ++i) {
    std::string name, ours, value;
    uint32_t type = 0;
    answer = read_ours(registry, key, table, i, &name, &ours, &value, &type);
    if (answer == kRegistryNotFound) continue;
    std::string what = std::string(table.name[i]) + " for " + root_words(root);
    if (answer != kRegistryOk) {
      keep(u, what, answer == kRegistryNotText ? "it is not plain text" : "could not be read");
      u.environment_kept = true;
      continue;
    }
    std::string remaining(value.size() + 1, '\0');
    int32_t dropped = remove_value_items(value.c_str(), ours.c_str(), remaining.data());
    if (dropped == 0) continue;
    remaining.resize(std::strlen(remaining.c_str()));
    // A value left without items goes; other items stay with the value's type.
    answer = remaining.empty() ? registry->delete_value(key, table.name[i])
                               : registry->set_text(key, name.c_str(), type, remaining);
    if (answer == kRegistryOk) {
      u.items_removed += dropped;
    } else {
      keep(u, what, "could not be changed");
      u.environment_kept = true;
    }
  }
  registry->close_key(key);
}

bool key_holds_ours(const Uninstall& u, RegistryRoot root) {
  Registry* registry = integration_ports().registry;
  RegistryKey key = nullptr;
  if (registry->open_key_for_reading(root, key_path(root), &key) != kRegistryOk) return false;
  bool found = false;
  const EnvTable& table = *u.environment;
  for (int32_t i = 0; i < table.count && !found; ++i) {
    std::string name, ours, value;
    if (read_ours(registry, key, table, i, &name, &ours, &value) != kRegistryOk) continue;
    std::string rest(value.size() + 1, '\0');
    found = remove_value_items(value.c_str(), ours.c_str(), rest.data()) > 0;
  }
  registry->close_key(key);
  return found;
}

std::string counted(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string load_uninstall(Uninstall& u, const char* folder) {
  u.folder = folder;
  std::string list = full_path(u, kManifestName);
  if (list.size() > kMaxPath) return "The folder " + u.folder + " is too long for a folder the installer made: nothing was removed.";
  std::string no_list = "There is no list of installed files (" + std::string(kManifestName) + ") in " + u.folder +
                        ": nothing was removed.";
  // Whatever the list says is done inside the folder as it was found here.
  FolderCheck check = files().open_folder(folder);
  if (check.outcome == FolderCheck::Missing) return no_list;
  if (check.outcome != FolderCheck::Opened) return "The folder " + u.folder + " " + check.why + ": nothing was removed.";
  uint64_t size = 0;
  EntryKind kind = files().look_up(kManifestName, &size);
  if (kind == EntryKind::Missing) return no_list;
  std::string refused = list + " cannot be used";
  if (kind != EntryKind::File || !read_whole(kManifestName, kMaxManifestSize, &u.manifest_text))
    return refused + ": it cannot be read. Nothing was removed.";
  int line = 0;
  const char* damage = parse_manifest(u.manifest_text.data(), u.manifest_text.size(), &u.manifest, &line);
  if (damage != nullptr) {
    std::string where = line > 0 ? "line " + std::to_string(line) + ": " : "";
    return refused + " (" + where + damage + "). Nothing was removed.";
  }
  std::vector<std::string> paths = u.manifest.folders;
  for (const ManifestFile& file : u.manifest.files) paths.push_back(file.path);
  for (const std::string& path : paths) {
    if (full_path(u, path).size() > kMaxPath) return refused + ": it names a path too long for this folder. Nothing was removed.";
    if (folded(path) == kManifestName) return refused + ": it lists itself. Nothing was removed.";
  }
  if (!belongs_here(u)) {
    if (!u.manifest.installed_in.empty())
      return refused + ": it lists what is left of the package in " + u.manifest.installed_in +
             ", not in this folder. Nothing was removed.";
    return refused + ": it was not made for this folder, which holds none of its files as installed. "
                     "Nothing was removed.";
  }
  // The values the installer wrote here, built as it built them; an env it
  // could not read had it write nothing.
  EnvLineReader reader;
  EnvTable& table = *u.environment;
  table.count = 0;
  for (const std::string& text : u.manifest.env_lines) {
    char line_text[kEnvLineBufferSize] = {};
    std::memcpy(line_text, text.data(), std::min(text.size(), sizeof line_text - 1));
    if (read_env_line(reader, line_text, static_cast<int32_t>(text.size()), folder, &table) != nullptr) {
      table.count = 0;
      break;
    }
  }
  u.name = !u.manifest.name.empty()     ? u.manifest.name
           : u.manifest.groups.empty() ? last_name(u.folder)
                                       : u.manifest.groups.front();
  u.group_commands = delete_commands(u.manifest.groups, u.folder);
  return "";
}

bool has_work(Uninstall& u) {
  if (!u.group_commands.empty()) return true;
  if (key_holds_ours(u, RegistryRoot::LocalMachine) || key_holds_ours(u, RegistryRoot::CurrentUser)) return true;
  for (const std::string& folder : u.manifest.folders) {
    uint64_t size = 0;
    if (reached_directly(folder) && files().look_up(folder.c_str(), &size) == EntryKind::Folder &&
        entries_of(full_path(u, folder)).empty())
      return true;
  }
  for (const ManifestFile& file : u.manifest.files)
    if (!is_root_uninstaller(file.path) && file_state(file) == FileState::AsInstalled) return true;
  return false;
}

void remove_files(Uninstall& u, void (*progress)(const char* path, std::size_t done, std::size_t total)) {
  const Manifest& m = u.manifest;
  std::size_t done = 0, total = 0;
  for (const ManifestFile& file : m.files) total += is_root_uninstaller(file.path) ? 0 : 1;
  for (const ManifestFile& file : m.files) {
    if (is_root_uninstaller(file.path)) continue;
    std::string path = full_path(u, file.path);
    if (progress != nullptr) progress(path.c_str(), done, total);
    ++done;
    remove_listed_file(u, file);
  }
  // Deepest first, so that a folder is empty when its turn comes.
  std::vector<std::string> folders = m.folders;
  std::stable_sort(folders.begin(), folders.end(),
                   [](const std::string& a, const std::string& b) { return depth(a) > depth(b); });
  std::vector<std::string> stayed;
  for (const std::string& folder : folders) {
    if (!reached_directly(folder)) continue;
    std::string path = full_path(u, folder);
    uint64_t size = 0;
    EntryKind kind = files().look_up(folder.c_str(), &size);
    if (kind == EntryKind::Missing) continue;
    if (kind != EntryKind::Folder) {
      keep(u, path, kReplaced);
    } else if (files().remove_folder(folder.c_str())) {
      ++u.folders_removed;
    } else {
      stayed.push_back(folder);
    }
  }
  // What the user put into the package's folders is named, not entered.
  std::set<std::string> listed = {folded(kManifestName)};
  for (const std::string& folder : m.folders) listed.insert(folded(folder));
  for (const ManifestFile& file : m.files) listed.insert(folded(file.path));
  std::vector<std::string> looked = stayed;
  std::reverse(looked.begin(), looked.end());
  looked.insert(looked.begin(), "");
  for (const std::string& folder : looked) {
    std::string path = folder.empty() ? u.folder : full_path(u, folder);
    for (const std::string& name : entries_of(path)) {
      std::string relative = folder.empty() ? name : folder + "\\" + name;
      if (listed.count(folded(relative)) == 0) keep(u, full_path(u, relative), kAdded);
    }
  }
  for (const std::string& folder : stayed) {
    std::string path = full_path(u, folder);
    keep(u, path, entries_of(path).empty() ? kNotRemoved : kHoldsKept);
  }
}

void remove_environment(Uninstall& u) {
  if (u.environment->count == 0) return;
  clean_key(u, RegistryRoot::LocalMachine);
  clean_key(u, RegistryRoot::CurrentUser);
}

void note_group_answers(Uninstall& u, int answers) {
  if (u.group_commands.empty()) return;
  if (answers > 0) {
    u.group_removed = true;
    return;
  }
  u.group_kept = true;
  keep(u, "the program group " + u.name, "no Program Manager answered");
}

void finish_uninstall(Uninstall& u) {
  const ManifestFile* uninstaller = nullptr;
  for (const ManifestFile& file : u.manifest.files)
    if (is_root_uninstaller(file.path)) uninstaller = &file;
  std::string list = full_path(u, kManifestName);
  if (u.kept.empty() && uninstaller != nullptr) {
    uninstall_ports().program->release_starter();
    remove_listed_file(u, *uninstaller);
  }
  if (u.kept.empty()) {
    uint64_t size = 0;
    FileHandle opened = files().look_up(kManifestName, &size) == EntryKind::File
                            ? files().open_file(kManifestName, true, &size)
                            : nullptr;
    bool gone = opened != nullptr && files().remove_opened(opened);
    if (opened != nullptr) files().close(opened);
    if (!gone)
      keep(u, list, kNotRemoved);
    else if (!files().remove_folder(""))
      keep(u, u.folder, kNotRemoved);
    return;
  }
  // What is left, for a later run once the user has dealt with it.
  Manifest left;
  if (u.group_kept) left.groups = u.manifest.groups;
  if (u.environment_kept) left.env_lines = u.manifest.env_lines;
  uint64_t size = 0;
  for (const std::string& folder : u.manifest.folders)
    if (files().look_up(folder.c_str(), &size) != EntryKind::Missing) left.folders.push_back(folder);
  for (const ManifestFile& file : u.manifest.files)
    if (files().look_up(file.path.c_str(), &size) != EntryKind::Missing) left.files.push_back(file);
  left.installed_in = u.folder;
  left.name = u.name;
  std::string text = format_manifest(left);
  if (text != u.manifest_text && !files().replace_file(kManifestName, text.data(), text.size()))
    keep(u, list, "could not be updated with what is left");
}

bool removed_anything(const Uninstall& u) {
  return u.files_removed > 0 || u.folders_removed > 0 || u.items_removed > 0 || u.group_removed;
}

std::string outcome_line(const Uninstall& u) {
  if (!removed_anything(u)) return "Nothing of " + u.name + " was left to remove in " + u.folder + ".";
  if (u.kept.empty()) return u.name + " has been removed from " + u.folder + ".";
  return u.name + " has been removed from " + u.folder + ", but for what is kept.";
}

std::string removed_line(const Uninstall& u) {
  std::string line = "Removed: " + counted(u.files_removed, "file", "files") + ", " +
                     counted(u.folders_removed, "folder", "folders") + ", " +
                     counted(u.items_removed, "item", "items") + " of the environment";
  if (u.group_removed) line += ", the program group";
  return line + ".";
}
