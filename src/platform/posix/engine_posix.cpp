// Native stand-ins of the engine's Win32 calls: real POSIX files and
// directories. Paths arrive "\"-separated and are mapped to "/" here.
#include <bzlib.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

bool native_path(const char* path, char* out, std::size_t size) {
  std::size_t n = std::strlen(path);
  if (n + 1 > size) {
    errno = ENAMETOOLONG;
    return false;
  }
  for (std::size_t i = 0; i <= n; ++i) out[i] = path[i] == '\\' ? '/' : path[i];
  return true;
}

void restrict_library_search() {}

std::string own_program_path() {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

void show_message_box(const char* text, const char* caption) {
  std::fprintf(stderr, "[%s] %s\n", caption, text);
  std::fflush(stderr);
}

void MessageBoxFatalReporter::fail(const char* text, const char* caption) {
  show_message_box(text, caption);
  std::exit(0);
}

namespace {

constexpr std::size_t kNativePath = 4096;
constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ULL;

uint32_t attributes_of(const struct stat& st) {
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kAttributeDirectory;
  // Read-only is the absence of every write bit.
  if ((st.st_mode & 0222) == 0) attributes |= kAttributeReadOnly;
  return attributes != 0 ? attributes : 0x80;  // FILE_ATTRIBUTE_NORMAL
}

uint64_t file_time(const struct timespec& ts) {
  return (static_cast<uint64_t>(ts.tv_sec) + kSecondsFrom1601To1970) * 10000000ULL +
         static_cast<uint64_t>(ts.tv_nsec) / 100;
}

struct timespec unix_time(uint64_t t) {
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(t / 10000000ULL) - static_cast<time_t>(kSecondsFrom1601To1970);
  ts.tv_nsec = static_cast<long>(t % 10000000ULL) * 100;
  return ts;
}

// A destination opened for writing, as the engine's writes need it: never
// through a symbolic link in its last component, nor into a file that has
// another name elsewhere (a hard link), and emptied only once the handle is
// known to be neither. Windows refuses to open a read-only file for writing,
// administrators too; root here would not be refused by the kernel, so the
// attribute is checked on the handle as well. -1 with errno set.
int open_destination(const char* native) {
  int fd;
  do fd = open(native, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666); while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ELOOP) errno = kRefusedLink;
    return -1;
  }
  struct stat st;
  int error = 0;
  if (fstat(fd, &st) != 0) error = errno;
  else if (S_ISREG(st.st_mode) && st.st_nlink > 1) error = kRefusedLink;
  else if ((st.st_mode & 0222) == 0) error = EACCES;
  else if (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) error = errno;
  if (error == 0) return fd;
  close(fd);
  errno = error;
  return -1;
}

bool writing(const char* mode) { return std::strchr(mode, 'w') != nullptr; }

struct Search {
  DIR* dir = nullptr;  // null for the look-up of a single path
  int dir_fd = -1;
};

bool next_entry(Search* search, FindRecord* record) {
  while (struct dirent* entry = readdir(search->dir)) {
    std::size_t n = std::strlen(entry->d_name);
    if (n + 1 > sizeof record->name) continue;  // cannot be named in 259 bytes
    std::memcpy(record->name, entry->d_name, n + 1);
    bool directory = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN || entry->d_type == DT_LNK) {
      struct stat st;
      directory = fstatat(search->dir_fd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    record->attributes = directory ? kAttributeDirectory : 0x80;
    return true;
  }
  return false;
}

class PosixLister : public DirectoryLister {
 public:
  SearchHandle find_first(const char* pattern, FindRecord* record) override {
    char native[kNativePath];
    if (!native_path(pattern, native, sizeof native)) return nullptr;
    std::size_t n = std::strlen(native);
    if (n >= 2 && native[n - 1] == '*' && native[n - 2] == '/') {
      native[n - 1] = '\0';
      if (n == 2) std::strcpy(native, "/");
      DIR* dir = opendir(native);
      if (dir == nullptr) return nullptr;
      Search* search = new Search{dir, dirfd(dir)};
      if (!next_entry(search, record)) {
        find_close(search);
        return nullptr;
      }
      return search;
    }
    // The entry itself: a link is reported as one, as Windows does.
    struct stat st;
    if (lstat(native, &st) != 0) return nullptr;
    uint32_t link = 0;
    if (S_ISLNK(st.st_mode)) {
      link = kAttributeReparsePoint;
      struct stat target;
      st.st_mode = stat(native, &target) == 0 && S_ISDIR(target.st_mode) ? S_IFDIR | 0777 : S_IFREG | 0666;
    }
    const char* slash = std::strrchr(native, '/');
    const char* name = slash != nullptr ? slash + 1 : native;
    std::size_t length = std::strlen(name);
    if (length + 1 > sizeof record->name) return nullptr;
    std::memcpy(record->name, name, length + 1);
    record->attributes = attributes_of(st) | link;
    if (link != 0) record->attributes &= ~0x80u;  // FILE_ATTRIBUTE_NORMAL stands alone
    return new Search{};
  }
  bool find_next(SearchHandle handle, FindRecord* record) override {
    Search* search = static_cast<Search*>(handle);
    return search->dir != nullptr && next_entry(search, record);
  }
  void find_close(SearchHandle handle) override {
    Search* search = static_cast<Search*>(handle);
    if (search->dir != nullptr) closedir(search->dir);
    delete search;
  }
};

class PosixMaker : public DirectoryMaker {
 public:
  bool make_directory(const char* path) override {
    char native[kNativePath];
    return native_path(path, native, sizeof native) && mkdir(native, 0777) == 0;
  }
};

FileHandle to_handle(int fd) { return reinterpret_cast<FileHandle>(static_cast<intptr_t>(fd) + 1); }
int to_fd(FileHandle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1); }

class PosixCopier : public FileCopier {
 public:
  FileHandle open_source(const char* path) override {
    char native[kNativePath];
    if (!native_path(path, native, sizeof native)) return nullptr;
    int fd = open(native, O_RDONLY | O_CLOEXEC);
    return fd < 0 ? nullptr : to_handle(fd);
  }
  FileHandle create_destination(const char* path) override {
    char native[kNativePath];
    if (!native_path(path, native, sizeof native)) return nullptr;
    int fd = open_destination(native);
    return fd < 0 ? nullptr : to_handle(fd);
  }
  bool read_information(FileHandle file, FileInformation* info) override {
    struct stat st;
    if (fstat(to_fd(file), &st) != 0) return false;
    info->attributes = attributes_of(st);
    // Linux keeps no settable creation time; the last write stands in for it.
    info->creation_time = file_time(st.st_mtim);
    info->last_access_time = file_time(st.st_atim);
    info->last_write_time = file_time(st.st_mtim);
    return true;
  }
  bool read(FileHandle file, void* block, uint32_t size, uint32_t* count) override {
    ssize_t n;
    do n = ::read(to_fd(file), block, size); while (n < 0 && errno == EINTR);
    *count = n < 0 ? 0 : static_cast<uint32_t>(n);
    return n >= 0;
  }
  bool write(FileHandle file, const void* block, uint32_t size, uint32_t* count) override {
    ssize_t n;
    do n = ::write(to_fd(file), block, size); while (n < 0 && errno == EINTR);
    *count = n < 0 ? 0 : static_cast<uint32_t>(n);
    return n >= 0;
  }
  void set_attributes(const char* path, uint32_t attributes) override {
    char native[kNativePath];
    struct stat st;
    // By name, as Windows does; a link put in the file's place meanwhile is
    // not followed, so what it leads to keeps its mode.
    if (!native_path(path, native, sizeof native) || lstat(native, &st) != 0 || S_ISLNK(st.st_mode)) return;
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttributeReadOnly) mode &= ~static_cast<mode_t>(0222);
    else if ((mode & 0222) == 0) mode |= 0200;
    fchmodat(AT_FDCWD, native, mode, AT_SYMLINK_NOFOLLOW);
  }
  void set_times(FileHandle file, const FileInformation& times) override {
    struct timespec ts[2] = {unix_time(times.last_access_time), unix_time(times.last_write_time)};
    futimens(to_fd(file), ts);
  }
  void close(FileHandle file) override { ::close(to_fd(file)); }
};

class PosixStreams : public StreamOpener {
 public:
  std::FILE* open_plain(const char* path, const char* mode) override {
    char native[kNativePath];
    if (!native_path(path, native, sizeof native)) return nullptr;
    if (!writing(mode)) return std::fopen(native, mode);
    int fd = open_destination(native);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, mode);
    if (file == nullptr) close(fd);
    return file;
  }
  void* open_compressed(const char* path, const char* mode) override {
    char native[kNativePath];
    if (!native_path(path, native, sizeof native)) return nullptr;
    errno = 0;
    if (!writing(mode)) return BZ2_bzopen(native, mode);
    int fd = open_destination(native);
    if (fd < 0) return nullptr;
    BZFILE* file = BZ2_bzdopen(fd, mode);
    if (file == nullptr) close(fd);
    return file;
  }
  bool remove_file(const char* path) override {
    char native[kNativePath];
    return native_path(path, native, sizeof native) && unlink(native) == 0;
  }
};

}  // namespace

EnginePorts platform_engine_ports() {
  static PosixLister lister;
  static PosixMaker maker;
  static PosixCopier copier;
  static PosixStreams streams;
  EnginePorts ports;
  ports.lister = &lister;
  ports.maker = &maker;
  ports.copier = &copier;
  ports.streams = &streams;
  return ports;
}
