// pkgtree's Windows calls: thin wrappers, each named after what pkgtree
// needs of it.
#include "platform/win32/pkgtree_win32.h"

#include <windows.h>
#include <winioctl.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<InterruptHandler> g_on_interrupt{nullptr};

BOOL WINAPI on_console_event(DWORD event) {
  InterruptHandler handler = g_on_interrupt.load();
  if (handler == nullptr || (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)) return FALSE;
  handler(event == CTRL_BREAK_EVENT);
  return TRUE;
}

std::string narrow(const wchar_t* text, std::size_t length) {
  if (length == 0) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &out[0], n, nullptr, nullptr);
  return out;
}

// "\\?\C:\x" and "\\?\UNC\host\share\x" as Windows shows them elsewhere.
std::string without_prefix(std::wstring path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) path = L"\\\\" + path.substr(8);
  else if (path.compare(0, 4, L"\\\\?\\") == 0) path = path.substr(4);
  return narrow(path.data(), path.size());
}

using FinalPathCall = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

// Looked up, so that the program still starts where Windows lacks the call.
FinalPathCall final_path_call() {
  static FinalPathCall call = reinterpret_cast<FinalPathCall>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleW")));
  return call;
}

std::string final_path_by_handle(HANDLE file, const std::string& path) {
  std::wstring buffer(32768, L'\0');
  FinalPathCall call = final_path_call();
  if (call != nullptr) {
    DWORD n = call(file, &buffer[0], static_cast<DWORD>(buffer.size()), 0);
    if (n > 0 && n < buffer.size()) return without_prefix(buffer.substr(0, n));
  }
  char full[MAX_PATH * 4];
  DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  return n > 0 && n < sizeof full ? std::string(full, n) : std::string();
}

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The reparse data of an entry, as FSCTL_GET_REPARSE_POINT gives it.
bool read_link(const std::string& path, DWORD* tag, std::string* target) {
  HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  std::vector<unsigned char> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  DWORD got = 0;
  BOOL ok = DeviceIoControl(file, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(), static_cast<DWORD>(data.size()),
                            &got, nullptr);
  CloseHandle(file);
  if (!ok) return false;
  unsigned long kind = 0;
  if (!parse_reparse_data(data.data(), got, &kind, target)) return false;
  *tag = kind;
  return true;
}

}  // namespace

bool parse_reparse_data(const unsigned char* data, std::size_t size, unsigned long* tag, std::string* target) {
  if (size < 8) return false;
  DWORD kind = 0;
  std::memcpy(&kind, data, 4);
  *tag = kind;
  target->clear();
  // Names start 16 bytes in for a mount point, 20 for a symbolic link
  // (after its flags); four 16-bit fields before them give the substitute
  // name's offset and length, then the print name's, in bytes.
  std::size_t names = kind == IO_REPARSE_TAG_SYMLINK ? 20 : 16;
  if ((kind != IO_REPARSE_TAG_MOUNT_POINT && kind != IO_REPARSE_TAG_SYMLINK) || size < names) return true;
  WORD field[4] = {};
  std::memcpy(field, data + 8, sizeof field);
  auto name = [&](WORD offset, WORD length) {
    if (names + offset + length > size) return std::wstring();
    std::wstring text(length / 2, L'\0');
    if (!text.empty()) std::memcpy(&text[0], data + names + offset, text.size() * 2);
    return text;
  };
  std::wstring shown = name(field[2], field[3]);
  if (shown.empty()) {
    shown = name(field[0], field[1]);
    if (shown.compare(0, 4, L"\\??\\") == 0) shown = shown.substr(4);
  }
  *target = narrow(shown.data(), shown.size());
  return true;
}

void catch_console_interrupts(InterruptHandler on_interrupt) {
  g_on_interrupt.store(on_interrupt);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

void release_console_interrupts() {
  SetConsoleCtrlHandler(on_console_event, FALSE);
  g_on_interrupt.store(nullptr);
}

std::string error_text(unsigned long code) {
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.')) --n;
  if (n > 0) return std::string(text, n);
  std::snprintf(text, sizeof text, "error %lu", code);
  return text;
}

std::string quoted_argument(const std::string& text) {
  if (!text.empty() && text.find_first_of(" \t\n\v\"") == std::string::npos) return text;
  // Backslashes count only before a quote: there each is doubled, and the
  // quote escaped; the closing quote follows the doubled trailing ones.
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

namespace {

// `program` started with the command line `line` on the same console, process
// group and standard handles (whether they are the console or files), so
// that Ctrl-C reaches it too; waits for it.
bool run_and_wait(const char* program, std::string line, unsigned long* exit_code, std::string* why) {
  STARTUPINFOA start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  HANDLE* handles[] = {&start.hStdInput, &start.hStdOutput, &start.hStdError};
  const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 3; ++i) {
    *handles[i] = GetStdHandle(which[i]);
    if (*handles[i] != nullptr && *handles[i] != INVALID_HANDLE_VALUE)
      SetHandleInformation(*handles[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  std::fflush(stdout);
  std::fflush(stderr);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(program, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
    *why = error_text(GetLastError());
    return false;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  *exit_code = code;
  return true;
}

}  // namespace

bool run_own_program(const std::vector<std::string>& arguments, unsigned long* exit_code, std::string* why) {
  char program[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, program, sizeof program);
  if (n == 0 || n >= sizeof program) {
    *why = "its own path cannot be told";
    return false;
  }
  std::string line = quoted_argument(std::string(program, n));
  for (const std::string& argument : arguments) line += " " + quoted_argument(argument);
  return run_and_wait(program, line, exit_code, why);
}

bool run_shell_command(const std::string& command, unsigned long* exit_code, std::string* why) {
  // The system's own cmd.exe, never one found in the current folder; /d
  // skips the AutoRun commands of the registry; with /s the text between
  // the first and the last quote is the command, kept as it is.
  char shell[MAX_PATH];
  UINT n = GetSystemDirectoryA(shell, sizeof shell);
  if (n == 0 || n + sizeof "\\cmd.exe" > sizeof shell) {
    *why = "the system folder, where cmd.exe is, cannot be told";
    return false;
  }
  std::strcat(shell, "\\cmd.exe");
  return run_and_wait(shell, quoted_argument(shell) + " /d /s /c \"" + command + "\"", exit_code, why);
}

bool rename_path(const wchar_t* from, const wchar_t* to, unsigned long* error, unsigned patience_ms, bool replace) {
  DWORD started = GetTickCount();
  for (;;) {
    if (MoveFileExW(from, to, replace ? MOVEFILE_REPLACE_EXISTING : 0)) return true;
    *error = GetLastError();
    bool held = *error == ERROR_ACCESS_DENIED || *error == ERROR_SHARING_VIOLATION;
    if (!held || GetTickCount() - started >= patience_ms) return false;
    Sleep(50);
  }
}

std::string final_path_of(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string real = final_path_by_handle(file, path);
  CloseHandle(file);
  return real;
}

LinkLook look_at_entry(const std::string& path) {
  LinkLook look;
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return look;
  look.exists = true;
  DWORD tag = 0;
  // Other kinds of reparse point (deduplicated or cloud files) read as what
  // they hold. One whose data cannot be read is taken as a link: Wine shows
  // a Unix symbolic link to a folder so.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    look.link = !read_link(path, &tag, &look.target) || tag == IO_REPARSE_TAG_MOUNT_POINT || tag == IO_REPARSE_TAG_SYMLINK;
  // Opened without FILE_FLAG_OPEN_REPARSE_POINT: the system follows links.
  HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (look.link) {
      look.reaches = false;
      look.error = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? std::string() : error_text(error);
    }
    look.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !look.link;
    if (look.link && look.target.empty()) look.target = "?";
    return look;
  }
  BY_HANDLE_FILE_INFORMATION info;
  look.folder = GetFileInformationByHandle(file, &info) ? (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                                                         : (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (look.folder) look.final_path = final_path_by_handle(file, path);
  CloseHandle(file);
  if (look.link && look.target.empty()) look.target = look.final_path.empty() ? "?" : look.final_path;
  return look;
}
