// Whole trees through the pkgtree program, one child process per run: the
// engine ends its process on a failure. A tree built from the input, with
// hostile names, links and FIFOs, either comes back exactly from compress
// then expand (the installer's walk, -j 1), or pkgtree refuses with a line
// naming one of its entries. A refusal makes nothing; a failure of the
// walk leaves only whole files; nothing outside the destination changes,
// also when links out of it were planted in the destination beforehand.
#include <bzlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

extern char** environ;

namespace {

// Ordinary names first (a non-ASCII one is only a warning), then those
// Windows or the installer would not take.
const char* const kPool[] = {
    "a",     "B",      "lib",    "xt_connmark.h", "COM10", "\xC3\xA9.h", ".hidden", "-v",   "Makefile", "READ ME",
    "x.tar.gz", "NOTES.", "SPACE.txt ", " ",     "...",   "CON",     "con.h",   "nul.h", "COM1",     "lpt9.txt",
    "AUX",   "PRN.c",  "a<b",    "a>b",           "a:b.h", "q\"t",     "p|q",     "why?",  "star*",    "back\\slash",
    "tab\tname",
};
constexpr std::size_t kOrdinary = 11;
constexpr std::size_t kPoolSize = sizeof kPool / sizeof kPool[0];

struct Input {
  const uint8_t* data;
  std::size_t size, at = 0;
  unsigned byte() { return at < size ? data[at++] : 0; }
};

std::string g_root;  // the one scratch folder: tree/ and the log
std::string tree_dir() { return g_root + "/tree"; }
std::size_t g_src_length;  // of tree/src, where the paths below the package root begin

// Links between the tree's own folders are made once the tree stands, so
// that one may lead to a folder made after it: siblings that lead into each
// other's folders, a link into a cousin's subtree, one back to an ancestor.
struct LaterLink {
  std::string entry;
  std::size_t depth;  // of the folder that holds it, below src
};
std::vector<std::string> g_folders;  // below src, "" for src itself
std::vector<LaterLink> g_later_links;

// What a tree holds, as lstat sees it: kind, bytes or link target, stamp.
using Listing = std::map<std::string, std::string>;

std::string read_file(const std::string& path) {
  std::string bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

std::vector<std::string> names_in(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

void list_raw(const std::string& path, const std::string& rel, Listing* out) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, " %o %lld.%09ld %llu", st.st_mode, static_cast<long long>(st.st_mtim.tv_sec),
                st.st_mtim.tv_nsec, static_cast<unsigned long long>(st.st_ino));
  if (S_ISLNK(st.st_mode)) {
    char target[4096];
    ssize_t n = readlink(path.c_str(), target, sizeof target);
    (*out)[rel] = "link " + std::string(target, n > 0 ? static_cast<std::size_t>(n) : 0);
  } else if (S_ISDIR(st.st_mode)) {
    (*out)[rel] = std::string("folder") + stamp;
    for (const std::string& name : names_in(path)) list_raw(path + "/" + name, rel + "/" + name, out);
  } else {
    (*out)[rel] = (S_ISREG(st.st_mode) ? "file" : "other") + std::string(stamp) + " " + std::to_string(st.st_size);
  }
}

// The plain view a package must give back: links followed, bytes kept.
bool list_plain(const std::string& path, const std::string& rel, int depth, Listing* out) {
  struct stat st;
  if (depth > 64 || stat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) {
    (*out)[rel] = S_ISREG(st.st_mode) ? "file " + read_file(path) : "other";
    return true;
  }
  (*out)[rel] = "folder";
  for (const std::string& name : names_in(path))
    if (!list_plain(path + "/" + name, rel + "/" + name, depth + 1, out)) return false;
  return true;
}

int remove_one(const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }
void remove_tree(const std::string& path) { nftw(path.c_str(), remove_one, 16, FTW_DEPTH | FTW_PHYS); }

Listing g_plain_raw;  // for the message of a finding
std::string g_last_output;

[[noreturn]] void finding(const std::string& what) {
  std::fprintf(stderr, "fuzz_tree: %s\nthe plain tree (under %s/src):\n", what.c_str(), tree_dir().c_str());
  for (const auto& entry : g_plain_raw) std::fprintf(stderr, "  \"%s\": %s\n", entry.first.c_str(), entry.second.c_str());
  std::fprintf(stderr, "pkgtree's last output:\n%s\n", g_last_output.c_str());
  remove_tree(g_root);
  std::abort();
}

// Runs pkgtree; its status, or a finding when it hangs or crashes.
int run_pkgtree(std::vector<std::string> args) {
  args.insert(args.begin(), PKGTREE_PATH);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "ASAN_OPTIONS=", 13) != 0 && std::strncmp(*e, "UBSAN_OPTIONS=", 14) != 0) env.push_back(*e);
  static char asan[] = "ASAN_OPTIONS=exitcode=99:detect_leaks=0", ubsan[] = "UBSAN_OPTIONS=exitcode=99";
  env.push_back(asan);
  env.push_back(ubsan);
  env.push_back(nullptr);
  std::string log = g_root + "/log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    std::fprintf(stderr, "fuzz_tree: cannot start %s: %s\n", argv[0], std::strerror(rc));
    std::abort();
  }
  // 10 s, below libFuzzer's own timeout: a FIFO read or a walk without end.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      g_last_output = read_file(log);
      finding("pkgtree " + args[4] + " hung (killed after 10 s)");
    }
    usleep(1000);
  }
  g_last_output = read_file(log);
  if (WIFSIGNALED(status)) finding("pkgtree " + args[4] + " was killed by signal " + std::to_string(WTERMSIG(status)));
  if (WEXITSTATUS(status) > 1)  // 99: a sanitizer's report, in the output
    finding("pkgtree " + args[4] + " ended with status " + std::to_string(WEXITSTATUS(status)));
  return WEXITSTATUS(status);
}

// Builds the entries of one folder from the input, to a depth of six. Of
// every eight entries `hostile` are drawn from the whole pool and may be
// case twins, lose their ending, or be FIFOs and links that lead nowhere,
// back up or to another folder of the tree; the others are ordinary. src,
// pkg, own and out have names of one length, so a path is as long in the
// plain tree as in the packages.
void build(Input& in, const std::string& path, const std::string& outside, int depth, unsigned hostile) {
  unsigned count = depth >= 6 ? 0 : in.byte() % 6;
  std::string previous = "z";
  for (unsigned i = 0; i < count; ++i) {
    unsigned pick = in.byte();
    bool wild = in.byte() % 8 < hostile;
    std::string name = kPool[pick % (wild ? kPoolSize : kOrdinary)];
    unsigned how = in.byte() % 8;
    if (!wild && (how == 2 || how == 3)) how = 7;
    switch (how) {
      case 0: name += std::to_string(i); break;
      case 1: {
        // Up to NAME_MAX, or a path about a limit: the installer's 259
        // characters for the whole path, or what installs under
        // c:\program files\gcc below the root (238 for a file, 226 for a folder).
        std::size_t below = path.size() - g_src_length, limit = pick & 16 ? (pick & 32 ? 238 : 226) + below : 259 - path.size() - 1 + below;
        std::size_t room = limit + pick % 5 - 2 - below, length = (pick & 8) || room > 255 ? 1 + in.byte() % 255 : room;
        name = std::string(length < 1 ? 1 : length, static_cast<char>('k' + pick % 3));
        break;
      }
      case 2: name = previous; for (char& c : name) c = static_cast<char>(c ^ (std::isalpha(static_cast<unsigned char>(c)) ? 0x20 : 0)); break;
      case 3: name += pick & 1 ? "." : " "; break;
      default: break;
    }
    previous = name;
    std::string entry = path + "/" + name;
    unsigned kind = in.byte() % 10;
    if (!wild && kind >= 5 && kind <= 7) kind = 8;
    if (kind <= 2) {
      mkdir(entry.c_str(), 0755);
      g_folders.push_back(entry.substr(g_src_length + 1));
      build(in, entry, outside, depth + 1, hostile);
      continue;
    }
    switch (kind) {
      case 3: symlink((outside + "/file").c_str(), entry.c_str()); break;
      case 4: symlink((outside + "/folder").c_str(), entry.c_str()); break;
      case 5:  // a folder above it, or another of the tree, made once the tree stands
        if (pick & 2) g_later_links.push_back({entry, static_cast<std::size_t>(depth)});
        else symlink(depth > 0 && (pick & 1) ? ".." : ".", entry.c_str());
        break;
      case 6: symlink("nowhere", entry.c_str()); break;
      case 7: mkfifo(entry.c_str(), 0644); break;
      default: {
        std::string bytes;
        for (unsigned n = in.byte() % 64; n > 0; --n) bytes += static_cast<char>(in.byte());
        if (FILE* f = std::fopen(entry.c_str(), "wbx")) {
          std::fwrite(bytes.data(), 1, bytes.size(), f);
          std::fclose(f);
          if (kind == 9) chmod(entry.c_str(), 0444);
        }
      }
    }
  }
}

// Some stderr line names an entry of the tree (its end, for a long name).
bool names_an_entry(const std::string& output) {
  std::string text = output;
  for (std::size_t at; (at = text.find(tree_dir())) != std::string::npos;) text.erase(at, tree_dir().size());
  for (const auto& entry : g_plain_raw) {
    std::string raw = entry.first.substr(entry.first.rfind('/') + 1), shown = raw;
    for (char& c : shown)
      if (static_cast<unsigned char>(c) < 0x20) c = '?';
    for (const std::string& name : {raw, shown}) {
      if (name.empty()) continue;
      if (name.size() > 40 ? text.find(name.substr(name.size() - 40)) != std::string::npos
                           : text.find("/" + name) != std::string::npos || text.find("\"" + name) != std::string::npos)
        return true;
    }
  }
  return false;
}

// A link said to lead nowhere must be one whose target is missing: a loop
// or a folder that cannot be entered has a reason of its own.
void check_reasons() {
  const std::string prefix = "pkgtree: ", link = ": a link to ", nowhere = ", which leads nowhere";
  for (std::size_t at = 0, end; (end = g_last_output.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = g_last_output.substr(at, end - at);
    std::size_t cut = line.find(link);
    if (line.rfind(prefix, 0) != 0 || cut == std::string::npos || line.size() < nowhere.size() ||
        line.compare(line.size() - nowhere.size(), nowhere.size(), nowhere) != 0)
      continue;
    std::string path = line.substr(prefix.size(), cut - prefix.size());
    struct stat st;
    errno = 0;
    if (stat(path.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR))
      finding(path + " is said to lead nowhere, but stat " + (errno == 0 ? "finds it" : std::strerror(errno)));
  }
}

// Only the destination may differ from `before`; a refusal makes nothing,
// and a failed walk leaves only whole files of `expected`.
void judge(const std::string& verb, int status, const std::string& destination, const Listing& before,
           const Listing& expected, bool packed) {
  check_reasons();
  Listing after;
  list_raw(tree_dir(), "", &after);
  std::string prefix = "/" + destination;
  auto outside = [&](const std::string& rel) { return rel != prefix && rel.compare(0, prefix.size() + 1, prefix + "/") != 0; };
  for (const auto& e : before) {
    if (e.first.empty() || !outside(e.first)) continue;  // tree/ itself gains the destination
    if (after.count(e.first) == 0) finding(verb + " removed " + e.first);
    if (after[e.first] != e.second) finding(verb + " changed " + e.first + ": " + e.second + " -> " + after[e.first]);
  }
  for (const auto& e : after)
    if (outside(e.first) && before.count(e.first) == 0) finding(verb + " made " + e.first + " outside its destination");
  if (status == 1 && !names_an_entry(g_last_output)) finding(verb + " failed without naming an entry");
  Listing made;
  if (after.count(prefix) != 0 && !list_plain(tree_dir() + prefix, "", 0, &made)) finding(verb + " made a tree it cannot list");
  bool walk_failed = g_last_output.find("pkgtree: Path too long") != std::string::npos ||
                     g_last_output.find("pkgtree: Invalid name") != std::string::npos;
  if (status == 1 && !walk_failed && !made.empty()) finding(verb + " refused but made " + prefix);
  for (const auto& e : made) {
    auto want = expected.find(e.first);
    std::string got = e.second;
    if (packed && got.rfind("file ", 0) == 0) {  // a package file: its one bzip2 stream
      std::string plain(want == expected.end() ? 0 : want->second.size() + 1, '\0');
      unsigned length = static_cast<unsigned>(plain.size());
      int rc = BZ2_bzBuffToBuffDecompress(plain.data(), &length, got.data() + 5, static_cast<unsigned>(got.size() - 5), 0, 0);
      got = rc == BZ_OK ? "file " + plain.substr(0, length) : "file (not one bzip2 stream)";
    }
    if (want == expected.end() || want->second != got) finding(verb + " made \"" + e.first + "\" not as in the plain tree");
  }
  if (status == 0 && made.size() != expected.size()) finding(verb + " succeeded but left out entries of the plain tree");
}

// A package made by hand (stock bzip2 of each plain file, every name kept):
// the installer's walk must refuse what it cannot install.
void pack_by_hand(const std::string& plain, const std::string& package, Listing* expected, const std::string& rel) {
  struct stat st;
  if (lstat((plain + rel).c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return;
  if (S_ISREG(st.st_mode)) {
    std::string bytes = read_file(plain + rel);
    std::string packed(bytes.size() + bytes.size() / 100 + 700, '\0');
    unsigned length = static_cast<unsigned>(packed.size());
    BZ2_bzBuffToBuffCompress(packed.data(), &length, bytes.data(), static_cast<unsigned>(bytes.size()), 9, 0, 0);
    if (FILE* f = std::fopen((package + rel).c_str(), "wb")) {
      std::fwrite(packed.data(), 1, length, f);
      std::fclose(f);
    }
    (*expected)[rel] = "file " + bytes;
  } else if (S_ISDIR(st.st_mode)) {
    mkdir((package + rel).c_str(), 0755);
    (*expected)[rel] = "folder";
    for (const std::string& name : names_in(plain + rel)) pack_by_hand(plain, package, expected, rel + "/" + name);
  }
}

// Each later link leads, relative to its own folder, to a folder of the
// tree that the input picks.
void make_later_links(Input& in) {
  for (const LaterLink& link : g_later_links) {
    std::string target;
    for (std::size_t up = 0; up < link.depth; ++up) target += target.empty() ? ".." : "/..";
    const std::string& folder = g_folders[in.byte() % g_folders.size()];
    if (!folder.empty()) target += (target.empty() ? "" : "/") + folder;
    symlink(target.empty() ? "." : target.c_str(), link.entry.c_str());
  }
}

// Links planted where the walk will write: an entry of the tree to install
// may stand in the destination beforehand as a link out of it (to a folder,
// a file, or nowhere) or as a hard link to a file outside. The walk must
// stop at the first it meets, naming an entry, and change nothing outside
// the destination; the planted links stay as they were.
void expand_over_planted_links(Input& in, const std::string& package, const Listing& expected, unsigned jobs) {
  std::string t = tree_dir(), dst = t + "/dst";
  mkdir(dst.c_str(), 0755);
  std::vector<std::string> planted;
  auto below_planted = [&](const std::string& rel) {
    for (const std::string& p : planted)
      if (rel.compare(0, p.size() + 1, p + "/") == 0) return true;
    return false;
  };
  for (const auto& [rel, what] : expected) {  // a folder before what it holds
    if (rel.empty() || below_planted(rel)) continue;
    std::string path = dst + rel;
    bool folder = what == "folder";
    unsigned pick = in.byte() % 8;
    if (pick == 0) symlink((t + (folder ? "/outside/folder" : "/outside/file")).c_str(), path.c_str());
    else if (pick == 1) symlink((t + "/outside/none").c_str(), path.c_str());
    else if (pick == 2 && !folder) link((t + "/outside/file").c_str(), path.c_str());
    if (pick <= 2 && (pick < 2 || !folder)) planted.push_back(rel);
    else if (folder) mkdir(path.c_str(), 0755);
  }
  Listing before, after;
  list_raw(t, "", &before);
  int status = run_pkgtree({"-q", "-j", std::to_string(jobs), "expand", t + "/" + package, dst});
  list_raw(t, "", &after);
  check_reasons();
  for (const auto& e : before) {
    bool inside = e.first.compare(0, 5, "/dst/") == 0;
    if (e.first.empty() || e.first == "/dst" || (inside && e.second.rfind("link ", 0) != 0)) continue;
    if (after[e.first] != e.second) finding("expand over planted links changed " + e.first + ": " + e.second + " -> " + after[e.first]);
  }
  for (const auto& e : after)
    if (e.first.compare(0, 4, "/dst") != 0 && before.count(e.first) == 0)
      finding("expand over planted links made " + e.first + " outside its destination");
  if (!planted.empty() && status != 1) finding("expand wrote over the planted link at " + planted.front());
  if (status == 1 && !names_an_entry(g_last_output)) finding("expand over planted links failed without naming an entry");
}

void clean_up() { remove_tree(g_root); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (g_root.empty()) {
    char folder[] = "/tmp/fuzz-tree-XXXXXX";
    if (mkdtemp(folder) == nullptr) std::abort();
    g_root = folder;
    std::atexit(clean_up);
  }
  std::string t = tree_dir();
  remove_tree(t);
  mkdir(t.c_str(), 0755);
  mkdir((t + "/outside").c_str(), 0755);
  mkdir((t + "/outside/folder").c_str(), 0755);
  if (FILE* f = std::fopen((t + "/outside/file").c_str(), "wb")) {
    std::fputs("outside\n", f);
    std::fclose(f);
  }
  if (FILE* f = std::fopen((t + "/outside/folder/inner").c_str(), "wb")) std::fclose(f);
  mkdir((t + "/src").c_str(), 0755);
  Input in{data, size};
  unsigned jobs = 1 + in.byte() % 3, hostile = in.byte() % 5;
  g_src_length = (t + "/src").size();
  g_folders.assign(1, std::string());
  g_later_links.clear();
  build(in, t + "/src", t + "/outside", 0, hostile);
  make_later_links(in);
  g_plain_raw.clear();
  list_raw(t + "/src", "", &g_plain_raw);

  Listing before, plain;
  list_raw(t, "", &before);
  bool plain_listable = list_plain(t + "/src", "", 0, &plain);
  int status = run_pkgtree({"-q", "-j", std::to_string(jobs), "compress", t + "/src", t + "/pkg"});
  if (status == 0 && !plain_listable) finding("compress packed a tree with a link that leads nowhere or back up");
  judge("compress", status, "pkg", before, plain, true);
  std::string package = "pkg";
  Listing expected = plain;
  if (status != 0) {
    // What compress refused, packed by hand, goes to the installer's walk.
    remove_tree(t + "/pkg");
    expected.clear();
    pack_by_hand(t + "/src", t + "/own", &expected, "");
    package = "own";
  }
  list_raw(t, "", &before);
  status = run_pkgtree({"-q", "-j", "1", "expand", t + "/" + package, t + "/out"});
  judge("expand", status, "out", before, expected, false);
  expand_over_planted_links(in, package, expected, jobs);
  return 0;
}
