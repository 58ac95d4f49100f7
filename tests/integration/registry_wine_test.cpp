// The integration code against the real registry of the bench's throwaway
// prefix. The values the tests change are put back afterwards.
#include <windows.h>

#include <fstream>
#include <string>
#include <utility>

#include "integration/default_folder.h"
#include "integration/environment.h"
#include "integration_fixture.h"
#include "platform/integration_platform.h"

namespace {

struct Saved {
  bool present = false;
  DWORD type = 0;
  std::string data;
};

Saved read_value(HKEY root, const char* path, const char* name) {
  Saved saved;
  HKEY key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return saved;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &saved.type, nullptr, &size) == ERROR_SUCCESS) {
    saved.data.resize(size);
    if (RegQueryValueExA(key, name, nullptr, &saved.type, reinterpret_cast<BYTE*>(saved.data.data()),
                         &size) == ERROR_SUCCESS) {
      saved.present = true;
      saved.data.resize(size);
      while (!saved.data.empty() && saved.data.back() == '\0') saved.data.pop_back();
    }
  }
  RegCloseKey(key);
  return saved;
}

void write_value(HKEY root, const char* path, const char* name, const Saved& value) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  if (value.present)
    RegSetValueExA(key, name, 0, value.type, reinterpret_cast<const BYTE*>(value.data.c_str()),
                   static_cast<DWORD>(value.data.size() + 1));
  else
    RegDeleteValueA(key, name);
  RegCloseKey(key);
}

class WineRegistry : public IntegrationTest {
 protected:
  void SetUp() override {
    IntegrationTest::SetUp();
    IntegrationPorts platform = platform_integration_ports();
    integration_ports().registry = platform.registry;
    integration_ports().environment = platform.environment;
    machine_path_ = read_value(HKEY_LOCAL_MACHINE, kMachineKey, "PATH");
    user_path_ = read_value(HKEY_CURRENT_USER, kUserKey, "PATH");
  }
  void TearDown() override {
    write_value(HKEY_LOCAL_MACHINE, kMachineKey, "PATH", machine_path_);
    write_value(HKEY_CURRENT_USER, kUserKey, "PATH", user_path_);
    write_value(HKEY_LOCAL_MACHINE, kMachineKey, "GCC_SETUP_TEST", Saved{});
    IntegrationTest::TearDown();
  }
  Saved machine_path_, user_path_;
};

TEST_F(WineRegistry, ConfigureWritesTheMachineKeyAndMergesPath) {
  write_value(HKEY_LOCAL_MACHINE, kMachineKey, "PATH",
              Saved{true, REG_EXPAND_SZ, "%SystemRoot%\\system32;C:\\TOOLS\\GCC\\BIN;C:\\windows"});
  write("env", "PATH\nREG_SZ\n\\bin\n::\nGCC_SETUP_TEST\nREG_EXPAND_SZ\n\\lib;\\include\n::\n");
  EXPECT_EQ(configure("c:\\tools\\gcc"), 1);
  Saved path = read_value(HKEY_LOCAL_MACHINE, kMachineKey, "PATH");
  EXPECT_EQ(path.data, "c:\\tools\\gcc\\bin;%SystemRoot%\\system32;C:\\windows");
  EXPECT_EQ(path.type, static_cast<DWORD>(REG_EXPAND_SZ)) << "the existing type stays";
  Saved added = read_value(HKEY_LOCAL_MACHINE, kMachineKey, "GCC_SETUP_TEST");
  EXPECT_EQ(added.data, "c:\\tools\\gcc\\lib;c:\\tools\\gcc\\include");
  EXPECT_EQ(added.type, static_cast<DWORD>(REG_EXPAND_SZ));
}

// The machine's PATH through the wide calls: its type and its bytes as stored.
std::pair<DWORD, std::string> stored_path() {
  HKEY key;
  std::pair<DWORD, std::string> value{0, std::string(4096, '\0')};
  DWORD size = static_cast<DWORD>(value.second.size());
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMachineKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  if (RegQueryValueExW(key, L"PATH", nullptr, &value.first, reinterpret_cast<BYTE*>(&value.second[0]), &size) != 0)
    size = 0;
  RegCloseKey(key);
  value.second.resize(size);
  return value;
}

void put_path(DWORD type, const std::wstring& data, DWORD size) {
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMachineKey, 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, L"PATH", 0, type, reinterpret_cast<const BYTE*>(data.data()), size), ERROR_SUCCESS);
  RegCloseKey(key);
}

// Other programs' items outside the code page merged whole; data that is no
// list of text left byte for byte, said, and the variable written for the user.
TEST_F(WineRegistry, OtherProgramsPathKeptWholeOrLeftAsItWas) {
  write("env", "PATH\nREG_SZ\n\\bin\n::\n");
  const std::wstring others = L"C:\\\u0141ukasz\\bin;C:\\\u5DE5\u5177\\bin";
  put_path(REG_EXPAND_SZ, others, static_cast<DWORD>((others.size() + 1) * 2));
  EXPECT_EQ(configure("c:\\tools\\gcc"), 1);
  const std::wstring merged = L"c:\\tools\\gcc\\bin;" + others;
  EXPECT_EQ(stored_path(), std::make_pair(static_cast<DWORD>(REG_EXPAND_SZ),
                                          std::string(reinterpret_cast<const char*>(merged.c_str()), (merged.size() + 1) * 2)));
  struct Case {
    const char* what;
    DWORD type;
    std::wstring data;
    DWORD size;
  } cases[] = {{"binary", REG_BINARY, L"C:\\x", 8},
               {"a zero inside", REG_EXPAND_SZ, std::wstring(L"C:\\x\0C:\\y\0", 10), 20},
               {"a lone surrogate", REG_SZ, std::wstring(L"C:\\\xD800\0", 5), 10},
               {"an odd size", REG_SZ, L"C:\\x", 7}};
  for (const Case& c : cases) {
    put_path(c.type, c.data, c.size);
    std::pair<DWORD, std::string> before = stored_path();
    std::string printed;
    EXPECT_EQ(configure("c:\\tools\\gcc", &printed), 2) << c.what;
    EXPECT_EQ(printed, "PATH for all users is left as it was: it is not plain text.\n") << c.what;
    EXPECT_EQ(stored_path(), before) << c.what;
    EXPECT_EQ(before.second.size(), c.size) << c.what;
  }
}

TEST_F(WineRegistry, InstallationFoundOnThePrefixPath) {
  std::filesystem::create_directories(root_ / "tools" / "gcc" / "bin");
  std::ofstream(root_ / "tools" / "gcc" / "bin" / "gcc.exe") << "MZ";
  std::string bin = (root_ / "tools" / "gcc" / "bin").string();
  std::string expected = (root_ / "tools" / "gcc").string();
  for (char& c : expected)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  // Only known folders on the PATHs: other programs of the run may have
  // left installations on the prefix's own.
  const Saved system{true, REG_EXPAND_SZ, "C:\\windows\\system32;C:\\windows"};
  write_value(HKEY_CURRENT_USER, kUserKey, "PATH", Saved{true, REG_SZ, "C:\\windows"});
  write_value(HKEY_LOCAL_MACHINE, kMachineKey, "PATH",
              Saved{true, REG_EXPAND_SZ, "C:\\windows\\system32;" + bin + ";C:\\windows"});
  char folder[kPathBufferSize];
  find_gcc_on_path(RegistryRoot::LocalMachine, kMachineKey, folder);
  EXPECT_EQ(std::string(folder), expected);
  char proposal[kPathBufferSize];
  choose_default_folder(proposal);
  EXPECT_EQ(std::string(proposal), expected);
  // Off the machine's PATH and on the user's: found there.
  write_value(HKEY_LOCAL_MACHINE, kMachineKey, "PATH", system);
  write_value(HKEY_CURRENT_USER, kUserKey, "PATH", Saved{true, REG_SZ, bin});
  find_existing_installation(folder);
  EXPECT_EQ(std::string(folder), expected);
}

}  // namespace
