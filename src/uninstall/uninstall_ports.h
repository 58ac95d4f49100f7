// What the uninstaller needs of the platform beyond the installer's ports:
// files looked at without following links, removed one by one, the list
// replaced whole; and, on Windows, a copy of the program that runs from the
// temporary folder, since a running program cannot delete its own file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine_ports.h"

enum class EntryKind { Missing, File, Folder, Other };  // Other: a link, a junction, a device

class RemovalFiles {
 public:
  virtual ~RemovalFiles() = default;
  // What `path` names itself (a link or junction is Other, never what it
  // leads to), and a file's size. A path that cannot be looked at is Other.
  virtual EntryKind look_up(const char* path, uint64_t* size) = 0;
  // A file's bytes, in blocks: CreateFileA for reading, shared, not through
  // a reparse point. nullptr when it cannot be opened.
  virtual FileHandle open_file(const char* path) = 0;
  // False on failure; *count 0 at the end.
  virtual bool read(FileHandle file, void* block, uint32_t size, uint32_t* count) = 0;
  virtual void close(FileHandle file) = 0;
  // DeleteFileA, a read-only file too: false when it stays.
  virtual bool remove_file(const char* path) = 0;
  // RemoveDirectoryA: an empty folder only; false when it stays.
  virtual bool remove_folder(const char* path) = 0;
  // Replaces the file's bytes whole: a new file beside it, moved over it.
  virtual bool replace_file(const char* path, const char* data, std::size_t size) = 0;
};

class ProgramCopy {
 public:
  virtual ~ProgramCopy() = default;
  // True when the running program's own file lies in `folder`, where it
  // cannot be removed while it runs.
  virtual bool runs_from(const char* folder) = 0;
  // Starts a copy of the program in the temporary folder with the folder
  // (and /S when `silent`) as its arguments, and waits until the copy may
  // remove this program's file (0) or has ended (its exit status). -1 when
  // no copy could be started: the caller then runs in place.
  virtual int run_copy(const char* folder, bool silent) = 0;
  // In a copy: lets the program that started it end, and returns once it
  // has, so that its file can be removed. Nothing to do elsewhere.
  virtual void release_starter() = 0;
};

struct UninstallPorts {
  RemovalFiles* files = nullptr;
  DirectoryLister* lister = nullptr;  // lists what the user added to a folder
  ProgramCopy* program = nullptr;
};

// The ports the uninstaller uses; set once before it runs.
UninstallPorts& uninstall_ports();
