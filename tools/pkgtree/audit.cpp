// What pkgtree looks at before it writes anything: the tree's entries
// (links, FIFOs, unreadable folders), the names Windows would not keep apart
// or not take at all, and the paths too long to install.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#else
#include "platform/win32/pkgtree_win32.h"
#endif

#include "engine/engine.h"
#include "engine/engine_ports.h"
#include "pkgtree.h"

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// An entry's name as it can be shown on one line.
std::string printable(const char* name) {
  std::string out = name;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  return out;
}

// A folder the walk is in: as the system resolves it, and the link the walk
// followed into it (as shown), empty for a plain folder.
struct OpenFolder {
  std::string real, via;
};

struct Walk {
  AuditRules rules;
  std::vector<Finding>* findings;
  std::vector<OpenFolder> open;  // from the root down to the folder being read
  std::size_t files = 0;

  void add(const std::string& shown, const std::string& what, bool warning = false, bool about_name = false) {
    findings->push_back(Finding{shown, what, warning, about_name});
  }
  void name(const std::string& shown, const std::string& what, bool warning = false) {
    add(shown, what, warning, true);
  }
};

void check_names(Walk& walk, const std::string& shown_folder, const std::vector<std::string>& names) {
  std::map<std::string, std::string> first_of;
  for (const std::string& name : names) {
    std::string shown = shown_folder + kSeparator + printable(name.c_str());
    char last = name.back();
    bool ascii = true;
    for (char c : name) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!names_one_entry(name.c_str()))
      walk.name(shown, "a name the installer refuses (a reserved or control character, or a device name)");
    else if (last == '.' || last == ' ')
      walk.name(shown, "a name ending in \".\" or \" \": Windows drops the ending, and the installation stops");
    auto twin = first_of.emplace(folded(name), name);
    if (!twin.second)
      walk.name(shown, "the same name as \"" + printable(twin.first->second.c_str()) +
                          "\" when case is ignored: on Windows one overwrites the other");
    if (!ascii)
      walk.name(shown, "a name with bytes outside ASCII: Windows reads them in the user's ANSI code page "
                      "(the UTF-8 \"\xC3\xA9\" becomes \"\xC3\x83\xC2\xA9\" on a Western system)", true);
  }
}

// An entry below the root longer than the installer can make under the
// rules' folder. False when it does not fit.
bool fits_budget(Walk& walk, const std::string& shown, std::size_t relative, bool folder) {
  const std::string& into = walk.rules.install_folder;
  if (into.empty()) return true;
  std::size_t installed = into.size() + 1 + relative, limit = folder ? kLongestFolder : kLongestFile;
  if (installed <= limit) return true;
  walk.name(shown, "installed under " + into + " it would have " + std::to_string(installed) +
                       " characters, over the " + std::to_string(limit) + " Windows allows " +
                       (folder ? "a folder" : "a file"));
  return false;
}

#ifndef _WIN32
const char* kind_of(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "neither a file nor a folder";
}
#endif

// A link to a folder the walk is in, or to one above it, would be entered
// again and again. The loop passes through the first link the walk followed
// below that folder; with none, the link lies inside its own target.
bool leads_into_the_walk(Walk& walk, const std::string& shown, const std::string& target, const std::string& real) {
  for (std::size_t k = 0; k < walk.open.size(); ++k) {
    if (!lies_within(walk.open[k].real, real)) continue;
    for (std::size_t j = k + 1; j < walk.open.size(); ++j)
      if (!walk.open[j].via.empty()) {
        walk.add(shown, "a link to " + target + ": a loop through " + walk.open[j].via + ": it would be followed for ever");
        return true;
      }
    walk.add(shown, "a link to " + target + ", a folder that holds the link: it would be followed for ever");
    return true;
  }
  return false;
}

// False when the entry must not be entered or written.
bool entry_is_sound(Walk& walk, const std::string& path, const std::string& shown, bool* folder, bool* link,
                    std::string* real) {
#ifdef _WIN32
  // Junctions and symbolic links, as links are taken natively.
  LinkLook look = look_at_entry(path);
  if (!look.exists) return true;  // gone: the engine says so
  *link = look.link;
  if (!look.reaches) {
    walk.add(shown, "a link to " + look.target +
                        (look.error.empty() ? ", which leads nowhere" : " that cannot be followed: " + look.error));
    return false;
  }
  *folder = look.folder;
  if (!*folder) return true;
  *real = look.final_path.empty() ? resolved_path(path.c_str()) : look.final_path;
  if (!*link) return true;
  if (leads_into_the_walk(walk, shown, look.target, *real)) return false;
  if (!walk.rules.keep_out.empty() && paths_overlap(*real, walk.rules.keep_out)) {
    walk.add(shown, "a link to " + look.target + ", which holds or lies inside the destination");
    return false;
  }
  return true;
#else
  std::string native = shown_path(path.c_str());
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) return true;  // gone: the engine says so
  *link = S_ISLNK(st.st_mode);
  std::string target;
  if (*link) {
    char text[PATH_MAX];
    ssize_t n = readlink(native.c_str(), text, sizeof text - 1);
    target = n < 0 ? std::string("?") : std::string(text, static_cast<std::size_t>(n));
    if (stat(native.c_str(), &st) != 0) {
      int error = errno;
      if (error == ENOENT || error == ENOTDIR) walk.add(shown, "a link to " + target + ", which leads nowhere");
      else walk.add(shown, "a link to " + target + " that cannot be followed: " + std::strerror(error));
      return false;
    }
  }
  *folder = S_ISDIR(st.st_mode);
  if (!*folder && !S_ISREG(st.st_mode)) {
    walk.add(shown, std::string(kind_of(st.st_mode)) + ": only files and folders can be packed");
    return false;
  }
  if (!*folder) return true;
  *real = resolved_path(path.c_str());
  if (!*link) return true;
  if (leads_into_the_walk(walk, shown, target, *real)) return false;
  if (!walk.rules.keep_out.empty() && paths_overlap(*real, walk.rules.keep_out)) {
    walk.add(shown, "a link to " + target + ", which holds or lies inside the destination");
    return false;
  }
  return true;
#endif
}

// `relative`: the length of the folder's path below the root, 0 for the
// root; `fits`: false below a folder already found too long, which alone
// is named.
void audit_folder(Walk& walk, const std::string& folder, const OpenFolder& here, std::size_t relative, bool fits) {
  DirectoryLister& lister = *engine_ports().lister;
  std::string shown_folder = shown_path(folder.c_str());
  std::string pattern = folder + "\\*";
  FindRecord record;
  errno = 0;
  SearchHandle search = lister.find_first(pattern.c_str(), &record);
  if (search == nullptr) {
    walk.add(shown_folder, std::string("a folder that cannot be read: ") + std::strerror(errno != 0 ? errno : EACCES));
    return;
  }
  std::vector<std::string> names;
  do {
    if (std::strcmp(record.name, ".") != 0 && std::strcmp(record.name, "..") != 0) names.push_back(record.name);
  } while (lister.find_next(search, &record));
  lister.find_close(search);
  if (walk.rules.windows_names) check_names(walk, shown_folder, names);
  walk.open.push_back(here);
  for (const std::string& name : names) {
    if (run_interrupted() != 0) break;
    // The walk refuses such a name itself, before it makes anything for it.
    if (!names_one_entry(name.c_str())) continue;
    std::string path = folder + "\\" + name, shown = shown_folder + kSeparator + name;
    bool is_folder = false, link = false;
    OpenFolder entry;
    if (!entry_is_sound(walk, path, shown, &is_folder, &link, &entry.real)) continue;
    std::size_t below = relative == 0 ? name.size() : relative + 1 + name.size();
    bool entry_fits = fits && fits_budget(walk, shown, below, is_folder);
    if (link) entry.via = shown;
    if (is_folder) audit_folder(walk, path, entry, below, entry_fits);
    else ++walk.files;
  }
  walk.open.pop_back();
}

}  // namespace

std::size_t audit_tree(const char* root, const AuditRules& rules, std::vector<Finding>* findings) {
  Walk walk{rules, findings, {}, 0};
  audit_folder(walk, root, OpenFolder{resolved_path(root), std::string()}, 0, true);
  return walk.files;
}
