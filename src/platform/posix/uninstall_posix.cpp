// Native stand-ins of the uninstaller's calls: files looked at with lstat,
// so that a link is never followed; a running program's file can be
// removed here, so no copy of it is ever needed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "platform/uninstall_platform.h"

namespace {

constexpr std::size_t kNativePath = 4096;

int fd_of(FileHandle file) { return static_cast<int>(reinterpret_cast<intptr_t>(file)) - 1; }

class PosixRemovalFiles : public RemovalFiles {
 public:
  EntryKind look_up(const char* path, uint64_t* size) override {
    char native[kNativePath];
    struct stat st;
    if (!native_path(path, native, sizeof native)) return EntryKind::Other;
    if (lstat(native, &st) != 0) return errno == ENOENT || errno == ENOTDIR ? EntryKind::Missing : EntryKind::Other;
    if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
    if (!S_ISREG(st.st_mode)) return EntryKind::Other;
    *size = static_cast<uint64_t>(st.st_size);
    return EntryKind::File;
  }
  FileHandle open_file(const char* path) override {
    char native[kNativePath];
    if (!native_path(path, native, sizeof native)) return nullptr;
    int fd = open(native, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? nullptr : reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1);
  }
  bool read(FileHandle file, void* block, uint32_t size, uint32_t* count) override {
    ssize_t n;
    do {
      n = ::read(fd_of(file), block, size);
    } while (n < 0 && errno == EINTR);
    *count = n > 0 ? static_cast<uint32_t>(n) : 0;
    return n >= 0;
  }
  void close(FileHandle file) override { ::close(fd_of(file)); }
  bool remove_file(const char* path) override {
    char native[kNativePath];
    return native_path(path, native, sizeof native) && unlink(native) == 0;
  }
  bool remove_folder(const char* path) override {
    char native[kNativePath];
    return native_path(path, native, sizeof native) && rmdir(native) == 0;
  }
  bool replace_file(const char* path, const char* data, std::size_t size) override {
    char native[kNativePath];
    if (!native_path(path, native, sizeof native)) return false;
    std::string temporary = std::string(native) + ".new";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (std::size_t done = 0; ok && done < size;) {
      ssize_t n = write(fd, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) done += static_cast<std::size_t>(n);
    }
    ok = fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok && rename(temporary.c_str(), native) == 0) return true;
    unlink(temporary.c_str());
    return false;
  }
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
