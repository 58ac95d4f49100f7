// check: the package folder as the installer will see it. env and inf are
// read by the installer's own readers, for the folder a user would choose.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/unpack_budget.h"
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
  bool one_file = false;              // the package is read from a one file
  std::set<std::string> files, folders;  // its entries, case folded as Windows compares

  std::string shown_as;                // what the user named: the folder or the one file
  std::string path(const char* name) const { return dir + "\\" + name; }
  std::string shown(const char* name) const { return shown_path((shown_as + "\\" + name).c_str()); }
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

// Every budget of Windows' the installer meets, as figures. The user
// unpacks the package in some folder and the installer reads
// FOLDER_OF_THE_PACKAGE\source\... (searching each folder as "...\*"); it
// makes the installation folder and each folder below it with
// CreateDirectoryA, which takes 247 characters, and writes each file,
// which takes 259. The first entry that does not fit FOLDER is named.
void check_paths(Checker& c, const TreeListing& listing, const std::string& folder) {
  const long file_limit = static_cast<long>(kLongestFile), folder_limit = static_cast<long>(kLongestFolder);
  long longest_file = -1, longest_folder = -1;
  const std::string* longest = nullptr;
  for (const std::string& f : listing.files) longest_file = std::max(longest_file, static_cast<long>(f.size()));
  for (const std::string& f : listing.folders) longest_folder = std::max(longest_folder, static_cast<long>(f.size()));
  for (const std::vector<std::string>* entries : {&listing.files, &listing.folders})
    for (const std::string& entry : *entries)
      if (longest == nullptr || entry.size() > longest->size()) longest = &entry;
  if (longest == nullptr) return;

  long unpack = unpack_folder_budget(listing);
  long install = folder_limit;
  if (longest_file >= 0) install = std::min(install, file_limit - 1 - longest_file);
  if (longest_folder >= 0) install = std::min(install, folder_limit - 1 - longest_folder);

  std::printf("  longest path in the package: %zu characters, %s\n", longest->size(), longest->c_str());
  std::printf("  unpack it in a folder of at most %ld characters: that folder, \\source\\ and the longest path "
              "must fit Windows' %ld\n", unpack, file_limit);
  const long one_file = one_file_budget(listing);
  std::printf("  as one file: %s: unpacked under the TEMP of a user with a %d-character name, its folder takes %d "
              "characters\n", one_file >= unpack_budget::folder_chars ? "fits" : "does not fit", kUserNameChars,
              unpack_budget::folder_chars);
  if (c.one_file && one_file < unpack_budget::folder_chars) c.problem(c.shown("source"), one_file_shortfall(one_file));
  std::printf("  install it into a FOLDER of at most %ld characters: Windows holds a folder to %ld, a file to %ld\n",
              install, folder_limit, file_limit);
  std::printf("  longest installed path: %zu characters, %s\\%s\n", folder.size() + 1 + longest->size(),
              folder.c_str(), longest->c_str());
  if (unpack < 3)
    c.problem(c.shown("source"), "no folder is short enough to unpack the package in: \\source\\ and its longest "
                                 "path leave " + std::to_string(unpack) + " of Windows' " + std::to_string(file_limit) +
                                 " characters");
  else if (unpack < 100)
    c.warning(c.shown("source"), "unpacked in a folder of over " + std::to_string(unpack) +
                                     " characters, the package cannot be installed: a Downloads folder under a "
                                     "user's profile takes some 40 to 60");

  const long length = static_cast<long>(folder.size());
  if (length > folder_limit) {
    c.problem(folder, "a FOLDER of " + std::to_string(length) + " characters, over the " +
                          std::to_string(folder_limit) + " Windows allows a folder: the installer cannot make it");
    return;
  }
  for (const TreeListing::Step& step : listing.order) {
    const std::string& entry = (step.folder ? listing.folders : listing.files)[step.index];
    long installed = length + 1 + static_cast<long>(entry.size()), limit = step.folder ? folder_limit : file_limit;
    if (installed <= limit) continue;
    c.problem(folder, "too long for " + entry + ": installed there it would have " + std::to_string(installed) +
                          " characters, over the " + std::to_string(limit) + " Windows allows " +
                          (step.folder ? "a folder (\"Error: Cannot create subdirectory to install.\")"
                                       : "a file (\"Path too long to install\")"));
    return;
  }
}

}  // namespace

std::string one_file_shortfall(long unpack) {
  return "too long for one file: the package may be unpacked in a folder of at most " + std::to_string(unpack) +
         " characters, and the unpacker's own, under the TEMP of a user with a " + std::to_string(kUserNameChars) +
         "-character name, takes " + std::to_string(unpack_budget::folder_chars);
}

long unpack_folder_budget(const TreeListing& listing) {
  const long source = static_cast<long>(std::strlen("\\source\\")), search = 2;  // "\*"
  const long file_limit = static_cast<long>(kLongestFile);
  long longest_file = -1, longest_folder = -1;
  for (const std::string& f : listing.files) longest_file = std::max(longest_file, static_cast<long>(f.size()));
  for (const std::string& f : listing.folders) longest_folder = std::max(longest_folder, static_cast<long>(f.size()));
  long unpack = file_limit - (source - 1) - search;  // the search of source itself
  if (longest_file >= 0) unpack = std::min(unpack, file_limit - source - longest_file);
  if (longest_folder >= 0) unpack = std::min(unpack, file_limit - source - longest_folder - search);
  return unpack;
}

long one_file_budget(const TreeListing& listing) {
  // The unpacker makes each folder itself, and Windows makes a folder of 247 at most.
  const long source = static_cast<long>(std::strlen("\\source\\"));
  long unpack = unpack_folder_budget(listing);
  for (const std::string& f : listing.folders)
    unpack = std::min(unpack, static_cast<long>(kLongestFolder) - source - static_cast<long>(f.size()));
  return unpack;
}

int run_check(const char* package_dir, const char* given_folder, bool any_setup) {
  guard_standard_streams();
  if (!operand_given("PACKAGE_DIR", package_dir) || !operand_given("FOLDER", given_folder)) return 2;
  return run_check_as(package_dir, package_dir, given_folder, any_setup, false);
}

int run_check_as(const char* package_dir, const char* shown_as, const char* given_folder, bool any_setup,
                 bool one_file) {
  Checker c;
  c.dir = package_dir;
  c.shown_as = shown_as;
  c.one_file = one_file;
  EnginePorts ports = platform_engine_ports();
  engine_ports() = ports;
  // What the installer makes of the folder it is given.
  std::vector<char> buffer(given_folder, given_folder + std::strlen(given_folder) + 1);
  drop_trailing_backslash(buffer.data());
  const char* folder = buffer.data();
  std::printf("Package %s, installed into %s:\n", shown_path(shown_as).c_str(), folder);
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
  std::string kind =
      setup.exists && !setup.folder ? not_a_32bit_windows_program(shown_path(c.path("setup.exe").c_str())) : std::string();
  if (!setup.exists || setup.folder) c.problem(c.shown("setup.exe"), "missing: the user has nothing to start");
  else if (kind.empty()) std::printf("  setup.exe: %.1f KiB, a 32-bit Windows program\n", static_cast<double>(setup.size) / 1024.0);
  else if (any_setup) c.warning(c.shown("setup.exe"), kind + ", taken as --any-setup asks: a package to test, not to ship");
  else c.problem(c.shown("setup.exe"), kind + ": the user's 32-bit Windows cannot start it");
  check_env(c, folder);
  check_inf(c, folder);
  if (c.problems == 0) std::printf("check: all well\n");
  else std::printf("check: %ld problem%s\n", c.problems, c.problems == 1 ? "" : "s");
  return report_written(c.problems == 0 ? 0 : 1);
}
