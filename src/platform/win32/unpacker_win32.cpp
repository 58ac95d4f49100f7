// The unpacker on Win32: each port the kernel32, advapi32, user32 or gdi32
// call that does it, with wide paths, so that a temporary folder or a file
// name outside the ANSI code page is still reached.
#include <windows.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "platform/unpacker_platform.h"
#include "shell/wizard.h"

namespace {

std::wstring widen(const std::string& text, UINT code_page = CP_UTF8) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &wide[0], n);
  return wide;
}

std::string narrow(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n, nullptr, nullptr);
  return text;
}

class FileSource : public unpack::ByteSource {
 public:
  explicit FileSource(HANDLE file) : file_(file) {}
  ~FileSource() override { CloseHandle(file_); }
  uint64_t size() override {
    LARGE_INTEGER size;
    return GetFileSizeEx(file_, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
  }
  std::size_t read_at(uint64_t offset, void* buffer, std::size_t size) override {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset), at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    return ReadFile(file_, buffer, want, &got, &at) ? got : 0;
  }

 private:
  HANDLE file_;
};

class OutFile : public UnpackedFile {
 public:
  explicit OutFile(HANDLE file) : file_(file) {}
  ~OutFile() override {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  bool write(const void* data, std::size_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      DWORD done = 0, want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      if (!WriteFile(file_, p, want, &done, nullptr) || done == 0) return false;
      p += done, size -= done;
    }
    return true;
  }
  bool close() override {
    bool closed = CloseHandle(file_) != 0;
    file_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE file_;
};

bool elevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  bool yes = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) && elevation.TokenIsElevated;
  CloseHandle(token);
  return yes;
}

// Owned by the administrators; they and SYSTEM may change it, the user may
// only read and run what is in it, and it inherits nothing from TEMP.
std::wstring elevated_folder_rights() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
  std::vector<unsigned char> buffer(512);
  DWORD size = 0;
  bool got = GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size);
  CloseHandle(token);
  LPWSTR sid = nullptr;
  if (!got || !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) return std::wstring();
  std::wstring rights = L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FRFX;;;" + std::wstring(sid) + L")";
  LocalFree(sid);
  return rights;
}

// Takes the folder away whole; a link inside it is removed, never entered.
bool remove_tree(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        remove_tree(path);
      else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveDirectoryW(path.c_str());
      else
        DeleteFileW(path.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  return RemoveDirectoryW(folder.c_str()) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND;
}

constexpr wchar_t kWindowClass[] = L"gcc_setup_unpacker";
constexpr wchar_t kWindowTitle[] = L"Unpacking";
constexpr int kWindowWidth = 420, kWindowHeight = 170, kCancelId = 1, kBarLength = 49;

struct Window {
  HWND window = nullptr, cancel = nullptr;
  HFONT font = nullptr;
  std::wstring line;
  int bar = 0;
  bool cancelled = false;
};
Window the_window;

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wparam) == kCancelId) the_window.cancelled = true;
      return 0;
    case WM_CLOSE:
      the_window.cancelled = true;
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      SetTextColor(dc, kPageTextColor);
      SetBkColor(dc, kMainBackground);
      HGDIOBJ previous = SelectObject(dc, the_window.font);
      TextOutW(dc, 20, 15, the_window.line.c_str(), static_cast<int>(the_window.line.size()));
      std::wstring bar(static_cast<std::size_t>(the_window.bar), L'-');
      bar.resize(kBarLength, L' ');
      TextOutW(dc, 20, 45, bar.c_str(), static_cast<int>(bar.size()));
      SelectObject(dc, previous);
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

void pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

class Win32UnpackerPorts : public UnpackerPorts {
 public:
  std::string own_file() override { return narrow(own_path()); }

  std::unique_ptr<unpack::ByteSource> open_own_file() override {
    HANDLE file = CreateFileW(own_path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<FileSource>(file);
  }

  bool temporary_folder(std::string& path, std::size_t& chars) override {
    wchar_t buffer[MAX_PATH + 2];
    DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
    if (n == 0 || n > MAX_PATH + 1) return false;
    // Kept with its one '\\' at the end, as a drive's root ("T:\\") needs it.
    temporary_.assign(buffer, n);
    while (temporary_.size() > 1 && temporary_.back() == L'\\' && temporary_[temporary_.size() - 2] == L'\\')
      temporary_.pop_back();
    if (temporary_.back() != L'\\') temporary_ += L'\\';
    DWORD attributes = GetFileAttributesW(temporary_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    path = narrow(temporary_.substr(0, temporary_.size() - 1)), chars = temporary_.size() - 1;
    return true;
  }

  bool free_bytes(uint64_t& bytes) override {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(temporary_.c_str(), &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    return true;
  }

  bool random_bytes(unsigned char* out, std::size_t size) override {
    return RtlGenRandom(out, static_cast<ULONG>(size)) != FALSE;
  }

  Made make_unpack_folder(const std::string& name) override {
    std::wstring path = temporary_ + widen(name);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (elevated()) {
      std::wstring rights = elevated_folder_rights();
      if (rights.empty() ||
          !ConvertStringSecurityDescriptorToSecurityDescriptorW(rights.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return Made::Failed;
    }
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    bool made = CreateDirectoryW(path.c_str(), descriptor ? &attributes : nullptr) != 0;
    DWORD error = GetLastError();
    if (descriptor) LocalFree(descriptor);
    if (made) {
      folder_ = path;
      return Made::Made;
    }
    return error == ERROR_ALREADY_EXISTS ? Made::Exists : Made::Failed;
  }

  bool make_folder(const unpack::Entry& entry) override {
    std::wstring path = below(entry);
    return !path.empty() && CreateDirectoryW(path.c_str(), nullptr) != 0;
  }

  std::unique_ptr<UnpackedFile> create_file(const unpack::Entry& entry) override {
    std::wstring path = below(entry);
    if (path.empty()) return nullptr;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<OutFile>(file);
  }

  bool remove_unpack_folder() override {
    if (folder_.empty()) return true;
    for (int attempt = 0; attempt < 25; ++attempt) {
      if (remove_tree(folder_)) return true;
      Sleep(200);
    }
    return false;
  }

  void show_window(const std::string& file) override {
    HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = module;
    window_class.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32517));
    window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
    window_class.hbrBackground = CreateSolidBrush(kMainBackground);
    window_class.lpszClassName = kWindowClass;
    RegisterClassW(&window_class);
    const FontSpec& f = kWizardFont;
    the_window.font = CreateFontA(f.height, f.width, f.escapement, f.orientation, f.weight, f.italic, f.underline,
                                  f.strike_out, f.char_set, f.out_precision, f.clip_precision, f.quality,
                                  f.pitch_and_family, f.face);
    std::wstring shown = widen(file);
    std::size_t slash = shown.find_last_of(L'\\');
    the_window.line = L"Unpacking " + (slash == std::wstring::npos ? shown : shown.substr(slash + 1)) + L" ...";
    int x = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
    the_window.window = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_CAPTION, x, y, kWindowWidth, kWindowHeight,
                                        nullptr, nullptr, module, nullptr);
    if (the_window.window == nullptr) return;
    the_window.cancel = CreateWindowExW(0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON,
                                        kWindowWidth - 120, 80, 80, 28, the_window.window,
                                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCancelId)), module, nullptr);
    SendMessageW(the_window.cancel, WM_SETFONT, reinterpret_cast<WPARAM>(the_window.font), TRUE);
    ShowWindow(the_window.window, SW_SHOW);
    UpdateWindow(the_window.window);
    pump();
  }

  bool keep_going(uint64_t done, uint64_t total) override {
    int bar = total == 0 ? kBarLength : static_cast<int>(done * kBarLength / total);
    bool moved = the_window.window != nullptr && bar != the_window.bar;
    if (moved) {
      the_window.bar = bar;
      InvalidateRect(the_window.window, nullptr, FALSE);
    }
    // Called for every file and every block: each look at the queue costs
    // a trip to the window server, so it is read when the bar moves or
    // every 30 ms, which is soon enough for Cancel.
    DWORD now = GetTickCount();
    if (moved || now - pumped_at_ >= 30) {
      pumped_at_ = now;
      pump();
    }
    return !the_window.cancelled;
  }

  void close_window() override {
    if (the_window.window != nullptr) DestroyWindow(the_window.window);
    the_window.window = nullptr;
    pump();
  }

  bool run_setup(const std::string& arguments, uint32_t& status) override {
    std::wstring program = folder_ + L"\\setup.exe";
    std::wstring line = L"\"" + program + L"\"";
    if (!arguments.empty()) line += L" " + widen(arguments);
    std::vector<wchar_t> command(line.begin(), line.end());
    command.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // setup.exe is a console program: it gets a console of its own, as
    // from the desktop, but without a window over the wizard's.
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        folder_.c_str(), &startup, &process))
      return false;
    CloseHandle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    bool got = GetExitCodeProcess(process.hProcess, &code) != 0;
    CloseHandle(process.hProcess);
    status = got ? code : 1;
    return true;
  }

  void message(const std::string& text) override {
    MessageBoxW(the_window.window, widen(text).c_str(), L"Error", MB_OK | MB_ICONERROR);
  }

 private:
  std::wstring own_path() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
      DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (n == 0) return std::wstring();
      if (n < buffer.size()) return std::wstring(buffer.data(), n);
      if (buffer.size() >= 32768) return std::wstring();
      buffer.resize(buffer.size() * 2);
    }
  }

  // An entry's path below the folder; its name in the code page it was
  // written in, '\' between its components.
  std::wstring below(const unpack::Entry& entry) {
    std::wstring name = widen(entry.name, entry.utf8 ? CP_UTF8 : CP_ACP);
    if (name.empty() || folder_.empty()) return std::wstring();
    for (wchar_t& c : name) {
      // A code page could make a separator or a drive's colon of bytes the
      // archive's check let through: refused, never written elsewhere.
      if (c < 0x20 || c == L'\\' || c == L':') return std::wstring();
      if (c == L'/') c = L'\\';
    }
    return folder_ + L"\\" + name;
  }

  std::wstring temporary_, folder_;
  DWORD pumped_at_ = 0;
};

}  // namespace

UnpackerPorts& platform_unpacker_ports() {
  static Win32UnpackerPorts ports;
  return ports;
}

std::string platform_unpacker_arguments() {
  // Everything after the program's name, as it was given: argument 0 ends
  // at its closing quote, or else at the first blank.
  const wchar_t* line = GetCommandLineW();
  if (*line == L'"') {
    ++line;
    while (*line != L'\0' && *line != L'"') ++line;
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  while (*line == L' ' || *line == L'\t') ++line;
  return narrow(line);
}
