// What the uninstaller needs of the platform beyond the installer's ports:
// files looked at without following links, removed one by one, the list
// replaced whole; and, on Windows, a copy of the program that runs from the
// temporary folder, since a running program cannot delete its own file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/engine_ports.h"

enum class EntryKind { Missing, File, Folder, Other };  // Other: a link, a junction, a device

// How the folder to uninstall was found when it was opened.
struct FolderCheck {
  enum Outcome { Opened, Missing, Refused } outcome = Refused;
  std::string why;  // Refused: what it is, in words that follow its path ("is a link to D:\\x")
};

// Every path but the folder's own is relative to the folder opened first,
// and each of its components is reached without following a link, so a
// link planted later cannot lead a step elsewhere.
class RemovalFiles {
 public:
  virtual ~RemovalFiles() = default;
  // The folder all later steps stay in, opened without following a link:
  // refused when it is one, or when its real path is another than `path`.
  virtual FolderCheck open_folder(const char* path) = 0;
  // What `relative` names itself (a link or junction is Other, never what it
  // leads to), and a file's size. A path that cannot be looked at is Other.
  virtual EntryKind look_up(const char* relative, uint64_t* size) = 0;
  // A plain file's bytes, in blocks, and its size on the same handle; with
  // `for_removal` the handle may also remove it, and nobody may rename it
  // meanwhile. nullptr when it cannot be opened or is not a plain file.
  virtual FileHandle open_file(const char* relative, bool for_removal, uint64_t* size) = 0;
  // False on failure; *count 0 at the end.
  virtual bool read(FileHandle file, void* block, uint32_t size, uint32_t* count) = 0;
  virtual void close(FileHandle file) = 0;
  // Removes the file opened for removal, a read-only one too, through that
  // very handle: false when it stays.
  virtual bool remove_opened(FileHandle file) = 0;
  // An empty folder only ("" is the opened folder itself); false when it stays.
  virtual bool remove_folder(const char* relative) = 0;
  // Replaces the file's bytes whole: a new file beside it, made afresh
  // (a leftover one is removed only when it is a plain file), moved over it.
  virtual bool replace_file(const char* relative, const char* data, std::size_t size) = 0;
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
