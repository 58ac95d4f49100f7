// The native stand-in registry: one REGEDIT4 file per root.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "integration/default_folder.h"
#include "integration/environment.h"
#include "integration_fixture.h"
#include "platform/integration_platform.h"

namespace {

const char kMachineSection[] =
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]";

class RegFile : public IntegrationTest {
 protected:
  void SetUp() override {
    IntegrationTest::SetUp();
    for (const char* name : {"SETUP_MACHINE_REGISTRY", "SETUP_USER_REGISTRY", "XDG_CONFIG_HOME"}) {
      const char* value = getenv(name);
      saved_env_.emplace_back(name, value != nullptr ? value : "\x01");
    }
    machine_ = (root_ / "hklm" / "environment.reg").string();
    user_ = (root_ / "hkcu" / "environment.reg").string();
    setenv("SETUP_MACHINE_REGISTRY", machine_.c_str(), 1);
    setenv("SETUP_USER_REGISTRY", user_.c_str(), 1);
    IntegrationPorts platform = platform_integration_ports();
    integration_ports().registry = platform.registry;
    registry = platform.registry;
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_env_) {
      if (value == "\x01")
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
    IntegrationTest::TearDown();
  }
  static std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void put_file(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  // The value as the code reads it: type and text, or "<none>".
  std::string query(RegistryRoot root, const char* path, const char* name, uint32_t* type = nullptr) {
    RegistryKey key = nullptr;
    if (registry->open_key(root, path, &key) != 0) return "<no key>";
    uint32_t size = 1, t = 0;
    std::string data(1, '\0');
    int32_t answer = registry->query_value(key, name, &t, data.data(), &size);
    if (answer == 234) {
      data.resize(size);
      answer = registry->query_value(key, name, &t, data.data(), &size);
    }
    registry->close_key(key);
    if (answer != 0) return "<none>";
    if (type != nullptr) *type = t;
    data.resize(size);
    if (!data.empty() && data.back() == '\0') data.pop_back();
    return data;
  }

  Registry* registry = nullptr;
  std::string machine_, user_;
  std::vector<std::pair<std::string, std::string>> saved_env_;
};

TEST_F(RegFile, ValuesAsTheRegistryEditorWritesThem) {
  RegistryKey key = nullptr;
  ASSERT_EQ(registry->create_key(RegistryRoot::LocalMachine, kMachineKey, &key), 0);
  const char sz[] = "c:\\a \"b\"";
  const char expand[] = "%X%;c";
  const char controls[] = "a\r\nb\tc";  // a quoted string cannot hold them: hex bytes
  EXPECT_EQ(registry->set_value(key, "GCC", kRegSz, sz, sizeof sz), 0);
  EXPECT_EQ(registry->set_value(key, "PATH", kRegExpandSz, expand, sizeof expand), 0);
  EXPECT_EQ(registry->set_value(key, "CTL", kRegSz, controls, sizeof controls), 0);
  registry->close_key(key);
  EXPECT_EQ(contents(machine_), std::string("REGEDIT4\n\n") + kMachineSection + "\n" +
                                    "\"GCC\"=\"c:\\\\a \\\"b\\\"\"\n"
                                    "\"PATH\"=hex(2):25,58,25,3b,63,00\n"
                                    "\"CTL\"=hex(1):61,0d,0a,62,09,63,00\n");
  uint32_t type = 0;
  EXPECT_EQ(query(RegistryRoot::LocalMachine, kMachineKey, "gcc", &type), sz);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(query(RegistryRoot::LocalMachine, kMachineKey, "Path", &type), expand);
  EXPECT_EQ(type, kRegExpandSz);
  EXPECT_EQ(query(RegistryRoot::LocalMachine, kMachineKey, "CTL", &type), controls);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(query(RegistryRoot::LocalMachine, kMachineKey, "Other"), "<none>");
  EXPECT_EQ(query(RegistryRoot::CurrentUser, kUserKey, "PATH"), "<no key>");
}

TEST_F(RegFile, OtherKeysAndValuesAreKeptAsTheyWere) {
  std::string before =
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\r\n\"Path\"=\"not ours\"\r\n\r\n";
  std::string section_start = std::string(kMachineSection) + "\r\n";
  std::string kept =
      "; a comment\r\n"
      "\"Path\"=hex(2):25,53,79,73,74,65,6d,52,6f,6f,74,25,3b,43,3a,5c,54,4f,4f,4c,53,5c,\\\r\n"
      "  47,43,43,5c,42,49,4e,00\r\n";
  std::string tail = "\"NUMBER_OF_THINGS\"=dword:00000002\r\n\"Odd\"=\"x\"\r\n\r\n[HKEY_LOCAL_MACHINE\\Last]\r\n@=\"d\"\r\n";
  put_file(machine_, before + section_start + kept + tail);
  EXPECT_EQ(query(RegistryRoot::LocalMachine, kMachineKey, "PATH"), "%SystemRoot%;C:\\TOOLS\\GCC\\BIN");
  write("env", "PATH\nREG_SZ\n\\bin\n::\nNEW\nREG_SZ\n\\new\n::\n");
  EXPECT_EQ(configure("c:\\tools\\gcc"), 1);
  uint32_t type = 0;
  EXPECT_EQ(query(RegistryRoot::LocalMachine, kMachineKey, "PATH", &type), "c:\\tools\\gcc\\bin;%SystemRoot%");
  EXPECT_EQ(type, kRegExpandSz);
  std::string after = contents(machine_);
  // Other sections and values come out byte for byte; the changed value
  // keeps its name and place, the new one closes the section.
  EXPECT_EQ(after.find(before + section_start + "; a comment\r\n\"Path\"=hex(2):"), 0u) << after;
  EXPECT_NE(after.find("\"NUMBER_OF_THINGS\"=dword:00000002\r\n\"Odd\"=\"x\"\r\n\"NEW\"=\"c:\\\\tools\\\\gcc\\\\new\"\r\n\r\n"
                       "[HKEY_LOCAL_MACHINE\\Last]\r\n@=\"d\"\r\n"),
            std::string::npos)
      << after;
  // Four bytes, the last zero dropped by query().
  EXPECT_EQ(query(RegistryRoot::LocalMachine, kMachineKey, "NUMBER_OF_THINGS", &type), std::string("\x02\0\0", 3));
  EXPECT_EQ(type, 4u);
}

// A line of the value's name that the store cannot read (a hand edit's
// trailing blank, say) is neither the value nor its absence: a merge that
// took it for absent would add a second line, and the later wins on import.
TEST_F(RegFile, AValueLineThatCannotBeReadIsAFailedReadAndTheFileStays) {
  const std::string head = std::string("REGEDIT4\n\n") + kMachineSection + "\n";
  const char* lines[] = {
      "\"PATH\"=\"C:\\\\WINDOWS\" ",
      "  \"Path\"=\"C:\\\\WINDOWS\"",
      "\"PATH\"=hex(2):43,00,\\ \n  3a,00",
      "\"PATH\"=dword:0000000g",
      "\"PATH\"=-",
  };
  write("env", "PATH\nREG_EXPAND_SZ\n\\bin\n::\n");
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    std::string before = head + "\"A\"=\"1\"\n" + line + "\n";
    put_file(machine_, before);
    std::filesystem::remove(user_);
    RegistryKey key = nullptr;
    ASSERT_EQ(registry->open_key(RegistryRoot::LocalMachine, kMachineKey, &key), 0);
    uint32_t type = 0, size = 1;
    char byte = 0;
    int32_t answer = registry->query_value(key, "PATH", &type, &byte, &size);
    EXPECT_TRUE(answer != 0 && answer != 2 && answer != 234) << answer;
    EXPECT_NE(registry->set_value(key, "PATH", kRegSz, "x", 2), 0);
    registry->close_key(key);
    EXPECT_EQ(configure("c:\\tools\\gcc"), 2) << "the user's key takes it";
    EXPECT_EQ(contents(machine_), before);
    EXPECT_EQ(query(RegistryRoot::LocalMachine, kMachineKey, "A"), "1");
  }
  // Of two lines that can be read, the later is the one an import keeps.
  put_file(machine_, head + "\"PATH\"=\"C:\\\\OLD\"\n\"PATH\"=\"C:\\\\LATER\"\n");
  EXPECT_EQ(query(RegistryRoot::LocalMachine, kMachineKey, "PATH"), "C:\\LATER");
}

TEST_F(RegFile, LongValuesWrapAndReadBack) {
  std::string value;
  for (int i = 0; value.size() < 32000; ++i) value += "c:\\folder" + std::to_string(i) + ";";
  value += "\xE9\x80\xff";
  RegistryKey key = nullptr;
  ASSERT_EQ(registry->create_key(RegistryRoot::CurrentUser, kUserKey, &key), 0);
  ASSERT_EQ(registry->set_value(key, "PATH", kRegExpandSz, value.c_str(), static_cast<uint32_t>(value.size() + 1)), 0);
  registry->close_key(key);
  std::string text = contents(user_);
  std::size_t longest = 0;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    longest = std::max(longest, end - start);
  EXPECT_LE(longest, 80u);
  EXPECT_TRUE(query(RegistryRoot::CurrentUser, kUserKey, "PATH") == value);
}

TEST_F(RegFile, KeysThatCannotBeWrittenDoNotOpen) {
  // The machine's file lies under a plain file: no key, the user's is used.
  put_file((root_ / "plain").string(), "x");
  setenv("SETUP_MACHINE_REGISTRY", (root_ / "plain" / "environment.reg").c_str(), 1);
  RegistryKey key = nullptr;
  EXPECT_NE(registry->create_key(RegistryRoot::LocalMachine, kMachineKey, &key), 0);
  write("env", "PATH\nREG_EXPAND_SZ\n\\bin\n::\n");
  EXPECT_EQ(configure("c:\\tools\\gcc"), 2);
  EXPECT_EQ(query(RegistryRoot::CurrentUser, kUserKey, "PATH"), "c:\\tools\\gcc\\bin");
  // A file of another format is not ours to replace.
  put_file(user_, "Windows Registry Editor Version 5.00\n");
  EXPECT_EQ(configure("c:\\tools\\gcc"), 0);
  EXPECT_EQ(contents(user_), "Windows Registry Editor Version 5.00\n");
}

TEST_F(RegFile, FailedWriteLeavesTheFileWhole) {
  RegistryKey key = nullptr;
  ASSERT_EQ(registry->create_key(RegistryRoot::LocalMachine, kMachineKey, &key), 0);
  const char first[] = "one";
  ASSERT_EQ(registry->set_value(key, "A", kRegSz, first, sizeof first), 0);
  std::string whole = contents(machine_);
  // A REGEDIT4 name is one quoted line with no escape for a line end.
  for (const char* name : {"A\nB", "A\rB", "\x01"}) EXPECT_NE(registry->set_value(key, name, kRegSz, "x", 2), 0);
  EXPECT_EQ(contents(machine_), whole);
  // The temporary file cannot be made: the write fails, nothing changes.
  std::filesystem::create_directory(machine_ + ".tmp." + std::to_string(getpid()));
  const char second[] = "two";
  EXPECT_NE(registry->set_value(key, "B", kRegSz, second, sizeof second), 0);
  EXPECT_NE(registry->set_value(key, "A", kRegSz, second, sizeof second), 0);
  registry->close_key(key);
  EXPECT_EQ(contents(machine_), whole);
  EXPECT_EQ(query(RegistryRoot::LocalMachine, kMachineKey, "A"), "one");
  std::filesystem::remove(machine_ + ".tmp." + std::to_string(getpid()));
  for (const auto& entry : std::filesystem::directory_iterator(root_ / "hklm"))
    EXPECT_EQ(entry.path().filename(), "environment.reg");
}

TEST_F(RegFile, UserKeyDefaultsUnderTheConfigFolder) {
  unsetenv("SETUP_USER_REGISTRY");
  setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
  RegistryKey key = nullptr;
  ASSERT_EQ(registry->create_key(RegistryRoot::CurrentUser, kUserKey, &key), 0);
  registry->close_key(key);
  EXPECT_EQ(contents((root_ / "config" / "gcc-setup" / "environment.reg").string()),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Environment]\n");
}

TEST_F(RegFile, InstallationFoundThroughTheFileRegistry) {
  integration_ports().environment = platform_integration_ports().environment;
  // PATH folders are tested in lower case: a scratch folder named so.
  std::filesystem::path root_ = std::filesystem::temp_directory_path() / ("gcc-setup-path-" + std::to_string(getpid()));
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_ / "tools" / "gcc" / "bin");
  std::ofstream(root_ / "tools" / "gcc" / "bin" / "gcc.exe") << "MZ";
  std::filesystem::create_directories(root_ / "fake" / "bin" / "gcc.exe");  // a folder, not a file
  std::string bin = (root_ / "tools" / "gcc" / "bin").string();
  std::string decoy = (root_ / "fake" / "bin").string();
  put_file(user_, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Environment]\n\"PATH\"=\"" + decoy + ";" + bin + "\"\n");
  char folder[kPathBufferSize];
  find_existing_installation(folder);
  EXPECT_EQ(std::string(folder), (root_ / "tools" / "gcc").string());
  std::filesystem::remove_all(root_);
}

}  // namespace
