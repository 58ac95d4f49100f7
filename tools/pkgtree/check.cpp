// check: the package folder as the installer will see it. env and inf are
// read by the installer's own readers, for the folder a user would choose.
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "integration/environment.h"
#include "integration/progman.h"
#include "integration/settings_reader.h"
#include "platform/integration_platform.h"
#include "platform/platform.h"
#include "pkgtree.h"

namespace {

struct Checker {
  std::string dir;
  long problems = 0;
  bool listed = false;                // the source tree could be listed
  std::set<std::string> files, folders;  // its entries, case folded as Windows compares

  std::string path(const char* name) const { return dir + "\\" + name; }
  std::string shown(const char* name) const { return shown_path(path(name).c_str()); }
  void problem(const std::string& where, const std::string& what) {
    std::printf("problem: %s: %s\n", where.c_str(), what.c_str());
    ++problems;
  }
  void warning(const std::string& where, const std::string& what) {
    std::printf("warning: %s: %s\n", where.c_str(), what.c_str());
  }
  std::FILE* open(const char* name) {
    return platform_integration_ports().files->open_text(path(name).c_str());
  }
};

std::string line_of(const std::string& file, int32_t line) {
  return file + " line " + std::to_string(line);
}

void check_env(Checker& c, const char* folder) {
  std::FILE* file = c.open("env");
  if (file == nullptr) {
    c.problem(c.shown("env"), "cannot be read: the installer would set no variable");
    return;
  }
  static EnvTable table;
  int32_t error_line = 0;
  const char* message = parse_env_table(file, folder, &table, &error_line);
  std::fclose(file);
  if (message != nullptr) {
    c.problem(line_of(c.shown("env"), error_line), std::string("the installer stops reading it with \"") +
                                                       message + "\" and sets no variable");
    return;
  }
  // A block after the last "::" is read but never written.
  file = c.open("env");
  SettingsLineReader reader;
  char line[kEnvLineBufferSize];
  int32_t number = 0, unclosed = 0;
  while (file != nullptr && read_line(reader, file, line, sizeof line) != -1) {
    ++number;
    // A blank line after the last "::" starts a block the installer never
    // finishes, and is no mistake of the maker's.
    if (std::strcmp(line, "::") == 0) unclosed = 0;
    else if (line[0] != '#' && line[0] != '\0' && unclosed == 0) unclosed = number;
  }
  if (file != nullptr) std::fclose(file);
  if (unclosed != 0) c.problem(line_of(c.shown("env"), unclosed), "a block that no \"::\" closes: the installer never writes it");
  if (table.count == 0) {
    c.problem(c.shown("env"), "no variable closed by \"::\": the installer reports the environment as not set");
    return;
  }
  std::printf("Environment variables (into the machine's environment for all users where the installer may,\n"
              "else the user's; merged with a value already there, the package's folders first):\n");
  for (int32_t i = 0; i < table.count; ++i)
    std::printf("  %s  %s  %s\n", table.name[i], table.type[i] == kRegExpandSz ? "REG_EXPAND_SZ" : "REG_SZ",
                table.value[i]);
  // Each item of a value is the folder followed by the line's item, as the
  // installer's own builder made it; the item must name a folder of the package.
  if (std::strchr(folder, ';') != nullptr) return;
  std::size_t prefix = std::strlen(folder);
  for (int32_t i = 0; i < table.count; ++i)
    for (int32_t start = 0, end; (end = list_item_end(table.value[i], start)) != kNoListItem; start = end + 2) {
      std::string item(table.value[i] + start + prefix, table.value[i] + end + 1);
      std::string where = c.shown("env") + " " + table.name[i];
      if (item.empty() || item[0] != '\\') {
        c.warning(where, "the item \"" + item + "\" does not start with \"\\\": it becomes " + folder + item);
        continue;
      }
      std::string inside = item.substr(1);
      while (!inside.empty() && inside.back() == '\\') inside.pop_back();
      if (c.listed && !inside.empty() && c.folders.count(folded(inside)) == 0)
        c.warning(where, "the item \"" + item + "\" names a folder the package does not hold");
    }
}

// The length of the commands a line gives, as the installer composes them.
std::size_t command_length(int32_t section, std::size_t line_length) {
  static const std::size_t kFrame[] = {std::strlen("[CreateGroup(, )]"), std::strlen("[AddItem()]"),
                                       std::strlen("[ShowGroup(,4, )]")};
  return section > 2 ? 0 : kFrame[section] + line_length;
}

// An item line is the program, a comma, the item's name: a second comma
// would start a third argument. A program under "$" must be in the package.
void check_item(Checker& c, const std::string& where, const char* line) {
  const char* comma = std::strchr(line, ',');
  if (comma != nullptr && std::strchr(comma + 1, ',') != nullptr)
    c.problem(where, "the item's name holds a comma: the Program Manager takes what follows as a further argument");
  std::string program(line, comma != nullptr ? comma : line + std::strlen(line));
  if (program.empty() || program[0] != '$' || !c.listed) return;
  std::size_t start = program.find_first_not_of('$');
  std::string inside = start == std::string::npos ? std::string() : program.substr(start);
  if (!inside.empty() && inside[0] == '\\') inside.erase(0, 1);
  if (c.files.count(folded(inside)) == 0)
    c.problem(where, "the item's program " + program + " is not a file of the package");
}

void check_inf(Checker& c, const char* folder) {
  std::FILE* file = c.open("inf");
  if (file == nullptr) {
    c.problem(c.shown("inf"), "cannot be read: the installer would make no program group");
    return;
  }
  // Lines the installer leaves out, with their numbers.
  SettingsLineReader reader;
  char line[kGroupLineBufferSize];
  int32_t number = 0, section = 0, length;
  std::size_t wanted = std::strlen("[ExitProgman(1)]");
  while ((length = read_line(reader, file, line, sizeof line)) != -1) {
    ++number;
    if (length > kGroupLineBufferSize - 1) {
      c.problem(line_of(c.shown("inf"), number),
                "longer than " + std::to_string(kGroupLineBufferSize - 1) + " characters: the installer leaves it out");
    } else if (std::strcmp(line, "::") == 0) {
      ++section;
    } else {
      wanted += command_length(section, static_cast<std::size_t>(length));
      if (section == 1) check_item(c, line_of(c.shown("inf"), number), line);
    }
  }
  std::fclose(file);

  file = c.open("inf");
  char work[kCommandBufferSize];
  char text[kCommandBufferSize];
  build_group_commands(file, work, folder);
  std::fclose(file);
  bool fits = expand_folder_marks(work, folder, text);
  if (std::strlen(work) < wanted || !fits)
    c.problem(c.shown("inf"), "its commands do not fit the installer's " + std::to_string(kCommandBufferSize) +
                                  "-byte text with this folder: the last are left out");
  std::printf("Program Manager text:\n  %s\n", text);
}

// The longest path the walk will build under `folder`, and whether it fits.
void check_paths(Checker& c, const TreeListing& listing, const std::string& folder) {
  const std::size_t limit = kPathBufferSize - 1;
  const std::string* longest = nullptr;
  const std::string* first_over = nullptr;
  for (const std::vector<std::string>* entries : {&listing.files, &listing.folders})
    for (const std::string& entry : *entries) {
      if (longest == nullptr || entry.size() > longest->size()) longest = &entry;
      if (first_over == nullptr && folder.size() + 1 + entry.size() > limit) first_over = &entry;
    }
  if (longest == nullptr) return;
  std::printf("  longest installed path: %zu characters, %s\\%s\n", folder.size() + 1 + longest->size(),
              folder.c_str(), longest->c_str());
  if (longest->size() + 2 > limit) std::printf("  no folder is short enough for %s\n", longest->c_str());
  else std::printf("  it fits a folder of up to %zu characters\n", limit - 1 - longest->size());
  if (first_over != nullptr)
    c.problem(folder, "too long for " + *first_over + ": installed there it would have " +
                          std::to_string(folder.size() + 1 + first_over->size()) +
                          " characters, over the installer's " + std::to_string(limit) +
                          " (\"Path too long to install\")");
}

}  // namespace

int run_check(const char* package_dir, const char* given_folder) {
  guard_standard_streams();
  if (!operand_given("PACKAGE_DIR", package_dir) || !operand_given("FOLDER", given_folder)) return 2;
  Checker c;
  c.dir = package_dir;
  EnginePorts ports = platform_engine_ports();
  engine_ports() = ports;
  // What the installer makes of the folder it is given.
  std::vector<char> buffer(given_folder, given_folder + std::strlen(given_folder) + 1);
  drop_trailing_backslash(buffer.data());
  const char* folder = buffer.data();
  std::printf("Package %s, installed into %s:\n", shown_path(package_dir).c_str(), folder);
  if (std::strchr(folder, ';') != nullptr)
    c.problem(folder, "holds \";\", which would split it in two on PATH");
  Entry source = look_up(c.path("source").c_str());
  if (!source.exists || !source.folder) {
    c.problem(c.shown("source"), "no such folder: the installer would stop with \"Source directory does not exist.\"");
  } else {
    TreeListing listing;
    c.listed = list_tree(c.path("source").c_str(), &listing, true);
    for (const std::string& f : listing.files) c.files.insert(folded(f));
    for (const std::string& f : listing.folders) c.folders.insert(folded(f));
    std::printf("  source: %zu folders, %zu files, %.1f MiB packed\n", listing.folders.size(),
                listing.files.size(), static_cast<double>(listing.bytes) / 1048576.0);
    check_paths(c, listing, folder);
  }
  Entry setup = look_up(c.path("setup.exe").c_str());
  if (!setup.exists || setup.folder) c.problem(c.shown("setup.exe"), "missing: the user has nothing to start");
  else std::printf("  setup.exe: %.1f KiB\n", static_cast<double>(setup.size) / 1024.0);
  check_env(c, folder);
  check_inf(c, folder);
  if (c.problems == 0) std::printf("check: all well\n");
  else std::printf("check: %ld problem%s\n", c.problems, c.problems == 1 ? "" : "s");
  return report_written(c.problems == 0 ? 0 : 1);
}
