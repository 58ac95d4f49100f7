// The engine's Win32 adapters: each call is the Win32 function of its name,
// with the arguments the installer has always passed.
#include <windows.h>

#include <bzlib.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

std::string own_program_path() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

bool native_path(const char* path, char* out, std::size_t size) {
  std::size_t n = std::strlen(path);
  if (n + 1 > size) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(out, path, n + 1);
  return true;
}

void show_message_box(const char* text, const char* caption) { MessageBoxA(nullptr, text, caption, MB_OK); }

void MessageBoxFatalReporter::fail(const char* text, const char* caption) {
  show_message_box(text, caption);
  std::exit(0);
}

namespace {

void* to_port(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : handle; }

void to_record(const WIN32_FIND_DATAA& data, FindRecord* record) {
  record->attributes = data.dwFileAttributes;
  std::memcpy(record->name, data.cFileName, sizeof record->name);
  record->name[sizeof record->name - 1] = '\0';
}

uint64_t to_u64(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

FILETIME to_filetime(uint64_t t) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(t);
  ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
  return ft;
}

// The runtime's errno for a failed open, as its own fopen would set it.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_INVALID_NAME: case ERROR_BAD_NETPATH:
    case ERROR_FILENAME_EXCED_RANGE: case ERROR_INVALID_DRIVE: return ENOENT;
    case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    default: return EACCES;
  }
}

// A destination opened for writing, never through a link: the last
// component is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT), and the
// handle that will write is refused when it is a reparse point or a file
// with another name elsewhere (a hard link). Only then is it emptied, so a
// refused entry is left as it was. CREATE_ALWAYS would have refused an
// existing hidden or system file; so does this. INVALID_HANDLE_VALUE with
// errno set.
HANDLE open_destination(const char* path, DWORD share) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    errno = errno_of(GetLastError());
    return file;
  }
  bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  BY_HANDLE_FILE_INFORMATION info;
  int error = 0;
  if (!GetFileInformationByHandle(file, &info)) error = EACCES;
  else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1) error = kRefusedLink;
  else if (existed && (info.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0) error = EACCES;
  else if (!SetEndOfFile(file)) error = errno_of(GetLastError());
  if (error == 0) return file;
  CloseHandle(file);
  errno = error;
  return INVALID_HANDLE_VALUE;
}

// The same as a runtime descriptor, for the standard-library streams.
int open_destination_descriptor(const char* path) {
  // As the runtime's fopen shares a file it writes.
  HANDLE file = open_destination(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (file == INVALID_HANDLE_VALUE) return -1;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(file);
    errno = EMFILE;
  }
  return fd;
}

bool writing(const char* mode) { return std::strchr(mode, 'w') != nullptr; }

class Win32Lister : public DirectoryLister {
 public:
  SearchHandle find_first(const char* pattern, FindRecord* record) override {
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) return nullptr;
    to_record(data, record);
    return search;
  }
  bool find_next(SearchHandle search, FindRecord* record) override {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(static_cast<HANDLE>(search), &data)) return false;
    to_record(data, record);
    return true;
  }
  void find_close(SearchHandle search) override { FindClose(static_cast<HANDLE>(search)); }
};

class Win32Maker : public DirectoryMaker {
 public:
  bool make_directory(const char* path) override { return CreateDirectoryA(path, nullptr) != 0; }
};

class Win32Copier : public FileCopier {
 public:
  FileHandle open_source(const char* path) override {
    return to_port(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_READONLY, nullptr));
  }
  FileHandle create_destination(const char* path) override {
    return to_port(open_destination(path, 0));
  }
  bool read_information(FileHandle file, FileInformation* info) override {
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(static_cast<HANDLE>(file), &data)) return false;
    info->attributes = data.dwFileAttributes;
    info->creation_time = to_u64(data.ftCreationTime);
    info->last_access_time = to_u64(data.ftLastAccessTime);
    info->last_write_time = to_u64(data.ftLastWriteTime);
    return true;
  }
  bool read(FileHandle file, void* block, uint32_t size, uint32_t* count) override {
    DWORD n = 0;
    BOOL ok = ReadFile(static_cast<HANDLE>(file), block, size, &n, nullptr);
    *count = ok ? n : 0;
    return ok != 0;
  }
  bool write(FileHandle file, const void* block, uint32_t size, uint32_t* count) override {
    DWORD n = 0;
    BOOL ok = WriteFile(static_cast<HANDLE>(file), block, size, &n, nullptr);
    *count = ok ? n : 0;
    if (!ok) {
      // The engine names the reason with strerror(errno).
      DWORD error = GetLastError();
      errno = error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? ENOSPC : EIO;
    }
    return ok != 0;
  }
  void set_attributes(const char* path, uint32_t attributes) override { SetFileAttributesA(path, attributes); }
  void set_times(FileHandle file, const FileInformation& times) override {
    FILETIME creation = to_filetime(times.creation_time);
    FILETIME access = to_filetime(times.last_access_time);
    FILETIME write = to_filetime(times.last_write_time);
    SetFileTime(static_cast<HANDLE>(file), &creation, &access, &write);
  }
  void close(FileHandle file) override { CloseHandle(static_cast<HANDLE>(file)); }
};

class Win32Streams : public StreamOpener {
 public:
  std::FILE* open_plain(const char* path, const char* mode) override {
    if (!writing(mode)) return std::fopen(path, mode);
    int fd = open_destination_descriptor(path);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, mode);
    if (file == nullptr) _close(fd);
    return file;
  }
  void* open_compressed(const char* path, const char* mode) override {
    // The library opens the file with fopen, which leaves the reason in errno.
    errno = 0;
    if (!writing(mode)) return BZ2_bzopen(path, mode);
    int fd = open_destination_descriptor(path);
    if (fd < 0) return nullptr;
    BZFILE* file = BZ2_bzdopen(fd, mode);
    if (file == nullptr) _close(fd);
    return file;
  }
  // The runtime's remove leaves the reason in errno, as fopen does.
  bool remove_file(const char* path) override { return std::remove(path) == 0; }
};

}  // namespace

EnginePorts platform_engine_ports() {
  static Win32Lister lister;
  static Win32Maker maker;
  static Win32Copier copier;
  static Win32Streams streams;
  EnginePorts ports;
  ports.lister = &lister;
  ports.maker = &maker;
  ports.copier = &copier;
  ports.streams = &streams;
  return ports;
}
