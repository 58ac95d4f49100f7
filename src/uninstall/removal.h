// The uninstaller's work, apart from its window: the list read and checked,
// the files and folders removed while they are as installed, the package's
// items taken out of the environment, the program group's command, and what
// stays afterwards. Paths are the program's own ("\"-separated).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "integration/environment.h"
#include "uninstall/manifest.h"

// Something that stays, and why, in the words the closing page shows.
struct KeptItem {
  std::string what, why;
};

struct Uninstall {
  std::string folder;  // the installed folder
  std::string name;    // what the pages call the package: its group, else the folder's name
  Manifest manifest;
  std::string manifest_text;  // as read
  std::unique_ptr<EnvTable> environment = std::make_unique<EnvTable>();  // as the installer built it here
  std::string group_commands;  // "[DeleteGroup(NAME)]" for each group

  int files_removed = 0, folders_removed = 0, items_removed = 0;
  bool group_removed = false;
  bool environment_kept = false;  // an item of the package stays in a key
  bool group_kept = false;        // no server took the delete
  std::vector<KeptItem> kept;
};

// Reads and checks FOLDER\uninstall.lst: "" when it may be used, else the
// message of the refusal (nothing has been touched).
std::string load_uninstall(Uninstall& u, const char* folder);

// Whether a run would remove or change anything: a file as installed, an
// empty folder of the list, an item in the environment, a group to delete.
// Files are looked at up to the first one found as installed.
bool has_work(Uninstall& u);

// Every file of the list that is still as installed (but uninstall.exe at
// the root, which goes last), then the folders deepest first, then what
// the user added is named. `progress` is called before each file with its
// path and the count done so far.
void remove_files(Uninstall& u, void (*progress)(const char* path, std::size_t done, std::size_t total));

// Both environment keys: the items the package's env added for this folder
// go; a key that may not be written but holds one of them is kept.
void remove_environment(Uninstall& u);

// The program group's delete went to `answers` servers.
void note_group_answers(Uninstall& u, int answers);

// The end: with nothing kept, uninstall.exe, the list and the folder itself
// go (on Windows once the program that started this copy has ended); with
// something kept they stay, and the list is rewritten to what is left.
void finish_uninstall(Uninstall& u);

bool removed_anything(const Uninstall& u);
// The closing lines: the outcome, then what was removed.
std::string outcome_line(const Uninstall& u);
std::string removed_line(const Uninstall& u);
