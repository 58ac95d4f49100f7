// The uninstaller's list: what the package maker writes reads back whole,
// and every damage or path that reaches outside the folder is refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "../support/test_files.h"
#include "engine/engine_ports.h"
#include "platform/platform.h"
#include "uninstall/manifest.h"
#include "uninstall/program_copy.h"

namespace fs = std::filesystem;

namespace {

Manifest hostile_manifest() {
  Manifest m;
  m.groups = {"GCC 100% $", "tab\there"};
  m.env_lines = {"# comment", "PATH", "REG_EXPAND_SZ", "\\bin;\\lib\r", "::"};
  m.folders = {"bin", "my docs", "my docs\\deep er"};
  m.files = {{"bin\\gcc.exe", 123456789012ULL, 0xcbf43926}, {"my docs\\a b%.txt", 0, 0}};
  m.installed_in = "C:\\Program Files\\gcc";
  m.name = "GCC 100% $";
  return m;
}

const char* parse(const std::string& text, Manifest* m, int* line) {
  return parse_manifest(text.data(), text.size(), m, line);
}

TEST(Manifest, WhatIsWrittenReadsBackWhole) {
  Manifest in = hostile_manifest(), out;
  std::string text = format_manifest(in);
  int line = -1;
  ASSERT_EQ(parse(text, &out, &line), nullptr) << text;
  EXPECT_EQ(out.groups, in.groups);
  EXPECT_EQ(out.env_lines, in.env_lines);
  EXPECT_EQ(out.folders, in.folders);
  ASSERT_EQ(out.files.size(), 2u);
  EXPECT_EQ(out.files[0].size, 123456789012ULL);
  EXPECT_EQ(out.files[0].crc, 0xcbf43926u);
  EXPECT_EQ(out.files[1].path, "my docs\\a b%.txt");
  EXPECT_EQ(out.installed_in, in.installed_in);
  EXPECT_EQ(out.name, in.name);
  // Plain text: the bytes that would break a line are escaped.
  EXPECT_NE(text.find("group GCC 100%25 $\n"), std::string::npos) << text;
  EXPECT_NE(text.find("env \\bin;\\lib%0D\n"), std::string::npos) << text;
  EXPECT_NE(text.find("file 123456789012 cbf43926 bin\\gcc.exe\n"), std::string::npos) << text;
}

TEST(Manifest, AnyCutOrChangedByteIsDamage) {
  std::string text = format_manifest(hostile_manifest());
  Manifest m;
  int line = 0;
  for (std::size_t n = 0; n < text.size(); ++n)
    EXPECT_NE(parse(text.substr(0, n), &m, &line), nullptr) << "cut to " << n;
  for (std::size_t i = 0; i < text.size(); ++i) {
    for (char delta : {1, 32}) {
      std::string changed = text;
      changed[i] = static_cast<char>(changed[i] ^ delta);
      EXPECT_NE(parse(changed, &m, &line), nullptr) << "byte " << i << " changed";
    }
  }
  EXPECT_NE(parse(text + "group more\n", &m, &line), nullptr);
  EXPECT_NE(parse(text + "\n", &m, &line), nullptr);
}

TEST(Manifest, PathsThatLeaveTheFolderOrThatTheInstallerRefusesAreRefused) {
  const std::string too_long(260, 'a');
  for (const std::string& path : {std::string("..\\boot.ini"), std::string("bin\\..\\..\\x"), std::string("C:\\Windows\\x"),
                                  std::string("\\Windows"), std::string("bin\\\\x"), std::string("bin\\"), std::string("."),
                                  std::string("bin/../x"), std::string("con"), std::string("bin\\nul.txt"), std::string("a\x01z"), too_long}) {
    Manifest m;
    m.files = {{path, 1, 0}};
    Manifest out;
    int line = 0;
    EXPECT_NE(parse(format_manifest(m), &out, &line), nullptr) << path;
    EXPECT_EQ(line, 2) << path;
    m.files.clear();
    m.folders = {path};
    EXPECT_NE(parse(format_manifest(m), &out, &line), nullptr) << path;
  }
  EXPECT_TRUE(manifest_path_is_sound("bin\\gcc.exe"));
  EXPECT_TRUE(manifest_path_is_sound(std::string(259, 'a')));
}

class ManifestTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("manifest-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    write_file(root_ / "plain" / "bin" / "gcc.exe", "123456789");
    write_file(root_ / "plain" / "lib" / "libm.a", std::string(200000, 'm'));
    fs::create_directories(root_ / "plain" / "include" / "empty");
    engine_ports() = platform_engine_ports();
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(ManifestTree, ThePackageMakersListOfATree) {
  std::string text, why;
  ASSERT_TRUE(package_manifest((root_ / "plain").string().c_str(), "MZ uninstaller",
                               "PATH\r\nREG_EXPAND_SZ\r\n\\bin\r\n::\r\n",
                               "GCC Demo,gcc.grp\n\n::\n$\\bin\\gcc.exe,Compiler\n::\nGCC Demo\n", &text, &why))
      << why;
  Manifest m;
  int line = 0;
  ASSERT_EQ(parse(text, &m, &line), nullptr) << text;
  EXPECT_EQ(m.groups, std::vector<std::string>{"GCC Demo"});
  EXPECT_EQ(m.env_lines, (std::vector<std::string>{"PATH", "REG_EXPAND_SZ", "\\bin", "::"}));
  std::vector<std::string> folders = m.folders;
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"bin", "include", "include\\empty", "lib"}));
  ASSERT_EQ(m.files.size(), 3u);
  for (const ManifestFile& f : m.files) {
    if (f.path == "bin\\gcc.exe") {
      EXPECT_EQ(f.crc, 0xcbf43926u);  // the CRC-32 check value
    }
    if (f.path == "lib\\libm.a") {
      EXPECT_EQ(f.size, 200000u);
    }
  }
  EXPECT_EQ(m.files.back().path, "uninstall.exe");
  EXPECT_EQ(m.files.back().size, 14u);

  // The installer would write nothing of an env it cannot read.
  EXPECT_FALSE(package_manifest((root_ / "plain").string().c_str(), "", "PATH\nreg_sz\n\\bin\n::\n", "", &text, &why));
  EXPECT_NE(why.find("key value not defined."), std::string::npos) << why;
  // The names the package adds must not be in the tree already.
  write_file(root_ / "plain" / "Uninstall.LST", "");
  EXPECT_FALSE(package_manifest((root_ / "plain").string().c_str(), "", "", "", &text, &why));
  EXPECT_NE(why.find("uninstall.lst"), std::string::npos) << why;
}

}  // namespace

// A run that finds the starter's variable acts as the copy only from a
// folder made for a copy; from anywhere else the variable is ignored.
TEST(ProgramCopy, OnlyAFolderMadeForACopyMakesARunTheCopy) {
  const std::string temp = "C:\\Users\\me\\AppData\\Local\\Temp\\";
  std::string made = temp + copy_folder_name(0x0123456789ABCDEFULL) + "\\uninstall.exe";
  EXPECT_EQ(made, temp + "gcc-uninstall-0123456789abcdef\\uninstall.exe");
  EXPECT_TRUE(is_copy_program(made, temp));
  EXPECT_TRUE(is_copy_program("c:\\users\\ME\\appdata\\local\\temp\\GCC-Uninstall-0123456789ABCDEF\\UNINSTALL.EXE",
                              temp.substr(0, temp.size() - 1)));
  for (const std::string& other : {std::string("C:\\gcc\\uninstall.exe"),  // the installed one
                                   temp + "uninstall.exe", temp + "gcc-uninstall-0123456789abcde\\uninstall.exe",
                                   temp + "gcc-uninstall-0123456789abcdeg\\uninstall.exe",
                                   temp + "gcc-uninstall-0123456789abcdef\\x\\uninstall.exe",
                                   temp + "gcc-uninstall-0123456789abcdef\\setup.exe",
                                   std::string("D:\\Temp\\gcc-uninstall-0123456789abcdef\\uninstall.exe")})
    EXPECT_FALSE(is_copy_program(other, temp)) << other;
  EXPECT_FALSE(is_copy_program(made, ""));
}
