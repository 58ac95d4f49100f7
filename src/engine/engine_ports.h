// What the package installation engine needs of the platform. The Win32
// adapters call the functions of the same names; the POSIX ones stand in.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "common/fatal.h"
#include "common/install_state.h"

constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeDirectory = 0x10;
// A junction, symbolic link or mount point: below the destination folder
// the engine never follows one.
constexpr uint32_t kAttributeReparsePoint = 0x400;

// One entry of a directory search: its attribute word and its name.
struct FindRecord {
  uint32_t attributes = 0;
  char name[kPathBufferSize] = {};
};

using SearchHandle = void*;  // nullptr: nothing found

class DirectoryLister {
 public:
  virtual ~DirectoryLister() = default;
  // `pattern` is either "DIR\*" (list DIR, "." and ".." included) or a plain
  // path (look that one entry up). nullptr when nothing is found. The look-up
  // describes the entry itself: a link has kAttributeReparsePoint, with
  // kAttributeDirectory when it leads to a folder, as Windows reports it.
  virtual SearchHandle find_first(const char* pattern, FindRecord* record) = 0;
  // False ends the listing, whatever the reason.
  virtual bool find_next(SearchHandle search, FindRecord* record) = 0;
  virtual void find_close(SearchHandle search) = 0;
};

class DirectoryMaker {
 public:
  virtual ~DirectoryMaker() = default;
  // Creates the last component of `path` only; false on failure.
  virtual bool make_directory(const char* path) = 0;
};

using FileHandle = void*;  // nullptr: the open failed

// errno of a destination refused because it is a link (or a hard link): the
// engine names that reason itself, as strerror's text for it misleads.
constexpr int kRefusedLink = ELOOP;

// A file's attribute word and its three times (100 ns units since 1601).
struct FileInformation {
  uint32_t attributes = 0;
  uint64_t creation_time = 0, last_access_time = 0, last_write_time = 0;
};

// The calls of the plain copy, which keeps attributes and times.
class FileCopier {
 public:
  virtual ~FileCopier() = default;
  virtual FileHandle open_source(const char* path) = 0;       // read, shared for reading
  // Write, replaced and emptied. Never through a link: an existing entry that
  // is a link, or a file with another name elsewhere, is refused as it is
  // (nullptr, errno kRefusedLink), checked on the handle that would write.
  virtual FileHandle create_destination(const char* path) = 0;
  virtual bool read_information(FileHandle file, FileInformation* info) = 0;
  // False on failure; *count 0 at the end of the file.
  virtual bool read(FileHandle file, void* block, uint32_t size, uint32_t* count) = 0;
  // False on failure; *count is what was written.
  virtual bool write(FileHandle file, const void* block, uint32_t size, uint32_t* count) = 0;
  virtual void set_attributes(const char* path, uint32_t attributes) = 0;
  virtual void set_times(FileHandle file, const FileInformation& times) = 0;
  virtual void close(FileHandle file) = 0;
};

// Opens the two sides of the stream actions. Paths are the engine's own
// ("\" separated); the platform maps them to what it opens.
class StreamOpener {
 public:
  virtual ~StreamOpener() = default;
  // A writing mode ("wb", "w9") opens as create_destination does: never
  // through a link.
  virtual std::FILE* open_plain(const char* path, const char* mode) = 0;
  virtual void* open_compressed(const char* path, const char* mode) = 0;  // a BZFILE*
  // Deletes a file the engine wrote; false (errno set) when it stays.
  virtual bool remove_file(const char* path) = 0;
};

// What the loader tells the wizard.
class WizardLink {
 public:
  virtual ~WizardLink() = default;
  // Called with each file's destination path before it is written.
  virtual void set_current_file(const char* path) = 0;
  // Sends `command` to `window` and returns when it has been handled.
  virtual void send_command(WindowHandle window, int32_t command) = 0;
};

struct EnginePorts {
  DirectoryLister* lister = nullptr;
  DirectoryMaker* maker = nullptr;
  FileCopier* copier = nullptr;
  StreamOpener* streams = nullptr;
  FatalReporter* fatal = nullptr;
  WizardLink* wizard = nullptr;
};

// The ports the engine uses; set once before it runs.
EnginePorts& engine_ports();
