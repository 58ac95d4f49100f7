// Native stand-ins of the uninstaller's calls: the folder opened once with
// O_NOFOLLOW, every later step taken relative to it (openat, unlinkat), one
// component at a time, so that a link is never followed; a running
// program's file can be removed here, so no copy of it is ever needed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/uninstall_platform.h"

namespace {

constexpr std::size_t kNativePath = 4096;

// An open file: the folder it lies in and its name there, so that it can
// be removed once that name is known to be the very file that was checked.
struct OpenFile {
  int fd = -1, parent = -1;
  std::string name;
  struct stat st {};
};

OpenFile* open_of(FileHandle file) { return static_cast<OpenFile*>(file); }

bool plain_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool same_file(const struct stat& a, const struct stat& b) { return a.st_ino == b.st_ino && a.st_dev == b.st_dev; }

class PosixRemovalFiles : public RemovalFiles {
 public:
  FolderCheck open_folder(const char* path) override {
    FolderCheck check;
    if (root_ >= 0) ::close(root_);
    root_ = -1;
    char native[kNativePath];
    struct stat st;
    if (!native_path(path, native, sizeof native)) {
      check.why = "cannot be named here";
    } else if (lstat(native, &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR)
        check.outcome = FolderCheck::Missing;
      else
        check.why = "cannot be looked at";
    } else {
      check.why = refusal(native, st);
      if (check.why.empty()) {
        root_ = open(native, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat opened;
        if (root_ >= 0 && fstat(root_, &opened) == 0 && same_file(opened, st)) {
          root_path_ = native;
          check.outcome = FolderCheck::Opened;
        } else {
          check.why = "changed while it was opened";
        }
      }
    }
    return check;
  }
  EntryKind look_up(const char* relative, uint64_t* size) override {
    std::string name;
    int parent = open_parent(relative, &name);
    if (parent == kMissing) return EntryKind::Missing;
    if (parent == kRefused) return EntryKind::Other;
    struct stat st;
    int got = fstatat(at(parent), name.c_str(), &st, AT_SYMLINK_NOFOLLOW);
    int error = errno;
    close_parent(parent);
    if (got != 0) return error == ENOENT || error == ENOTDIR ? EntryKind::Missing : EntryKind::Other;
    if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
    if (!S_ISREG(st.st_mode)) return EntryKind::Other;
    *size = static_cast<uint64_t>(st.st_size);
    return EntryKind::File;
  }
  FileHandle open_file(const char* relative, bool, uint64_t* size) override {
    auto* file = new OpenFile;
    file->parent = open_parent(relative, &file->name);
    if (file->parent != kMissing && file->parent != kRefused)
      file->fd = openat(at(file->parent), file->name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file->fd < 0 || fstat(file->fd, &file->st) != 0 || !S_ISREG(file->st.st_mode)) {
      close(file);
      return nullptr;
    }
    *size = static_cast<uint64_t>(file->st.st_size);
    return file;
  }
  bool read(FileHandle file, void* block, uint32_t size, uint32_t* count) override {
    ssize_t n;
    do {
      n = ::read(open_of(file)->fd, block, size);
    } while (n < 0 && errno == EINTR);
    *count = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n >= 0;
  }
  void close(FileHandle handle) override {
    OpenFile* file = open_of(handle);
    if (file->fd >= 0) ::close(file->fd);
    close_parent(file->parent);
    delete file;
  }
  // By its name in its folder, once that name still is the file opened.
  bool remove_opened(FileHandle handle) override {
    OpenFile* file = open_of(handle);
    struct stat now;
    return fstatat(at(file->parent), file->name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && same_file(now, file->st) &&
           unlinkat(at(file->parent), file->name.c_str(), 0) == 0;
  }
  bool remove_folder(const char* relative) override {
    if (*relative == '\0') {
      // The folder itself, by its path, once that still names the folder opened.
      struct stat was, now;
      return root_ >= 0 && fstat(root_, &was) == 0 && lstat(root_path_.c_str(), &now) == 0 && S_ISDIR(now.st_mode) &&
             same_file(now, was) && rmdir(root_path_.c_str()) == 0;
    }
    std::string name;
    int parent = open_parent(relative, &name);
    if (parent == kMissing || parent == kRefused) return false;
    bool ok = unlinkat(at(parent), name.c_str(), AT_REMOVEDIR) == 0;
    close_parent(parent);
    return ok;
  }
  bool replace_file(const char* relative, const char* data, std::size_t size) override {
    std::string name;
    int parent = open_parent(relative, &name);
    if (parent == kMissing || parent == kRefused) return false;
    std::string temporary = name + ".new";
    int fd = create_new(at(parent), temporary);
    bool ok = fd >= 0;
    for (std::size_t done = 0; ok && done < size;) {
      ssize_t n = write(fd, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) done += static_cast<std::size_t>(n);
    }
    if (fd >= 0) {
      ok = fsync(fd) == 0 && ok;
      ok = ::close(fd) == 0 && ok;
      ok = ok && renameat(at(parent), temporary.c_str(), at(parent), name.c_str()) == 0;
      if (!ok) unlinkat(at(parent), temporary.c_str(), 0);
    }
    close_parent(parent);
    return ok;
  }

 private:
  static constexpr int kRoot = -2, kMissing = -3, kRefused = -4;

  // Why the folder found at `native` is not the one to work in: a link, not
  // a folder, or one whose real path is another; "" when it is.
  static std::string refusal(const char* native, const struct stat& st) {
    char real[PATH_MAX];
    bool resolved = realpath(native, real) != nullptr;
    if (S_ISLNK(st.st_mode)) return resolved ? "is a link to " + std::string(real) : "is a link";
    if (!S_ISDIR(st.st_mode)) return "is not a folder";
    std::string absolute = native;
    char here[PATH_MAX];
    if (absolute[0] != '/') absolute = std::string(getcwd(here, sizeof here) != nullptr ? here : "") + "/" + absolute;
    while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    if (!resolved) return "cannot be looked at";
    return absolute == real ? "" : "leads to " + std::string(real);
  }

  int at(int parent) const { return parent == kRoot ? root_ : parent; }

  // The folder holding the last component of `relative`, each folder on the
  // way opened without following a link: kRoot for the opened folder itself,
  // kMissing when one is not there, kRefused when one is no real folder.
  int open_parent(const char* relative, std::string* last) {
    if (root_ < 0) return kRefused;
    std::vector<std::string> parts;
    std::string path = relative;
    for (std::size_t from = 0;;) {
      std::size_t cut = path.find('\\', from);
      parts.push_back(path.substr(from, cut == std::string::npos ? std::string::npos : cut - from));
      if (cut == std::string::npos) break;
      from = cut + 1;
    }
    for (const std::string& part : parts)
      if (!plain_name(part)) return kRefused;
    int folder = kRoot;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      int next = openat(at(folder), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      int error = errno;
      close_parent(folder);
      if (next < 0) return error == ENOENT ? kMissing : kRefused;
      folder = next;
    }
    *last = parts.back();
    return folder;
  }
  static void close_parent(int folder) {
    if (folder >= 0) ::close(folder);
  }
  // A new file, never one that is there: a leftover plain file of that name
  // is removed first; anything else there (a link, a folder) is refused.
  static int create_new(int folder, const std::string& name) {
    for (int attempt = 0; attempt < 2; ++attempt) {
      int fd = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
      if (fd >= 0 || errno != EEXIST) return fd;
      struct stat st;
      if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
          unlinkat(folder, name.c_str(), 0) != 0)
        return -1;
    }
    return -1;
  }

  int root_ = -1;
  std::string root_path_;
};

class InPlace : public ProgramCopy {
 public:
  bool runs_from(const char*) override { return false; }
  int run_copy(const char*, bool) override { return -1; }
  void release_starter() override {}
};

}  // namespace

UninstallPorts platform_uninstall_ports() {
  static PosixRemovalFiles files;
  static InPlace program;
  UninstallPorts ports;
  ports.files = &files;
  ports.lister = platform_engine_ports().lister;
  ports.program = &program;
  return ports;
}
