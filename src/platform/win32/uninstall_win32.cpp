// The uninstaller's Win32 adapters: files looked at without following
// reparse points, removed, the list replaced; and the copy of the program
// that runs from the temporary folder, since Windows keeps a running
// program's file from being deleted.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/uninstall_platform.h"

namespace {

// The copy learns from its environment which process started it and which
// event tells that process it may end; handles inherited from the starter.
const char kStarterVariable[] = "GCC_SETUP_UNINSTALL_STARTER";

HANDLE handle_of(FileHandle file) { return static_cast<HANDLE>(file); }

class Win32RemovalFiles : public RemovalFiles {
 public:
  EntryKind look_up(const char* path, uint64_t* size) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
      DWORD error = GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? EntryKind::Missing : EntryKind::Other;
    }
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) return EntryKind::Other;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Folder;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return EntryKind::File;
  }
  FileHandle open_file(const char* path) override {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
  }
  bool read(FileHandle file, void* block, uint32_t size, uint32_t* count) override {
    DWORD n = 0;
    BOOL ok = ReadFile(handle_of(file), block, size, &n, nullptr);
    *count = ok ? n : 0;
    return ok != 0;
  }
  void close(FileHandle file) override { CloseHandle(handle_of(file)); }
  // A read-only file is deleted too: the attribute is the installer's
  // business no more than the user's wish to keep the file.
  bool remove_file(const char* path) override {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
      SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (DeleteFileA(path)) return true;
    if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(path, attributes);
    return false;
  }
  bool remove_folder(const char* path) override { return RemoveDirectoryA(path) != 0; }
  bool replace_file(const char* path, const char* data, std::size_t size) override {
    std::string temporary = std::string(path) + ".new";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) && written == size &&
              FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    if (ok && MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    DeleteFileA(temporary.c_str());
    return false;
  }
};

bool same_letters(char a, char b) {
  if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
  if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
  return a == b;
}

// "DIR\..." lies in `folder` (names compared as Windows does, in ASCII).
bool lies_in(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.size() <= folder.size() || path[folder.size()] != '\\') return false;
  for (std::size_t i = 0; i < folder.size(); ++i)
    if (!same_letters(path[i], folder[i])) return false;
  return true;
}

std::string full_path(const char* path) {
  char full[MAX_PATH];
  DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
  return n > 0 && n < sizeof full ? std::string(full, n) : std::string(path);
}

void make_inheritable(HANDLE handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
}

class Win32ProgramCopy : public ProgramCopy {
 public:
  Win32ProgramCopy() {
    // A copy: the handles of its starter, read once and taken out of the
    // environment.
    char value[64];
    DWORD n = GetEnvironmentVariableA(kStarterVariable, value, sizeof value);
    if (n > 0 && n < sizeof value) {
      unsigned long long process = 0, event = 0;
      if (std::sscanf(value, "%llu %llu", &process, &event) == 2) {
        starter_ = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(process));
        ready_ = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(event));
      }
      is_copy_ = true;
      SetEnvironmentVariableA(kStarterVariable, nullptr);
    }
  }

  bool runs_from(const char* folder) override {
    if (is_copy_) return false;  // a copy never starts another
    std::string program = own_program_path();
    return !program.empty() && lies_in(full_path(program.c_str()), full_path(folder));
  }

  int run_copy(const char* folder, bool silent) override {
    std::string program = own_program_path();
    char temporary[MAX_PATH];
    DWORD n = GetTempPathA(sizeof temporary, temporary);
    if (program.empty() || n == 0 || n >= sizeof temporary) return -1;
    std::string copy = std::string(temporary) + "gcc-uninstall-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount()) + ".exe";
    if (!CopyFileA(program.c_str(), copy.c_str(), TRUE)) return -1;

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE ready = CreateEventA(&inherit, TRUE, FALSE, nullptr);
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0);
    if (ready == nullptr || self == nullptr) {
      if (ready != nullptr) CloseHandle(ready);
      if (self != nullptr) CloseHandle(self);
      DeleteFileA(copy.c_str());
      return -1;
    }
    char handles[64];
    std::snprintf(handles, sizeof handles, "%llu %llu", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(self)),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(ready)));
    SetEnvironmentVariableA(kStarterVariable, handles);
    std::string command = "\"" + copy + "\"" + (silent ? " /S" : "") + " \"" + folder + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    make_inheritable(startup.hStdInput);
    make_inheritable(startup.hStdOutput);
    make_inheritable(startup.hStdError);
    PROCESS_INFORMATION started = {};
    // Started in the temporary folder: a folder that is a process's current
    // one cannot be removed.
    BOOL ok = CreateProcessA(copy.c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr, temporary, &startup, &started);
    SetEnvironmentVariableA(kStarterVariable, nullptr);
    CloseHandle(self);
    if (!ok) {
      CloseHandle(ready);
      DeleteFileA(copy.c_str());
      return -1;
    }
    CloseHandle(started.hThread);
    // The copy says when it is about to remove this program's file; or it
    // ends first, having kept something (this file among it).
    HANDLE either[2] = {ready, started.hProcess};
    DWORD which = WaitForMultipleObjects(2, either, FALSE, INFINITE);
    DWORD status = 0;
    if (which == WAIT_OBJECT_0 + 1 && !GetExitCodeProcess(started.hProcess, &status)) status = 1;
    CloseHandle(started.hProcess);
    CloseHandle(ready);
    return which == WAIT_OBJECT_0 ? 0 : static_cast<int>(status);
  }

  void release_starter() override {
    if (ready_ == nullptr || starter_ == nullptr) return;
    SetEvent(ready_);
    // The starter ends at once; a minute is more than it needs.
    WaitForSingleObject(starter_, 60 * 1000);
    CloseHandle(ready_);
    CloseHandle(starter_);
    ready_ = starter_ = nullptr;
  }

 private:
  bool is_copy_ = false;
  HANDLE starter_ = nullptr, ready_ = nullptr;
};

}  // namespace

UninstallPorts platform_uninstall_ports() {
  static Win32RemovalFiles files;
  static Win32ProgramCopy program;
  UninstallPorts ports;
  ports.files = &files;
  ports.lister = platform_engine_ports().lister;
  ports.program = &program;
  return ports;
}
