// The uninstaller's Win32 adapters: the folder opened once, every later
// step a name looked up relative to it, each component opened without
// following a reparse point; files checked and removed through one handle;
// the list replaced; and the copy of the program that runs from a folder
// made for it, since Windows keeps a running program's file from being
// deleted.
#include <windows.h>
#include <winternl.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/uninstall_platform.h"
#include "uninstall/manifest.h"
#include "uninstall/program_copy.h"

namespace {

// The copy learns from its environment which process started it and which
// event tells that process it may end; handles inherited from the starter.
const char kStarterVariable[] = "GCC_SETUP_UNINSTALL_STARTER";

constexpr NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr int kDirectoryInformation = 1, kRenameInformation = 10;

// A name opened in a folder's handle, and a folder's entries read through
// its handle: ntdll's own calls, looked up (every Windows has them).
using CreateCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER, ULONG,
                                    ULONG, ULONG, ULONG, PVOID, ULONG);
using QueryCall = NTSTATUS(NTAPI*)(HANDLE, HANDLE, PVOID, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG, int, BOOLEAN,
                                   PUNICODE_STRING, BOOLEAN);
using SetCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);

struct NtCalls {
  CreateCall create = nullptr;
  QueryCall query = nullptr;
  SetCall set = nullptr;
};

const NtCalls& nt() {
  static const NtCalls calls = [] {
    NtCalls c;
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr) return c;
    c.create = reinterpret_cast<CreateCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtCreateFile")));
    c.query = reinterpret_cast<QueryCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryDirectoryFile")));
    c.set = reinterpret_cast<SetCall>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSetInformationFile")));
    return c;
  }();
  return calls;
}

std::wstring widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
  return out;
}

std::string narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

// `name` opened in `folder` (never through a reparse point); nullptr, with
// the status, when it cannot be.
HANDLE open_in(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
               ULONG options, NTSTATUS* status) {
  if (nt().create == nullptr) {
    *status = kPathNotFound;
    return nullptr;
  }
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = text.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, nullptr);
  IO_STATUS_BLOCK io;
  HANDLE handle = nullptr;
  *status = nt().create(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                        disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  return *status >= 0 ? handle : nullptr;
}

bool not_found(NTSTATUS status) { return status == kNameNotFound || status == kPathNotFound; }

// The attribute word of `name` as `folder` lists it. Where a link's handle
// shows the attributes of what it leads to (Wine), the entry still shows
// the link. INVALID_FILE_ATTRIBUTES when it cannot be read.
DWORD listed_attributes(HANDLE folder, const std::wstring& name) {
  NTSTATUS status;
  // A handle of its own: a folder handle's search pattern is fixed by its first query.
  HANDLE lister = open_in(folder, L"", FILE_LIST_DIRECTORY, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, &status);
  if (lister == nullptr || nt().query == nullptr) {
    if (lister != nullptr) CloseHandle(lister);
    return INVALID_FILE_ATTRIBUTES;
  }
  alignas(8) unsigned char block[sizeof(FILE_DIRECTORY_INFORMATION) + 2 * MAX_PATH * sizeof(wchar_t)];
  UNICODE_STRING pattern;
  pattern.Buffer = const_cast<PWSTR>(name.c_str());
  pattern.Length = pattern.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  IO_STATUS_BLOCK io;
  status = nt().query(lister, nullptr, nullptr, nullptr, &io, block, sizeof block, kDirectoryInformation, TRUE,
                      &pattern, TRUE);
  CloseHandle(lister);
  if (status < 0) return INVALID_FILE_ATTRIBUTES;
  const auto* entry = reinterpret_cast<const FILE_DIRECTORY_INFORMATION*>(block);
  std::wstring found(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
  return _wcsicmp(found.c_str(), name.c_str()) == 0 ? entry->FileAttributes : INVALID_FILE_ATTRIBUTES;
}

// `opened`, the handle of `name` in `folder`, is the entry itself, not what
// a link leads to: neither the handle nor the folder's entry is a reparse
// point or a device. Its information in *info.
bool is_plain(HANDLE folder, const std::wstring& name, HANDLE opened, BY_HANDLE_FILE_INFORMATION* info) {
  const DWORD foreign = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  if (!GetFileInformationByHandle(opened, info) || (info->dwFileAttributes & foreign)) return false;
  DWORD listed = listed_attributes(folder, name);
  return listed != INVALID_FILE_ATTRIBUTES && (listed & foreign) == 0 &&
         (listed & FILE_ATTRIBUTE_DIRECTORY) == (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A name Windows would read as one entry of a folder: no stream, no
// pattern, no step up.
bool plain_name(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  for (wchar_t c : name)
    if (c < 32 || std::wcschr(L"\\/:*?\"<>|", c) != nullptr) return false;
  return true;
}

// Removes the file or empty folder open in `handle`, a read-only one too.
bool remove_through(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  bool cleared = false;
  if (GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    cleared = SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != 0;
  }
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) return true;
  if (cleared) {
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = info.dwFileAttributes;
    SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
  }
  return false;
}

// A final path as Windows gives it, without its "\\?\" prefix.
std::wstring dos_form(std::wstring path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

std::wstring without_trailing_backslash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

class Win32RemovalFiles : public RemovalFiles {
 public:
  FolderCheck open_folder(const char* path) override {
    FolderCheck check;
    if (root_ != nullptr) CloseHandle(root_);
    root_ = nullptr;
    wchar_t full[32768];
    std::wstring given = widen(path);
    DWORD n = GetFullPathNameW(given.c_str(), 32768, full, nullptr);
    if (n == 0 || n >= 32768 || nt().create == nullptr) {
      check.why = "cannot be looked at";
      return check;
    }
    // Opened for removal at the end if it may be; shared, since every later
    // step goes through this handle and a rename of the folder changes none.
    const DWORD access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE folder = CreateFileW(full, access | DELETE, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    deletable_ = folder != INVALID_HANDLE_VALUE;
    if (!deletable_) folder = CreateFileW(full, access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        check.outcome = FolderCheck::Missing;
      else
        check.why = "cannot be opened";
      return check;
    }
    check.why = refusal(full, folder);
    if (!check.why.empty()) {
      CloseHandle(folder);
      return check;
    }
    root_ = folder;
    check.outcome = FolderCheck::Opened;
    return check;
  }
  EntryKind look_up(const char* relative, uint64_t* size) override {
    HANDLE parent = nullptr;
    std::wstring name;
    Walk walk = open_parent(relative, &parent, &name);
    if (walk != Walk::Reached) return walk == Walk::Missing ? EntryKind::Missing : EntryKind::Other;
    NTSTATUS status;
    HANDLE entry = open_in(parent, name, FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, 0, &status);
    EntryKind kind = not_found(status) ? EntryKind::Missing : EntryKind::Other;
    BY_HANDLE_FILE_INFORMATION info;
    if (entry != nullptr) {
      if (is_plain(parent, name, entry, &info)) {
        kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
        *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
      }
      CloseHandle(entry);
    }
    release(parent);
    return kind;
  }
  FileHandle open_file(const char* relative, bool for_removal, uint64_t* size) override {
    HANDLE parent = nullptr;
    std::wstring name;
    if (open_parent(relative, &parent, &name) != Walk::Reached) return nullptr;
    // For removal nobody else may delete or rename it meanwhile, nor write it.
    ACCESS_MASK access = FILE_GENERIC_READ | (for_removal ? DELETE | FILE_WRITE_ATTRIBUTES : 0);
    ULONG share = for_removal ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_DELETE;
    NTSTATUS status;
    HANDLE file = open_in(parent, name, access, share, FILE_OPEN, FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, &status);
    BY_HANDLE_FILE_INFORMATION info;
    if (file != nullptr && (!is_plain(parent, name, file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))) {
      CloseHandle(file);
      file = nullptr;
    }
    release(parent);
    if (file == nullptr) return nullptr;
    *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return file;
  }
  bool read(FileHandle file, void* block, uint32_t size, uint32_t* count) override {
    DWORD n = 0;
    BOOL ok = ReadFile(static_cast<HANDLE>(file), block, size, &n, nullptr);
    *count = ok ? n : 0;
    return ok != 0;
  }
  void close(FileHandle file) override { CloseHandle(static_cast<HANDLE>(file)); }
  bool remove_opened(FileHandle file) override { return remove_through(static_cast<HANDLE>(file)); }
  bool remove_folder(const char* relative) override {
    if (*relative == '\0') {
      // The folder itself goes once this, its last handle, is closed.
      if (root_ == nullptr || !deletable_ || !remove_through(root_)) return false;
      CloseHandle(root_);
      root_ = nullptr;
      return true;
    }
    HANDLE parent = nullptr;
    std::wstring name;
    if (open_parent(relative, &parent, &name) != Walk::Reached) return false;
    NTSTATUS status;
    HANDLE folder = open_in(parent, name, DELETE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE, &status);
    BY_HANDLE_FILE_INFORMATION info;
    bool ok = folder != nullptr && is_plain(parent, name, folder, &info) && remove_through(folder);
    if (folder != nullptr) CloseHandle(folder);
    release(parent);
    return ok;
  }
  bool replace_file(const char* relative, const char* data, std::size_t size) override {
    HANDLE parent = nullptr;
    std::wstring name;
    if (open_parent(relative, &parent, &name) != Walk::Reached) return false;
    std::wstring temporary = name + L".new";
    HANDLE file = create_new(parent, temporary);
    bool ok = file != nullptr;
    for (std::size_t done = 0; ok && done < size;) {
      DWORD written = 0;
      DWORD chunk = static_cast<DWORD>(size - done > (1u << 30) ? (1u << 30) : size - done);
      ok = WriteFile(file, data + done, chunk, &written, nullptr) && written > 0;
      done += written;
    }
    ok = ok && FlushFileBuffers(file);
    // Moved over the list by a name in the same folder's handle.
    if (ok) {
      std::vector<unsigned char> block(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
      auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(block.data());
      rename->ReplaceIfExists = TRUE;
      rename->RootDirectory = parent;
      rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
      std::memcpy(rename->FileName, name.c_str(), rename->FileNameLength);
      IO_STATUS_BLOCK io;
      ok = nt().set != nullptr &&
           nt().set(file, &io, rename, static_cast<ULONG>(block.size()), kRenameInformation) >= 0;
    }
    if (file != nullptr) {
      if (!ok) remove_through(file);
      CloseHandle(file);
    }
    release(parent);
    return ok;
  }

 private:
  enum class Walk { Reached, Missing, Refused };

  void release(HANDLE folder) const {
    if (folder != nullptr && folder != root_) CloseHandle(folder);
  }

  // Why the folder open in `folder`, found at `full`, is not the one to
  // work in: a link, or a folder whose real path is another; "" when it is.
  static std::string refusal(const wchar_t* full, HANDLE folder) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder, &info)) return "cannot be looked at";
    std::wstring final_path;
    wchar_t block[32768];
    DWORD n = GetFinalPathNameByHandleW(folder, block, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n > 0 && n < 32768) final_path = dos_form(std::wstring(block, n));
    // Where it leads: what a plain open of the path reaches.
    std::wstring target = final_path;
    HANDLE followed = CreateFileW(full, FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (followed != INVALID_HANDLE_VALUE) {
      n = GetFinalPathNameByHandleW(followed, block, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
      if (n > 0 && n < 32768) target = dos_form(std::wstring(block, n));
      CloseHandle(followed);
    }
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(full, &entry);
    DWORD listed = 0;
    if (search != INVALID_HANDLE_VALUE) {
      listed = entry.dwFileAttributes;
      FindClose(search);
    }
    if ((info.dwFileAttributes | listed) & FILE_ATTRIBUTE_REPARSE_POINT)
      return target.empty() ? "is a link" : "is a link to " + narrow(target);
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return "is not a folder";
    if (final_path.empty()) return "";  // a file system that cannot tell: the attributes are all there is
    wchar_t long_form[32768];
    n = GetLongPathNameW(full, long_form, 32768);
    std::wstring expected = without_trailing_backslash(n > 0 && n < 32768 ? long_form : full);
    if (_wcsicmp(expected.c_str(), without_trailing_backslash(final_path).c_str()) != 0)
      return "leads to " + narrow(final_path);
    return "";
  }

  // The folder holding the last component of `relative`, each folder on the
  // way opened in the one before without following a link (root_ for the
  // opened folder itself); the last component in *last.
  Walk open_parent(const char* relative, HANDLE* parent, std::wstring* last) {
    if (root_ == nullptr) return Walk::Refused;
    std::vector<std::wstring> parts;
    std::wstring path = widen(relative);
    for (std::size_t from = 0;;) {
      std::size_t cut = path.find(L'\\', from);
      parts.push_back(path.substr(from, cut == std::wstring::npos ? std::wstring::npos : cut - from));
      if (cut == std::wstring::npos) break;
      from = cut + 1;
    }
    for (const std::wstring& part : parts)
      if (!plain_name(part)) return Walk::Refused;
    HANDLE folder = root_;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      NTSTATUS status;
      HANDLE next = open_in(folder, parts[i], FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES, kShareAll,
                            FILE_OPEN, FILE_DIRECTORY_FILE, &status);
      BY_HANDLE_FILE_INFORMATION info;
      bool plain = next != nullptr && is_plain(folder, parts[i], next, &info);
      release(folder);
      if (!plain) {
        if (next != nullptr) CloseHandle(next);
        return not_found(status) ? Walk::Missing : Walk::Refused;
      }
      folder = next;
    }
    *parent = folder;
    *last = parts.back();
    return Walk::Reached;
  }

  // A new file, never one that is there: a leftover plain file of that name
  // is removed first; anything else there (a link, a folder) is refused.
  static HANDLE create_new(HANDLE folder, const std::wstring& name) {
    const ACCESS_MASK access = FILE_GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES;
    for (int attempt = 0; attempt < 2; ++attempt) {
      NTSTATUS status;
      HANDLE file = open_in(folder, name, access, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE, &status);
      if (file != nullptr || status != kNameCollision) return file;
      HANDLE old = open_in(folder, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll, FILE_OPEN,
                           FILE_NON_DIRECTORY_FILE, &status);
      BY_HANDLE_FILE_INFORMATION info;
      bool removed = old != nullptr && is_plain(folder, name, old, &info) && remove_through(old);
      if (old != nullptr) CloseHandle(old);
      if (!removed) return nullptr;
    }
    return nullptr;
  }

  HANDLE root_ = nullptr;
  bool deletable_ = false;
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

std::string temporary_folder() {
  char temporary[MAX_PATH];
  DWORD n = GetTempPathA(sizeof temporary, temporary);
  return n > 0 && n < sizeof temporary ? std::string(temporary, n) : std::string();
}

std::string folder_of(const std::string& path) {
  std::size_t cut = path.find_last_of('\\');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

// Eight bytes from the system's generator; false when it gives none.
bool random_bits(uint64_t* bits) {
  using Generate = BOOLEAN(WINAPI*)(PVOID, ULONG);
  HMODULE advapi = GetModuleHandleA("advapi32.dll");
  if (advapi == nullptr) advapi = LoadLibraryA("advapi32.dll");
  auto generate = advapi == nullptr ? nullptr
                                    : reinterpret_cast<Generate>(
                                          reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")));
  return generate != nullptr && generate(bits, sizeof *bits);
}

// An administrator's run with its rights in force (the Administrators
// group enabled in its token, as elevation gives it).
bool runs_as_administrator() {
  SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                0, &administrators))
    return false;
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

// The copy's folder for an administrator's run: only SYSTEM and the
// Administrators may write in it, everyone else (its owner too) may read
// and run what is there; nothing inherited from the temporary folder.
PSECURITY_DESCRIPTOR administrators_only() {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const wchar_t* forms[] = {L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)(A;OICI;0x1200a9;;;OW)",
                            // A system without the owner's own rights knows this one.
                            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;WD)"};
  for (const wchar_t* form : forms)
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(form, SDDL_REVISION_1, &descriptor, nullptr))
      return descriptor;
  return nullptr;
}

// The copy and its folder go now, or, where they cannot (a program still
// running from it), when Windows next starts.
void remove_copy(const std::string& copy) {
  std::string folder = folder_of(copy);
  bool gone = false;
  for (int attempt = 0; attempt < 20 && !(gone = DeleteFileA(copy.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND);
       ++attempt)
    Sleep(100);
  if (gone && RemoveDirectoryA(folder.c_str())) return;
  if (!gone) MoveFileExA(copy.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  MoveFileExA(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void add_inheritable(std::vector<HANDLE>* handles, HANDLE handle) {
  // Missing, or a console's own pseudo handle, which every process of the
  // console shares without being handed it.
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || (reinterpret_cast<uintptr_t>(handle) & 3) == 3) return;
  for (HANDLE known : *handles)
    if (known == handle) return;
  if (SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) handles->push_back(handle);
}

class Win32ProgramCopy : public ProgramCopy {
 public:
  Win32ProgramCopy() {
    // A copy: the handles of its starter, read once and taken out of the
    // environment; believed only in a folder made for a copy.
    char value[64];
    DWORD n = GetEnvironmentVariableA(kStarterVariable, value, sizeof value);
    if (n == 0) return;
    SetEnvironmentVariableA(kStarterVariable, nullptr);
    std::string program = own_program_path();
    if (n >= sizeof value || !is_copy_program(program, temporary_folder())) return;
    unsigned long long process = 0, event = 0;
    if (std::sscanf(value, "%llu %llu", &process, &event) == 2) {
      starter_ = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(process));
      ready_ = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(event));
    }
    is_copy_ = true;
    program_ = program;
  }

  bool runs_from(const char* folder) override {
    if (is_copy_) return false;  // a copy never starts another
    std::string program = own_program_path();
    return !program.empty() && lies_in(full_path(program.c_str()), full_path(folder));
  }

  int run_copy(const char* folder, bool silent) override {
    std::string program = own_program_path();
    std::string temporary = temporary_folder();
    char system[MAX_PATH];
    UINT length = GetSystemDirectoryA(system, sizeof system);
    if (program.empty() || temporary.empty() || length == 0 || length >= sizeof system) return -1;
    std::string copy;
    if (!make_copy(program, temporary, &copy)) return -1;

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE ready = CreateEventA(&inherit, TRUE, FALSE, nullptr);
    HANDLE self = nullptr;
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self, SYNCHRONIZE, TRUE, 0);
    STARTUPINFOEXA startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.StartupInfo.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.StartupInfo.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    // Only these pass to the copy, whatever else this process may hold.
    std::vector<HANDLE> handed;
    add_inheritable(&handed, self);
    add_inheritable(&handed, ready);
    add_inheritable(&handed, startup.StartupInfo.hStdInput);
    add_inheritable(&handed, startup.StartupInfo.hStdOutput);
    add_inheritable(&handed, startup.StartupInfo.hStdError);
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> attributes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    bool listed = size > 0 && InitializeProcThreadAttributeList(list, 1, 0, &size);
    bool ok = listed && ready != nullptr && self != nullptr &&
              UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handed.data(),
                                        handed.size() * sizeof(HANDLE), nullptr, nullptr);
    PROCESS_INFORMATION started = {};
    if (ok) {
      startup.lpAttributeList = list;
      char handles[64];
      std::snprintf(handles, sizeof handles, "%llu %llu",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(self)),
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(ready)));
      SetEnvironmentVariableA(kStarterVariable, handles);
      std::string command = "\"" + copy + "\"" + (silent ? " /S" : "") + " \"" + folder + "\"";
      // Started in the system folder: nothing there is the user's, and a
      // process's current folder could not be removed.
      ok = CreateProcessA(copy.c_str(), &command[0], nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT, nullptr,
                          system, &startup.StartupInfo, &started) != 0;
      SetEnvironmentVariableA(kStarterVariable, nullptr);
    }
    if (listed) DeleteProcThreadAttributeList(list);
    if (self != nullptr) CloseHandle(self);
    if (!ok) {
      if (ready != nullptr) CloseHandle(ready);
      remove_copy(copy);
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
    if (which == WAIT_OBJECT_0) return 0;  // the copy outlives this program and sees to its own folder
    remove_copy(copy);
    return static_cast<int>(status);
  }

  void release_starter() override {
    if (ready_ == nullptr || starter_ == nullptr) return;
    SetEvent(ready_);
    // The starter ends at once; a minute is more than it needs.
    WaitForSingleObject(starter_, 60 * 1000);
    CloseHandle(ready_);
    CloseHandle(starter_);
    ready_ = starter_ = nullptr;
    // Nobody is left to remove this copy once it has ended: Windows does,
    // at its next start.
    MoveFileExA(program_.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    MoveFileExA(folder_of(program_).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  }

 private:
  // The program copied into a folder of its own with a name nobody can
  // foresee, made afresh (never one that is there already).
  static bool make_copy(const std::string& program, const std::string& temporary, std::string* copy) {
    PSECURITY_DESCRIPTOR descriptor = runs_as_administrator() ? administrators_only() : nullptr;
    SECURITY_ATTRIBUTES protection = {sizeof protection, descriptor, FALSE};
    std::string folder;
    bool made = false;
    for (int attempt = 0; attempt < 8 && !made; ++attempt) {
      uint64_t bits = 0;
      if (!random_bits(&bits)) break;
      folder = temporary + copy_folder_name(bits);
      made = CreateDirectoryA(folder.c_str(), descriptor != nullptr ? &protection : nullptr) != 0;
      if (!made && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    if (descriptor != nullptr) LocalFree(descriptor);
    if (!made) return false;
    *copy = folder + "\\" + kUninstallerName;
    if (CopyFileA(program.c_str(), copy->c_str(), TRUE)) return true;
    RemoveDirectoryA(folder.c_str());
    return false;
  }

  bool is_copy_ = false;
  HANDLE starter_ = nullptr, ready_ = nullptr;
  std::string program_;
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
