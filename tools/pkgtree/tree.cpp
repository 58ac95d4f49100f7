// compress, expand and copy on every core. The engine walks the tree as the
// installer does and makes its folders (empty ones too); the files it
// reports are then handed, largest first, to worker threads that run the
// installer's own per-file action. With one job the walk's thread writes
// each file as it is reported, as the installer's walk does.
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#else
#include "platform/win32/pkgtree_win32.h"
#endif

#include "common/text.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "pkgtree.h"
#include "progress.h"

namespace {

// A copy mode outside the three makes the engine walk the tree, make its
// folders and report each file without writing it.
constexpr int32_t kWalkOnly = 3;

// The engine walks two short roots that stand for the maker's folders, so
// that its own 259-character check counts the paths below them, as the
// installer meets them, and never where the maker keeps the trees. The
// ports below put the real folders back before anything is opened. No
// entry name holds a control character (the walk refuses one first), so
// these roots cannot be mistaken for anything the walk met.
const char kSourceRoot[] = "\x01" "S";
const char kDestinationRoot[] = "\x01" "D";
// The engine's paths of the folders they stand for; set before the walk.
std::string g_source_folder, g_destination_folder;

bool under_root(const std::string& path, const char* root) {
  std::size_t n = std::strlen(root);
  return path.compare(0, n, root) == 0 && (path.size() == n || path[n] == '\\');
}

// A path as the maker gave it, from one the engine built.
std::string on_disk(const std::string& path) {
  if (path.empty() || path[0] != '\x01') return path;
  if (under_root(path, kSourceRoot)) return g_source_folder + path.substr(std::strlen(kSourceRoot));
  if (under_root(path, kDestinationRoot)) return g_destination_folder + path.substr(std::strlen(kDestinationRoot));
  return path;
}

// A message of the engine's with the maker's folders in place of the roots.
std::string with_folders(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text.compare(at, std::strlen(kSourceRoot), kSourceRoot) == 0) out += g_source_folder;
    else if (text.compare(at, std::strlen(kDestinationRoot), kDestinationRoot) == 0) out += g_destination_folder;
    else {
      out += text[at];
      continue;
    }
    at += std::strlen(kSourceRoot) - 1;
  }
  return out;
}

// The platform's ports, given the maker's paths.
class OnDisk : public DirectoryLister, public DirectoryMaker, public FileCopier, public StreamOpener {
 public:
  EnginePorts real;
  SearchHandle find_first(const char* pattern, FindRecord* record) override {
    return real.lister->find_first(on_disk(pattern).c_str(), record);
  }
  bool find_next(SearchHandle search, FindRecord* record) override { return real.lister->find_next(search, record); }
  void find_close(SearchHandle search) override { real.lister->find_close(search); }
  bool make_directory(const char* path) override { return real.maker->make_directory(on_disk(path).c_str()); }
  FileHandle open_source(const char* path) override { return real.copier->open_source(on_disk(path).c_str()); }
  FileHandle create_destination(const char* path) override {
    return real.copier->create_destination(on_disk(path).c_str());
  }
  bool read_information(FileHandle file, FileInformation* info) override {
    return real.copier->read_information(file, info);
  }
  bool read(FileHandle file, void* block, uint32_t size, uint32_t* count) override {
    return real.copier->read(file, block, size, count);
  }
  bool write(FileHandle file, const void* block, uint32_t size, uint32_t* count) override {
    return real.copier->write(file, block, size, count);
  }
  void set_attributes(const char* path, uint32_t attributes) override {
    real.copier->set_attributes(on_disk(path).c_str(), attributes);
  }
  void set_times(FileHandle file, const FileInformation& times) override { real.copier->set_times(file, times); }
  void close(FileHandle file) override { real.copier->close(file); }
  std::FILE* open_plain(const char* path, const char* mode) override {
    return real.streams->open_plain(on_disk(path).c_str(), mode);
  }
  void* open_compressed(const char* path, const char* mode) override {
    return real.streams->open_compressed(on_disk(path).c_str(), mode);
  }
  bool remove_file(const char* path) override { return real.streams->remove_file(on_disk(path).c_str()); }
};

struct Job {
  std::string source, destination;
  uint64_t size = 0;
  Entry before;  // the destination as it was before the action
};

// One run's shared state. The failure path reads it from any thread.
struct Run {
  CopyMode mode = CopyMode::Copy;
  Options options;
  std::string source_root, destination_root;
  Progress* progress = nullptr;

  // -j N: every file of the walk, the order they are handed out in, and
  // which are done.
  std::vector<Job> jobs;
  std::vector<std::size_t> order;
  std::vector<char> done;
  std::size_t next = 0, printed = 0, finished = 0;

  std::mutex mutex;
  std::condition_variable changed;
  bool stopping = false;
  int busy = 0;                  // workers inside an action and not failed
  std::string failure;           // the first message
  std::vector<Job> failed_jobs;  // their destinations may hold half a file
};

Run g_run;
// The file this thread is writing, for the failure path.
thread_local Job* t_current = nullptr;
thread_local bool t_worker = false;

// SIGINT, SIGTERM or SIGHUP: no file is started after it, and the files under way
// when it came are removed once their action is done.
std::atomic<int> g_signal{0};
std::atomic<std::size_t> g_written{0}, g_removed{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

extern "C" void on_signal(int signal_number) { g_signal.store(signal_number); }

#ifdef _WIN32
// Ctrl-C and Ctrl-Break are Windows' SIGINT: the same stop, status 130.
std::atomic<bool> g_ctrl_break{false};

void on_console_interrupt(bool ctrl_break) {
  g_ctrl_break.store(ctrl_break);
  g_signal.store(SIGINT);
}
#endif

// What stopped the run, as the user gave it.
const char* stop_cause(int signal_number) {
#ifdef _WIN32
  (void)signal_number;
  return g_ctrl_break.load() ? "Ctrl-Break" : "Ctrl-C";
#else
  // SIGHUP exists only where the guard catches it.
  return signal_number == SIGINT ? "SIGINT" : signal_number == SIGTERM ? "SIGTERM" : "SIGHUP";
#endif
}

// After a signal the engine's walk sees no further entry, and a folder it
// enters holds nothing: it returns through its own levels, closing each
// search, and makes nothing more.
class StopAtSignal : public DirectoryLister {
 public:
  DirectoryLister* real = nullptr;
  SearchHandle find_first(const char* pattern, FindRecord* record) override {
    std::size_t n = std::strlen(pattern);
    if (g_signal.load() == 0 || n < 2 || std::strcmp(pattern + n - 2, "\\*") != 0)
      return real->find_first(pattern, record);
    std::strcpy(record->name, ".");
    record->attributes = kAttributeDirectory;
    return &nothing_;
  }
  bool find_next(SearchHandle search, FindRecord* record) override {
    return search != &nothing_ && g_signal.load() == 0 && real->find_next(search, record);
  }
  void find_close(SearchHandle search) override {
    if (search != &nothing_) real->find_close(search);
  }

 private:
  char nothing_ = 0;
};

bool same_entry(const Entry& a, const Entry& b) {
  return a.exists == b.exists && a.size == b.size && a.change_stamp == b.change_stamp &&
         a.identity == b.identity;
}

// A destination the failed action changed holds part of a file at best; one
// it never touched (a read-only file it could not open) is left as it was.
void remove_if_changed(const Job& job) {
  std::string destination = on_disk(job.destination);
  Entry now = look_up(destination.c_str());
  if (!now.exists || now.folder || same_entry(now, job.before)) return;
  std::remove(shown_path(destination.c_str()).c_str());
}

bool names(const std::string& text, const std::string& path) {
  // A long message keeps the end of its path; the last characters say it.
  std::size_t tail = path.size() < 40 ? path.size() : 40;
  return !path.empty() && text.find(path.substr(path.size() - tail)) != std::string::npos;
}

// The engine's paths in a message, as the platform writes them. A quoted
// part is an entry's own name (a refused one may hold "\"), kept as it is.
std::string shown_message(const char* engine_text) {
  std::string whole = with_folders(engine_text);
  const char* text = whole.c_str();
  const char* quote = std::strchr(text, '"');
  if (quote == nullptr) return shown_path(text);
  return shown_path(std::string(text, quote).c_str()) + quote;
}

// Why the engine refused `path` (the maker's) when it is a link: where it
// leads, on one line; empty when it is none.
std::string link_refused(const std::string& path) {
  std::string shown = shown_path(path.c_str());
#ifdef _WIN32
  LinkLook look = look_at_entry(path);
  if (!look.exists || !look.link) return std::string();
  std::string target = look.target;
#else
  struct stat st;
  if (lstat(shown.c_str(), &st) != 0) return std::string();
  if (S_ISREG(st.st_mode) && st.st_nlink > 1)
    return "pkgtree: " + shown + ": a file with another name elsewhere (a hard link): below the destination "
           "nothing is written through a link";
  if (!S_ISLNK(st.st_mode)) return std::string();
  std::vector<char> text(4096);
  ssize_t n = readlink(shown.c_str(), text.data(), text.size() - 1);
  std::string target = n < 0 ? std::string("?") : std::string(text.data(), static_cast<std::size_t>(n));
#endif
  return "pkgtree: " + shown + ": a link to " + target + ": below the destination no link is followed";
}

// "pkgtree: TEXT", with the caption only where it is more than "Error" (a
// path, for a folder that cannot be made) and the file named when the
// installer's text does not name it. A link refused is named with where it
// leads instead.
std::string compose_failure(const char* text, const char* caption, const Job* job) {
  std::string refused_link;
  if (std::strcmp(caption, "Error") != 0) refused_link = link_refused(on_disk(caption));
  else if (job != nullptr && std::strstr(text, "destination") != nullptr) refused_link = link_refused(on_disk(job->destination));
  if (!refused_link.empty()) return refused_link;
  std::string message = "pkgtree: ";
  if (std::strcmp(caption, "Error") != 0) message += shown_path(with_folders(caption).c_str()) + ": ";
  std::string shown = shown_message(text);
  if (job != nullptr) {
    std::string source = shown_path(on_disk(job->source).c_str());
    std::string destination = shown_path(on_disk(job->destination).c_str());
    bool about_destination = std::strstr(text, "destination") != nullptr;
    if (!names(shown, source) && !names(shown, destination)) message += (about_destination ? destination : source) + ": ";
  }
  return message + shown;
}

// On the main thread: no new file is started, the files under way are
// finished whole, the failed ones are removed, then the message, status 1.
[[noreturn]] void end_after_failure() {
  Run& run = g_run;
  std::unique_lock<std::mutex> lock(run.mutex);
  run.stopping = true;
  run.changed.notify_all();
  run.changed.wait(lock, [&] { return run.busy == 0; });
  for (const Job& job : run.failed_jobs) remove_if_changed(job);
  std::string failure = run.failure;
  lock.unlock();
  if (run.progress != nullptr) run.progress->finish(false);
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", failure.c_str());
  std::fflush(stderr);
  // Failed workers wait inside the engine, which they must not re-enter:
  // the process ends without running destructors under their feet.
  std::_Exit(1);
}

// The engine's failures end here. A worker records its failure and waits
// for the end; the main thread ends the run.
class StopTheRun : public FatalReporter {
 public:
  void fail(const char* text, const char* caption) override {
    Run& run = g_run;
    std::unique_lock<std::mutex> lock(run.mutex);
    if (run.failure.empty()) run.failure = compose_failure(text, caption, t_current);
    if (t_current != nullptr) run.failed_jobs.push_back(*t_current);
    run.stopping = true;
    if (!t_worker) {
      lock.unlock();
      end_after_failure();
    }
    --run.busy;
    run.changed.notify_all();
    for (;;) run.changed.wait(lock);
  }
};

// The walk reports destinations; the source is the same path under the
// source root.
Job job_of(const char* destination_path) {
  Job job;
  job.destination = destination_path;
  job.source = g_run.source_root + (destination_path + g_run.destination_root.size());
  if (g_run.progress->shown() || g_run.options.jobs > 1) job.size = look_up(on_disk(job.source).c_str()).size;
  return job;
}

// expand empties the destination before it opens the source: an existing
// file is kept until the source is known to open. The message is the
// engine's own.
void open_source_first(const Job& job) {
  if (g_run.mode != CopyMode::Expand || !job.before.exists) return;
  std::string path = on_disk(job.source);
  std::FILE* source = std::fopen(shown_path(path.c_str()).c_str(), "rb");
  if (source != nullptr) {
    std::fclose(source);
    return;
  }
  char reason[128];
  join_text(reason, sizeof reason, ": ", std::strerror(errno));
  char message[256];
  compose_message(message, sizeof message, "Open source file ", path.c_str(), reason);
  engine_ports().fatal->fail(message, "Error");
}

// The installer's own action on one file, known to the failure path.
void write_file(Job& job) {
  job.before = look_up(on_disk(job.destination).c_str());
  t_current = &job;
  open_source_first(job);
  install_file(job.source.c_str(), job.destination.c_str(), static_cast<int32_t>(g_run.mode), 0);
  t_current = nullptr;
  if (g_signal.load() != 0) {
    remove_if_changed(job);
    ++g_removed;
  } else {
    ++g_written;
  }
  g_run.progress->add(1, job.size);
}

void print_destination(const char* destination_path) {
  std::string shown = shown_path(on_disk(destination_path).c_str());
  g_run.progress->print_line(shown.c_str());
}

// -j 1: each file is written as the walk reports it, on the walk's own
// thread, in the order and with the steps of the installer's walk.
class OneThread : public WizardLink {
 public:
  void set_current_file(const char* path) override {
    if (g_signal.load() != 0) return;
    Job job = job_of(path);
    if (g_run.options.verbose) print_destination(path);
    write_file(job);
  }
  void send_command(WindowHandle, int32_t) override {}
};

// -j N: the engine's walk lists the files (and makes the folders) first.
class Collect : public WizardLink {
 public:
  void set_current_file(const char* path) override {
    if (g_signal.load() == 0) g_run.jobs.push_back(job_of(path));
  }
  void send_command(WindowHandle, int32_t) override {}
};

// Largest first, so that no large file is left to one core at the end.
void plan_order() {
  Run& run = g_run;
  run.order.resize(run.jobs.size());
  for (std::size_t i = 0; i < run.order.size(); ++i) run.order[i] = i;
  std::stable_sort(run.order.begin(), run.order.end(),
                   [&](std::size_t a, std::size_t b) { return run.jobs[a].size > run.jobs[b].size; });
  run.done.assign(run.jobs.size(), 0);
}

void work() {
  t_worker = true;
  Run& run = g_run;
  std::unique_lock<std::mutex> lock(run.mutex);
  while (!run.stopping && g_signal.load() == 0 && run.next < run.order.size()) {
    std::size_t index = run.order[run.next++];
    ++run.busy;
    lock.unlock();
    write_file(run.jobs[index]);
    lock.lock();
    --run.busy;
    ++run.finished;
    run.done[index] = 1;
    // A file's line comes when it and all before it in the walk are done:
    // the lines of -j 1, in its order.
    for (; run.printed < run.done.size() && run.done[run.printed]; ++run.printed)
      if (run.options.verbose) print_destination(run.jobs[run.printed].destination.c_str());
    run.changed.notify_all();
  }
  if (g_signal.load() != 0) run.stopping = true;
  run.changed.notify_all();
}

void clear_run(Run& run) {
  run.jobs.clear();
  run.order.clear();
  run.done.clear();
  run.next = run.printed = run.finished = 0;
  run.stopping = false;
  run.busy = 0;
  run.failure.clear();
  run.failed_jobs.clear();
}

// What a signal left: one line, and 128 + its number.
int end_after_signal(const std::string& destination, std::size_t files) {
  int signal_number = g_signal.load();
  std::size_t removed = g_removed.load();
  std::fflush(stdout);
  std::fprintf(stderr, "pkgtree: stopped by %s: %s holds %zu of the %zu files, each whole; %zu under way %s removed\n",
               stop_cause(signal_number), shown_path(destination.c_str()).c_str(),
               g_written.load(), files, removed, removed == 1 ? "was" : "were");
  std::fflush(stderr);
  return 128 + signal_number;
}

}  // namespace

bool sound_tree(CopyMode mode, const char* source, const char* destination, const Options& options,
                std::size_t* files) {
  Entry root = look_up(source);
  if (!root.exists || !root.folder) {
    std::fprintf(stderr, "pkgtree: %s: %s\n", shown_path(source).c_str(),
                 root.exists ? "not a folder" : "Source directory does not exist.");
    return false;
  }
  AuditRules rules;
  rules.windows_names = mode == CopyMode::Compress;
  if (mode == CopyMode::Compress) {
    std::vector<char> folder(options.install_folder.begin(), options.install_folder.end());
    folder.push_back('\0');
    drop_trailing_backslash(folder.data());  // as the installer takes it
    rules.install_folder = folder.data();
  }
  rules.keep_out = resolved_path(destination);
  std::string real_source = resolved_path(source);
  if (paths_overlap(real_source, rules.keep_out)) {
    const char* how = same_name(real_source, rules.keep_out) ? "are the same folder"
                      : rules.keep_out.size() > real_source.size() ? "overlap: the destination lies inside the source"
                                                                   : "overlap: the source lies inside the destination";
    std::fprintf(stderr, "pkgtree: %s and %s %s\n", shown_path(source).c_str(), shown_path(destination).c_str(), how);
    return false;
  }
  std::vector<Finding> findings;
  *files = audit_tree(source, rules, &findings);
  bool sound = true;
  for (const Finding& f : findings) {
    std::fprintf(stderr, "pkgtree: %s%s: %s\n", f.warning ? "warning: " : "", f.path.c_str(), f.what.c_str());
    sound = sound && f.warning;
  }
  return sound;
}

namespace {

#ifndef _WIN32
struct SignalGuard {
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction old[3] {};
  SignalGuard() {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &old[i]);
  }
  ~SignalGuard() {
    for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &old[i], nullptr);
  }
};
#else
struct SignalGuard {
  SignalGuard() { catch_console_interrupts(on_console_interrupt); }
  ~SignalGuard() { release_console_interrupts(); }
};
#endif

}  // namespace

int run_interrupted() { return g_signal.load(); }

bool operand_given(const char* role, const char* text) {
  if (*text != '\0') return true;
  std::fprintf(stderr, "pkgtree: the %s is empty: it names no folder\n", role);
  return false;
}

int report_written(int status) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  std::fprintf(stderr, "pkgtree: the report could not be written to standard output: %s\n",
               std::strerror(errno != 0 ? errno : EIO));
  return status != 0 ? status : 1;
}

void guard_standard_streams() {
#ifndef _WIN32
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      int held = open("/dev/null", O_RDONLY);
      if (held >= 0 && held != fd) {
        dup2(held, fd);
        close(held);
      }
    }
#endif
}

std::string shown_path(const char* engine_path) {
  std::string out(std::strlen(engine_path) + 1, '\0');
  if (!native_path(engine_path, out.data(), out.size())) return engine_path;
  out.resize(std::strlen(out.c_str()));
  return out;
}

Entry look_up(const char* path) {
  Entry entry;
  struct stat st;
  if (stat(shown_path(path).c_str(), &st) != 0) return entry;
  entry.exists = true;
  entry.folder = S_ISDIR(st.st_mode);
  entry.size = static_cast<uint64_t>(st.st_size);
#ifdef _WIN32
  entry.change_stamp = static_cast<uint64_t>(st.st_mtime);
#else
  entry.change_stamp = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000ULL +
                       static_cast<uint64_t>(st.st_mtim.tv_nsec);
  entry.identity = static_cast<uint64_t>(st.st_ino);
#endif
  return entry;
}

namespace {

void list_folder(const std::string& root, const std::string& relative, TreeListing* listing,
                 bool with_sizes) {
  DirectoryLister& lister = *engine_ports().lister;
  std::string folder = relative.empty() ? root : root + "\\" + relative;
  std::string pattern = folder + "\\*";
  FindRecord record;
  SearchHandle search = lister.find_first(pattern.c_str(), &record);
  if (search == nullptr) return;
  do {
    if (std::strcmp(record.name, ".") == 0 || std::strcmp(record.name, "..") == 0) continue;
    std::string path = relative.empty() ? std::string(record.name) : relative + "\\" + record.name;
    if ((record.attributes & kAttributeDirectory) != 0) {
      listing->order.push_back({true, listing->folders.size()});
      listing->folders.push_back(path);
      list_folder(root, path, listing, with_sizes);
    } else {
      listing->order.push_back({false, listing->files.size()});
      listing->files.push_back(path);
      if (with_sizes) listing->bytes += look_up((root + "\\" + path).c_str()).size;
    }
  } while (lister.find_next(search, &record));
  lister.find_close(search);
}

}  // namespace

bool list_tree(const char* root, TreeListing* listing, bool with_sizes) {
  Entry entry = look_up(root);
  if (!entry.exists || !entry.folder) return false;
  list_folder(root, "", listing, with_sizes);
  return true;
}

int run_tree(CopyMode mode, const char* source, const char* destination, const Options& options) {
  static StopTheRun fatal;
  static OneThread one_thread;
  static Collect collect;
  static StopAtSignal lister;
  static OnDisk on_disk_ports;
  guard_standard_streams();
  if (!operand_given("SOURCE", source) || !operand_given("DESTINATION", destination)) return 2;
  EnginePorts ports = platform_engine_ports();
  on_disk_ports.real = ports;
  ports.maker = &on_disk_ports;
  ports.copier = &on_disk_ports;
  ports.streams = &on_disk_ports;
  lister.real = &on_disk_ports;
  ports.lister = &lister;
  ports.fatal = &fatal;
  ports.wizard = options.jobs <= 1 ? static_cast<WizardLink*>(&one_thread) : &collect;
  engine_ports() = ports;
  g_signal.store(0);
  g_written.store(0);
  g_removed.store(0);
  SignalGuard signals;
  (void)signals;
  std::size_t files = 0;
  bool sound = sound_tree(mode, source, destination, options, &files);
  // Stopped before the walk made anything, the destination included.
  if (g_signal.load() != 0) return end_after_signal(destination, files);
  if (!sound) return 1;

  Run& run = g_run;
  clear_run(run);
  run.mode = mode;
  run.options = options;
  // The package side of the walk counts from its root: the source of every
  // verb (as the installer's ".\\source"), and what compress makes. expand
  // and copy write where the installer writes, so there the whole
  // destination counts, as it will for the installer.
  g_source_folder = source;
  g_destination_folder = destination;
  const char* engine_source = kSourceRoot;
  const char* engine_destination = mode == CopyMode::Compress ? kDestinationRoot : destination;
  run.source_root = engine_source;
  run.destination_root = engine_destination;
  Progress progress(!options.quiet);
  run.progress = &progress;

  if (options.jobs <= 1) {
    if (progress.shown()) {
      TreeListing totals;
      list_tree(source, &totals, true);
      progress.start(totals.files.size(), totals.bytes);
    }
    install_tree(engine_source, engine_destination, kWalkOnly, 1);
  } else {
    install_tree(engine_source, engine_destination, kWalkOnly, 1);
    plan_order();
    uint64_t bytes = 0;
    for (const Job& job : run.jobs) bytes += job.size;
    progress.start(run.jobs.size(), bytes);
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < options.jobs && i < run.jobs.size() && g_signal.load() == 0; ++i)
      workers.emplace_back(work);
    std::unique_lock<std::mutex> lock(run.mutex);
    run.changed.wait(lock, [&] {
      return run.stopping || run.finished == run.jobs.size() || (workers.empty() && g_signal.load() != 0);
    });
    // A signal stops the workers between files; a failure ends the run.
    run.changed.wait(lock, [&] { return run.busy == 0; });
    if (!run.failure.empty()) {
      lock.unlock();
      end_after_failure();
    }
    lock.unlock();
    for (std::thread& worker : workers) worker.join();
  }
  bool stopped = g_signal.load() != 0;
  progress.finish(!stopped);
  run.progress = nullptr;
  if (stopped) return end_after_signal(destination, files);
  return report_written(0);
}
