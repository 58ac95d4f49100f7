// What pkgtree looks at before it writes anything: the operands, the tree's
// entries (links, FIFOs, unreadable folders) and the names Windows would
// not keep apart or not take at all.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
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

struct Walk {
  AuditRules rules;
  std::vector<Finding>* findings;
  std::vector<std::string> open_folders;  // real paths from the root down
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

#ifndef _WIN32
const char* kind_of(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "neither a file nor a folder";
}

std::string real_of(const std::string& native) {
  char* real = realpath(native.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string out = real;
  std::free(real);
  return out;
}
#endif

// False when the entry must not be entered or written.
bool entry_is_sound(Walk& walk, const std::string& path, const std::string& shown, bool* folder,
                    std::string* real) {
#ifdef _WIN32
  // Junctions and symbolic links, as links are taken natively.
  LinkLook look = look_at_entry(path);
  if (!look.exists) return true;  // gone: the engine says so
  if (!look.reaches) {
    walk.add(shown, "a link to " + look.target +
                        (look.error.empty() ? ", which leads nowhere" : ", which cannot be followed: " + look.error));
    return false;
  }
  *folder = look.folder;
  if (!*folder) return true;
  *real = look.final_path.empty() ? resolved_path(path.c_str()) : folded(look.final_path);
  if (!look.link) return true;
  // A folder open on the walk, or one above it: followed, it would repeat
  // for ever.
  for (const std::string& open : walk.open_folders)
    if (paths_overlap(*real, open) && real->size() <= open.size()) {
      walk.add(shown, "a link to " + look.target + ", a folder that holds the link: it would be followed for ever");
      return false;
    }
  if (!walk.rules.keep_out.empty() && paths_overlap(*real, walk.rules.keep_out)) {
    walk.add(shown, "a link to " + look.target + ", which holds or lies inside the destination");
    return false;
  }
  return true;
#else
  std::string native = shown_path(path.c_str());
  struct stat st;
  if (lstat(native.c_str(), &st) != 0) return true;  // gone: the engine says so
  bool link = S_ISLNK(st.st_mode);
  std::string target;
  if (link) {
    char text[PATH_MAX];
    ssize_t n = readlink(native.c_str(), text, sizeof text - 1);
    target = n < 0 ? std::string("?") : std::string(text, static_cast<std::size_t>(n));
    if (stat(native.c_str(), &st) != 0) {
      walk.add(shown, "a link to " + target + ", which leads nowhere");
      return false;
    }
  }
  *folder = S_ISDIR(st.st_mode);
  if (!*folder && !S_ISREG(st.st_mode)) {
    walk.add(shown, std::string(kind_of(st.st_mode)) + ": only files and folders can be packed");
    return false;
  }
  if (!*folder) return true;
  *real = real_of(native);
  if (!link) return true;
  // That folder itself or one above it: followed, it would repeat for ever.
  const std::string& here = walk.open_folders.back();
  if (*real == here || (here.compare(0, real->size(), *real) == 0 && (real->back() == '/' || here[real->size()] == '/'))) {
    walk.add(shown, "a link to " + target + ", a folder that holds the link: it would be followed for ever");
    return false;
  }
  if (!walk.rules.keep_out.empty() && paths_overlap(*real, walk.rules.keep_out)) {
    walk.add(shown, "a link to " + target + ", which holds or lies inside the destination");
    return false;
  }
  return true;
#endif
}

void audit_folder(Walk& walk, const std::string& folder, const std::string& real) {
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
  walk.open_folders.push_back(real);
  for (const std::string& name : names) {
    if (run_interrupted() != 0) break;
    // The walk refuses such a name itself, before it makes anything for it.
    if (!names_one_entry(name.c_str())) continue;
    std::string path = folder + "\\" + name;
    bool is_folder = false;
    std::string entry_real;
    if (!entry_is_sound(walk, path, shown_folder + kSeparator + name, &is_folder, &entry_real)) continue;
    if (is_folder) audit_folder(walk, path, entry_real);
    else ++walk.files;
  }
  walk.open_folders.pop_back();
}

}  // namespace

std::string folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::size_t audit_tree(const char* root, const AuditRules& rules, std::vector<Finding>* findings) {
  Walk walk{rules, findings, {}, 0};
  audit_folder(walk, root, resolved_path(root));
  return walk.files;
}

std::string resolved_path(const char* engine_path) {
  std::string native = shown_path(engine_path);
#ifdef _WIN32
  char* full = _fullpath(nullptr, native.c_str(), 0);
  if (full == nullptr) return native;
  std::string whole = full;
  std::free(full);
  // The part that exists as the system resolves it (junctions, links, short
  // names); the rest as written.
  std::string head = whole, rest;
  for (;;) {
    std::string real = final_path_of(head);
    if (!real.empty()) {
      if (real.back() == '\\' && !rest.empty()) real.pop_back();
      whole = real + rest;
      break;
    }
    std::size_t slash = head.find_last_of('\\');
    if (slash == std::string::npos || slash + 1 >= head.size() || slash < 2) break;
    rest = head.substr(slash) + rest;
    head.resize(head[slash - 1] == ':' ? slash + 1 : slash);
  }
  std::string out = folded(whole);
  while (out.size() > 3 && out.back() == '\\') out.pop_back();
  return out;
#else
  if (native.empty() || native[0] != '/') {
    char* here = getcwd(nullptr, 0);
    native = std::string(here != nullptr ? here : ".") + "/" + native;
    std::free(here);
  }
  // The part that exists, as the system resolves it; the rest as written.
  std::vector<std::string> rest;
  std::string head = native, real;
  for (;;) {
    real = real_of(head);
    if (!real.empty() || head.empty()) break;
    std::size_t slash = head.find_last_of('/');
    if (slash == std::string::npos) break;
    rest.push_back(head.substr(slash + 1));
    head = head.substr(0, slash);
    if (head.empty()) head = "/";
    if (head == "/" && real_of(head).empty()) break;
  }
  if (real.empty()) real = "/";
  for (auto part = rest.rbegin(); part != rest.rend(); ++part) {
    if (part->empty() || *part == ".") continue;
    if (*part == "..") {
      std::size_t slash = real.find_last_of('/');
      real = slash == 0 ? "/" : real.substr(0, slash);
    } else {
      real += (real == "/" ? "" : "/") + *part;
    }
  }
  return real;
#endif
}

bool paths_overlap(const std::string& a, const std::string& b) {
  auto under = [](const std::string& inner, const std::string& outer) {
    std::string prefix = outer.back() == kSeparator ? outer : outer + kSeparator;
    return inner.compare(0, prefix.size(), prefix) == 0;
  };
  return a == b || under(a, b) || under(b, a);
}
