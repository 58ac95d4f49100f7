// pkgtree's own Windows calls on a real Win32 system: the command line its
// second process gets, a link's target read from its reparse data, renames
// that outlast a holder of the file, and the restricted DLL search of both
// programs.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/pkgtree_win32.h"

namespace {

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

// Each argument comes back whole through the system's own splitting: spaces,
// quotes, and backslashes before a quote or at the end of a quoted one.
TEST(PkgtreeCalls, QuotedArgumentsSplitBackAsTheyWere) {
  const std::vector<std::string> arguments = {
      "plain", "C:\\maker\\plain tree", "C:\\with space\\", "C:\\no space\\", "say \"hi\"", "a\\\"b", "tab\there",
      "", "\\\\server\\share\\x y\\\\", "-j"};
  std::string line = "pkgtree.exe";
  for (const std::string& a : arguments) line += " " + quoted_argument(a);
  int count = 0;
  LPWSTR* split = CommandLineToArgvW(wide(line).c_str(), &count);
  ASSERT_NE(split, nullptr);
  ASSERT_EQ(count, static_cast<int>(arguments.size()) + 1) << line;
  for (std::size_t i = 0; i < arguments.size(); ++i) EXPECT_EQ(std::wstring(split[i + 1]), wide(arguments[i])) << line;
  LocalFree(split);
}

// Reparse data as Windows lays it out (Wine makes none): the names after
// the tag, the length, four offset and length fields and, for a symbolic
// link, its flags.
std::vector<unsigned char> reparse_data(DWORD tag, const std::wstring& substitute, const std::wstring& print) {
  std::size_t names = tag == IO_REPARSE_TAG_SYMLINK ? 20 : 16;
  std::vector<unsigned char> data(names + (substitute.size() + print.size()) * 2);
  WORD length = static_cast<WORD>(data.size() - 8);
  WORD fields[4] = {0, static_cast<WORD>(substitute.size() * 2), static_cast<WORD>(substitute.size() * 2),
                    static_cast<WORD>(print.size() * 2)};
  std::memcpy(&data[0], &tag, 4);
  std::memcpy(&data[4], &length, 2);
  std::memcpy(&data[8], fields, sizeof fields);
  std::memcpy(&data[names], substitute.data(), substitute.size() * 2);
  std::memcpy(&data[names + substitute.size() * 2], print.data(), print.size() * 2);
  return data;
}

TEST(PkgtreeCalls, ALinksTargetIsReadFromItsReparseData) {
  struct Case {
    DWORD tag;
    std::wstring substitute, print;
    std::string target;
  };
  const Case cases[] = {
      {IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\C:\\real\\lib", L"C:\\real\\lib", "C:\\real\\lib"},
      {IO_REPARSE_TAG_MOUNT_POINT, L"\\??\\D:\\x", L"", "D:\\x"},
      {IO_REPARSE_TAG_SYMLINK, L"..\\b", L"..\\b", "..\\b"},
      {IO_REPARSE_TAG_SYMLINK, L"\\??\\UNC\\host\\share", L"\\\\host\\share", "\\\\host\\share"},
      {0x80000013UL, L"", L"", ""},  // deduplicated data: no link
  };
  for (const Case& c : cases) {
    std::vector<unsigned char> data = reparse_data(c.tag, c.substitute, c.print);
    unsigned long tag = 0;
    std::string target = "left over";
    ASSERT_TRUE(parse_reparse_data(data.data(), data.size(), &tag, &target));
    EXPECT_EQ(tag, c.tag);
    EXPECT_EQ(target, c.target);
    // Fields that point past the data give no name, never a read beyond it.
    ASSERT_TRUE(parse_reparse_data(data.data(), std::min<std::size_t>(data.size(), 22), &tag, &target));
    EXPECT_EQ(target, "");
  }
  unsigned long tag = 0;
  std::string target;
  EXPECT_FALSE(parse_reparse_data(reinterpret_cast<const unsigned char*>("abc"), 3, &tag, &target));
}

// A new file held open as a virus scanner holds one, without sharing delete.
TEST(PkgtreeCalls, ARenameRefusedWhileTheFileIsHeldWaitsForItWithinItsPatience) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string a = std::string(temp) + "pkgtree_rename_a", b = std::string(temp) + "pkgtree_rename_b";
  DeleteFileA(a.c_str());
  DeleteFileA(b.c_str());
  HANDLE held = CreateFileA(a.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  unsigned long error = 0;
  DWORD started = GetTickCount();
  EXPECT_FALSE(rename_path(wide(a).c_str(), wide(b).c_str(), &error, 300));
  EXPECT_GE(GetTickCount() - started, 250u);
  EXPECT_TRUE(error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) << error_text(error);
  std::thread letting_go([held] {
    Sleep(500);
    CloseHandle(held);
  });
  started = GetTickCount();
  EXPECT_TRUE(rename_path(wide(a).c_str(), wide(b).c_str(), &error, 5000)) << error_text(error);
  letting_go.join();
  EXPECT_GE(GetTickCount() - started, 400u);
  // Nothing to wait for: a missing file, and a name already taken, which is
  // never replaced, fail at once.
  started = GetTickCount();
  EXPECT_FALSE(rename_path(wide(a).c_str(), wide(b).c_str(), &error, 5000));
  EXPECT_EQ(error, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
  CloseHandle(CreateFileA(a.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  EXPECT_FALSE(rename_path(wide(a).c_str(), wide(b).c_str(), &error, 5000));
  EXPECT_TRUE(error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) << error_text(error);
  EXPECT_LT(GetTickCount() - started, 1000u);
  EXPECT_TRUE(DeleteFileA(a.c_str()) && DeleteFileA(b.c_str()));
}

// A DLL planted beside the program (planted_probe.dll, built beside the test
// programs) is taken before the search is restricted and not after.
TEST(PkgtreeCalls, ARestrictedSearchNoLongerTakesADllBesideTheProgram) {
  HMODULE before = LoadLibraryA("planted_probe.dll");
  ASSERT_NE(before, nullptr) << "the planted DLL is not found even without the restriction";
  FreeLibrary(before);
  restrict_library_search();
  HMODULE after = LoadLibraryA("planted_probe.dll");
  EXPECT_EQ(after, nullptr);
  if (after != nullptr) FreeLibrary(after);
  // The system's own DLLs are still found.
  HMODULE system = LoadLibraryA("version.dll");
  EXPECT_NE(system, nullptr);
  if (system != nullptr) FreeLibrary(system);
}
