// Whole runs of the native uninstaller after the native installer: a small
// package installed with its list beside it, then removed, in the window
// (scripted) or silently; the registry files, the trace and the folder are
// looked at afterwards.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../support/program_run.h"
#include "engine/engine_ports.h"
#include "integration/environment.h"
#include "platform/integration_platform.h"
#include "platform/platform.h"
#include "uninstall/manifest.h"

namespace fs = std::filesystem;

namespace {

const char kEnv[] = "PATH\nREG_EXPAND_SZ\n\\bin\n::\nGCC_EXEC_PREFIX\nREG_SZ\n\\lib\\\n::\n";
const char kInf[] = "Tools\n::\n$\\bin\\gcc.exe,Compiler\n::\nTools\n";
const char kUninstaller[] = "MZ the uninstaller as the package ships it";
const char kMachineFile[] =
    "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\n"
    "\"ComSpec\"=\"C:\\\\WINDOWS\\\\system32\\\\cmd.exe\"\n\n";
const char kUserFile[] = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Environment]\n\"TEMP\"=\"C:\\\\temp\"\n\n";

// Every path under `root` with its bytes (folders as "<folder>").
std::map<std::string, std::string> snapshot(const fs::path& root) {
  std::map<std::string, std::string> all;
  if (!fs::exists(root)) return all;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    all[entry.path().lexically_relative(root).string()] =
        entry.is_directory() ? "<folder>" : read_file(entry.path());
  return all;
}

// The lines of a text, in no order: what the user added is listed as the
// system lists a folder.
std::set<std::string> lines_of(const std::string& text) {
  std::set<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.insert(line);
  return lines;
}

class UninstallRun : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("uninstall-run-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    package_ = root_ / "package";
    dest_ = root_ / "dest";
    write_file(root_ / "plain" / "bin" / "gcc.exe", "compiler bytes\n");
    write_file(root_ / "plain" / "lib" / "libm.a", std::string(5000, 'm'));
    fs::create_directories(root_ / "plain" / "include" / "empty");
    fs::create_directories(package_);
    std::string command = std::string(PKGTREE_PATH) + " -q compress '" + (root_ / "plain").string() + "' '" +
                          (package_ / "source").string() + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    write_file(package_ / "env", kEnv);
    write_file(package_ / "inf", kInf);
    write_file(root_ / "machine.reg", kMachineFile);
    write_file(root_ / "user.reg", kUserFile);
    setenv("SETUP_MACHINE_REGISTRY", (root_ / "machine.reg").c_str(), 1);
    setenv("SETUP_USER_REGISTRY", (root_ / "user.reg").c_str(), 1);
    engine_ports() = platform_engine_ports();
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(root_);
  }

  Variables registry_files() const {
    return {{"SETUP_MACHINE_REGISTRY", (root_ / "machine.reg").string()},
            {"SETUP_USER_REGISTRY", (root_ / "user.reg").string()},
            {"SETUP_PROGMAN", ""}};
  }

  // The installer, then what the package maker adds: uninstall.exe and the list.
  void install(std::string* out = nullptr) {
    ProgramRun r = run_program(SETUP_PATH, {}, package_, root_,
                               "click 1\ntype " + dest_.string() + "\nclick 5\nclick 7\n", registry_files());
    ASSERT_EQ(r.status, 0);
    if (out != nullptr) *out = r.out;
    ASSERT_TRUE(fs::exists(dest_ / "bin" / "gcc.exe")) << r.err;
    std::string text, why;
    ASSERT_TRUE(package_manifest((root_ / "plain").c_str(), kUninstaller, kEnv, kInf, &text, &why)) << why;
    write_file(dest_ / kManifestName, text);
    write_file(dest_ / kUninstallerName, kUninstaller);
  }

  ProgramRun uninstall(const std::vector<std::string>& args, const std::string& script = "",
                       const Variables& env = {}) {
    Variables all = registry_files();
    all.insert(all.end(), env.begin(), env.end());
    return run_program(UNINSTALL_PATH, args, root_, root_, script, all);
  }

  // A value of a key through the native registry, as text.
  std::string value_of(const char* name, uint32_t* type = nullptr, RegistryRoot root = RegistryRoot::LocalMachine) {
    Registry* registry = platform_integration_ports().registry;
    RegistryKey key = nullptr;
    const char* path = root == RegistryRoot::LocalMachine ? kMachineEnvironmentKey : kUserEnvironmentKey;
    if (registry->open_key_for_reading(root, path, &key) != 0) return "<no key>";
    uint32_t t = 0;
    std::string value;
    int32_t answer = registry->query_text(key, name, &t, &value);
    registry->close_key(key);
    if (answer != 0) return "<none>";
    if (type != nullptr) *type = t;
    return value;
  }
  std::string machine_value(const char* name, uint32_t* type = nullptr) { return value_of(name, type); }

  // `text` with its terminator.
  void set_machine_value(const char* name, uint32_t type, const std::string& text) {
    Registry* registry = platform_integration_ports().registry;
    RegistryKey key = nullptr;
    ASSERT_EQ(registry->open_key(RegistryRoot::LocalMachine, kMachineEnvironmentKey, &key), 0);
    EXPECT_EQ(registry->set_value(key, name, type, text.c_str(), static_cast<uint32_t>(text.size() + 1)), 0);
    registry->close_key(key);
  }

  std::string in_dest(const std::string& relative) const { return dest_.string() + "\\" + relative; }

  fs::path root_, package_, dest_;
};

TEST_F(UninstallRun, RemovesWhatTheInstallerDidAndNothingElse) {
  install();
  ProgramRun r = uninstall({dest_.string()}, "click 1\nclick 7\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_FALSE(fs::exists(dest_));
  // The variables did not exist before: both files are as they were.
  EXPECT_EQ(read_file(root_ / "machine.reg"), kMachineFile);
  EXPECT_EQ(read_file(root_ / "user.reg"), kUserFile);
  EXPECT_TRUE(r.has("title Uninstall Tools"));
  EXPECT_TRUE(r.has("text 35 17 Remove Tools from " + dest_.string() + "?")) << r.err;
  EXPECT_TRUE(r.has("create 1 BUTTON 559 409 100 30 Remove"));
  EXPECT_TRUE(r.has("execute [DeleteGroup(Tools)]")) << r.err;
  EXPECT_EQ(r.last_paint(3), (std::vector<std::string>{
                                 "text 35 57 Tools has been removed from " + dest_.string() + ".",
                                 "text 35 82 Removed: 3 files, 4 folders, 2 items of the environment, the program group."}))
      << r.err;
  EXPECT_EQ(r.out, "");
}

TEST_F(UninstallRun, OnlyThePackagesItemsLeaveAPathThatHadItemsBefore) {
  set_machine_value("PATH", kRegExpandSz, "C:\\WINDOWS;C:\\tools");
  install();
  ASSERT_EQ(machine_value("PATH"), in_dest("bin") + ";C:\\WINDOWS;C:\\tools");
  set_machine_value("PATH", kRegExpandSz, in_dest("bin") + ";C:\\WINDOWS;C:\\tools;D:\\mine");

  // A key it may not write, and no group server: both are reported, and
  // the list keeps them for a later run.
  chmod((root_ / "machine.reg").c_str(), 0444);
  std::string locked = read_file(root_ / "machine.reg");
  ProgramRun first = uninstall({"/S", dest_.string()}, "", {{"SETUP_PROGMAN", "none"}});
  EXPECT_EQ(first.status, 1);
  EXPECT_EQ(first.out, in_dest("bin") + " in PATH for all users: no right to change it\n" + in_dest("lib\\") +
                           " in GCC_EXEC_PREFIX for all users: no right to change it\n"
                           "the program group Tools: no Program Manager answered\n");
  EXPECT_EQ(read_file(root_ / "machine.reg"), locked);
  EXPECT_FALSE(fs::exists(dest_ / "bin"));
  EXPECT_TRUE(fs::exists(dest_ / kUninstallerName));

  chmod((root_ / "machine.reg").c_str(), 0644);
  ProgramRun second = uninstall({"/S", dest_.string()});
  EXPECT_EQ(second.status, 0) << second.out << second.err;
  EXPECT_EQ(second.out, "");
  EXPECT_TRUE(second.has("execute [DeleteGroup(Tools)]")) << second.err;
  uint32_t type = 0;
  EXPECT_EQ(machine_value("PATH", &type), "C:\\WINDOWS;C:\\tools;D:\\mine");
  EXPECT_EQ(type, kRegExpandSz);
  EXPECT_EQ(machine_value("GCC_EXEC_PREFIX"), "<none>");
  EXPECT_FALSE(fs::exists(dest_));
}

// Items of other programs outside any ANSI code page, and values that are
// not a list of text: the install and the removal leave them byte for byte.
TEST_F(UninstallRun, OtherProgramsPathItemsAndDataComeBackByteForByte) {
  const std::string others = "C:\\Łukasz\\bin;C:\\工具\\bin";
  set_machine_value("PATH", kRegExpandSz, others);
  install();
  EXPECT_EQ(machine_value("PATH"), in_dest("bin") + ";" + others);
  ProgramRun removed = uninstall({"/S", dest_.string()});
  EXPECT_EQ(removed.status, 0) << removed.out << removed.err;
  uint32_t type = 0;
  EXPECT_EQ(machine_value("PATH", &type), others);
  EXPECT_EQ(type, kRegExpandSz);

  // Binary data under the name, holding the package's item as bytes.
  set_machine_value("PATH", 3, in_dest("bin") + ";C:\\x");
  std::string machine = read_file(root_ / "machine.reg"), said;
  install(&said);
  EXPECT_EQ(said, "PATH for all users is left as it was: it is not plain text.\n");
  EXPECT_EQ(read_file(root_ / "machine.reg"), machine);
  EXPECT_EQ(value_of("PATH", nullptr, RegistryRoot::CurrentUser), in_dest("bin")) << "the user's key took them";

  // A text with a zero inside: the rest of it is no item to drop.
  const char zero[] = "\0;C:\\x";
  set_machine_value("PATH", kRegExpandSz, in_dest("bin") + std::string(zero, sizeof zero - 1));
  machine = read_file(root_ / "machine.reg");
  ProgramRun kept = uninstall({"/S", dest_.string()});
  EXPECT_EQ(kept.status, 1);
  EXPECT_EQ(kept.out, "PATH for all users: it is not plain text\n");
  EXPECT_EQ(read_file(root_ / "machine.reg"), machine);
  EXPECT_EQ(value_of("PATH", nullptr, RegistryRoot::CurrentUser), "<none>");
}

TEST_F(UninstallRun, ChangedAndAddedFilesStayWithTheirFolderAndASecondRunHasNothingToDo) {
  install();
  write_file(dest_ / "bin" / "gcc.exe", "compiler BYTES\n");  // same size, other bytes
  write_file(dest_ / "lib" / "mine.txt", "my notes");
  write_file(dest_ / "lib" / "new\nline", "");
  ProgramRun first = uninstall({"/S", dest_.string()});
  EXPECT_EQ(first.status, 1);
  EXPECT_EQ(lines_of(first.out), (std::set<std::string>{in_dest("bin\\gcc.exe") + ": changed since it was installed",
                                                        in_dest("lib\\mine.txt") + ": added after the installation",
                                                        in_dest("lib\\new?line") + ": added after the installation",
                                                        in_dest("lib") + ": it holds what is kept",
                                                        in_dest("bin") + ": it holds what is kept"}));
  EXPECT_EQ(read_file(dest_ / "bin" / "gcc.exe"), "compiler BYTES\n");
  EXPECT_EQ(read_file(dest_ / "lib" / "mine.txt"), "my notes");
  EXPECT_FALSE(fs::exists(dest_ / "lib" / "libm.a"));
  EXPECT_FALSE(fs::exists(dest_ / "include"));
  EXPECT_TRUE(fs::exists(dest_ / kUninstallerName));
  EXPECT_EQ(machine_value("PATH"), "<none>");

  // Nothing left to ask about: the window goes straight to saying so.
  std::map<std::string, std::string> before = snapshot(dest_);
  ProgramRun second = uninstall({dest_.string()}, "click 7\n");
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.count("create 1 BUTTON"), 0);
  EXPECT_EQ(second.count("execute "), 0);
  std::vector<std::string> page = second.last_paint(3);
  ASSERT_GE(page.size(), 3u) << second.err;
  EXPECT_EQ(page[0], "text 35 57 Nothing of Tools was left to remove in " + dest_.string() + ".");
  EXPECT_EQ(page[1], "text 35 82 Removed: 0 files, 0 folders, 0 items of the environment.");
  EXPECT_EQ(page.size(), 8u) << "the five kept, and where the rest is";
  EXPECT_EQ(snapshot(dest_), before);
}

// Links put in place after the install lead nowhere: not the folder given,
// nor a listed folder, nor the list's new copy; what they lead to stays.
TEST_F(UninstallRun, LinksPlantedAfterTheInstallAreNotFollowed) {
  install();
  fs::rename(dest_ / "lib", root_ / "outside-lib");  // the very files, size and bytes as installed
  fs::create_directory_symlink(root_ / "outside-lib", dest_ / "lib");
  write_file(root_ / "victim.txt", "victim data");
  fs::create_symlink(root_ / "victim.txt", dest_ / "uninstall.lst.new");
  fs::create_directory_symlink(dest_, root_ / "linked");
  std::map<std::string, std::string> outside = snapshot(root_ / "outside-lib"), before = snapshot(dest_);

  ProgramRun linked = uninstall({"/S", (root_ / "linked").string()});
  EXPECT_EQ(linked.status, 2);
  EXPECT_TRUE(linked.has("uninstall: The folder " + (root_ / "linked").string() + " is a link to " + dest_.string() +
                         ": nothing was removed."))
      << linked.err;
  EXPECT_EQ(snapshot(dest_), before);

  ProgramRun r = uninstall({"/S", dest_.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(lines_of(r.out), (std::set<std::string>{in_dest("lib") + ": replaced since it was installed",
                                                    in_dest("uninstall.lst.new") + ": added after the installation",
                                                    in_dest("uninstall.lst") + ": could not be updated with what is left"}))
      << r.err;
  EXPECT_FALSE(fs::exists(dest_ / "bin"));
  EXPECT_EQ(snapshot(root_ / "outside-lib"), outside);
  EXPECT_EQ(read_file(root_ / "victim.txt"), "victim data");
  EXPECT_TRUE(fs::is_symlink(dest_ / "uninstall.lst.new"));

  // A leftover new list that is a plain file is no obstacle.
  fs::remove(dest_ / "uninstall.lst.new");
  write_file(dest_ / "uninstall.lst.new", "left by a run that stopped");
  fs::remove(dest_ / "lib");
  fs::rename(root_ / "outside-lib", dest_ / "lib");
  write_file(dest_ / "notes.txt", "mine");
  ProgramRun again = uninstall({"/S", dest_.string()});
  EXPECT_EQ(lines_of(again.out), (std::set<std::string>{in_dest("notes.txt") + ": added after the installation",
                                                        in_dest("uninstall.lst.new") + ": added after the installation"}))
      << again.err;
  EXPECT_FALSE(fs::exists(dest_ / "lib"));
  EXPECT_FALSE(fs::exists(dest_ / "uninstall.lst.new"));
  EXPECT_NE(read_file(dest_ / kManifestName).find("installed-in"), std::string::npos);
}

TEST_F(UninstallRun, ABadListIsRefusedAndNothingIsTouched) {
  install();
  write_file(root_ / "victim" / "bin" / "gcc.exe", "compiler bytes\n");
  write_file(root_ / "other" / "system.ini", "[boot]\n");
  write_file(root_ / "other" / kUninstallerName, kUninstaller);
  std::string good = read_file(dest_ / kManifestName);
  std::string damaged = good;
  damaged[damaged.find("bin\\gcc.exe")] = 'B';
  Manifest outside;
  outside.files = {{"..\\victim\\bin\\gcc.exe", 15, crc32_update(0, "compiler bytes\n", 15)}};
  struct Case {
    const char* what;
    fs::path folder;
    std::string list;  // empty: no list at all
  } cases[] = {{"missing", dest_, ""},
               {"damaged", dest_, damaged},
               {"outside", dest_, format_manifest(outside)},
               {"another folder's", root_ / "other", good}};
  for (const Case& c : cases) {
    fs::remove(dest_ / kManifestName);
    if (!c.list.empty()) write_file(c.folder / kManifestName, c.list);
    std::map<std::string, std::string> dest_before = snapshot(dest_), victim_before = snapshot(root_ / "victim"),
                                       other_before = snapshot(root_ / "other");
    std::string machine = read_file(root_ / "machine.reg");
    ProgramRun r = uninstall({"/S", c.folder.string()});
    EXPECT_EQ(r.status, 2) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(r.count("uninstall: "), 1) << c.what << ": " << r.err;
    EXPECT_EQ(r.count("execute "), 0) << c.what;
    EXPECT_EQ(read_file(root_ / "machine.reg"), machine) << c.what;
    EXPECT_EQ(snapshot(dest_), dest_before) << c.what;
    EXPECT_EQ(snapshot(root_ / "victim"), victim_before) << c.what;
    EXPECT_EQ(snapshot(root_ / "other"), other_before) << c.what;
    fs::remove(root_ / "other" / kManifestName);
  }
  // In the window, the refusal is a message, and the run ends there.
  fs::remove(dest_ / kManifestName);
  ProgramRun shown = uninstall({dest_.string()}, "click 1\n");
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(shown.count("[Uninstall] There is no list of installed files (uninstall.lst) in "), 1) << shown.err;
  EXPECT_EQ(shown.count("title "), 0);
}

}  // namespace
