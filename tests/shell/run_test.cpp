// Whole runs of the native setup program: a small package in a scratch
// folder, a script of user actions on standard input, and the trace of
// what the program showed on standard error.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/program_run.h"

namespace fs = std::filesystem;

namespace {

using SetupRun = ProgramRun;

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() / ("setup-run-" + std::to_string(getpid()) + "-" + info->name());
    fs::remove_all(root_);
    package_ = root_ / "package";
    fs::create_directories(package_);
    // The plain tree, made into a package tree by the maintainers' tool.
    write_file(root_ / "plain" / "bin" / "gcc.exe", "compiler bytes\n");
    write_file(root_ / "plain" / "lib" / "libm.a", std::string(5000, 'm'));
    fs::create_directories(root_ / "plain" / "include" / "empty");
    std::string command = std::string(PKGTREE_PATH) + " compress '" + (root_ / "plain").string() + "' '" +
                          (package_ / "source").string() + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    write_file(package_ / "env", "PATH\nREG_EXPAND_SZ\n\\bin\n::\nGCC_EXEC_PREFIX\nREG_SZ\n\\lib\\\n::\n");
    write_file(package_ / "inf", "Tools\n::\n$\\bin\\gcc.exe,Compiler\n::\nTools\n");
    destination_ = root_ / "dest";
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(root_);
  }

  SetupRun run(const std::vector<std::string>& args, const std::string& script, const Variables& env = {}) {
    Variables all = {{"SETUP_MACHINE_REGISTRY", (root_ / "machine.reg").string()},
                     {"SETUP_USER_REGISTRY", (root_ / "user.reg").string()},
                     {"SETUP_PROGMAN", ""}};
    all.insert(all.end(), env.begin(), env.end());
    return run_program(SETUP_PATH, args, package_, root_, script, all);
  }

  std::string install_script() const {
    return "click 1\ntype " + destination_.string() + "\nclick 5\nclick 7\n";
  }

  // The installation folder as the program names it (its own "\" form).
  std::string program_form(const std::string& native) const {
    std::string s = native;
    for (char& c : s) c = c == '/' ? '\\' : c;
    return s;
  }

  fs::path root_, package_, destination_;
};

std::string current_user() {
  struct passwd* entry = getpwuid(getuid());
  return entry != nullptr ? entry->pw_name : "";
}

TEST_F(RunTest, FromTheLicenceToFinish) {
  SetupRun r = run({"-t", "My Setup"}, install_script());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
  ASSERT_FALSE(r.lines.empty());
  EXPECT_EQ(r.lines[0], "title My Setup");
  EXPECT_EQ(r.lines[1], "create 0 MDICLIENT 35 75 624 292 ");
  EXPECT_EQ(r.lines[2], "create 1 BUTTON 559 406 100 30 Accept");
  EXPECT_EQ(r.lines[3], "create 2 BUTTON 35 406 100 30 Deny");
  EXPECT_TRUE(r.has("create 4 EDIT 35 97 506 18 "));
  EXPECT_TRUE(r.has("create 5 BUTTON 559 409 100 30 Install"));
  EXPECT_TRUE(r.has("create 6 BUTTON 35 409 100 30 Cancel"));

  // The package, expanded.
  EXPECT_EQ(read_file(destination_ / "bin" / "gcc.exe"), "compiler bytes\n");
  EXPECT_EQ(read_file(destination_ / "lib" / "libm.a"), std::string(5000, 'm'));
  EXPECT_TRUE(fs::is_directory(destination_ / "include" / "empty"));

  // The variables, for all users.
  std::string machine = read_file(root_ / "machine.reg");
  EXPECT_NE(machine.find("Session Manager\\Environment]"), std::string::npos) << machine;
  EXPECT_NE(machine.find("\"GCC_EXEC_PREFIX\"=\"" + destination_.string() + "\\\\lib\\\\\""),
            std::string::npos)
      << machine;
  EXPECT_FALSE(fs::exists(root_ / "user.reg"));

  EXPECT_EQ(r.last_paint(5), (std::vector<std::string>{
                                 "text 35 182 Congratulations. GCC has been successfully installed.",
                                 "text 35 207 Please logoff, and login again to effect the settings.",
                                 "text 35 232 GCC have been configured for all users."}));
  // The folder as it was typed; each "$" of the group file became it.
  std::string folder = destination_.string();
  EXPECT_TRUE(r.has("execute [CreateGroup(Tools, )][AddItem(" + folder +
                    "\\bin\\gcc.exe,Compiler)][ShowGroup(Tools,4, )][ExitProgman(1)]"));
  EXPECT_EQ(r.count("execute "), 1);
  // The wizard's own terminate and the server's answer each bring a Finish.
  EXPECT_GE(r.count("create 7 BUTTON 297 409 100 30 Finish"), 1);
  EXPECT_TRUE(r.has("destroy 7"));
}

// Long enough for the dash bar to move while the files go by: the loader,
// the animator and the UI thread all take turns at the progress area (the
// ThreadSanitizer stage runs this too).
TEST_F(RunTest, ManyFilesGoByWhileTheBarMoves) {
  for (int i = 0; i < 1500; ++i)
    write_file(root_ / "plain" / "include" / ("h" + std::to_string(i) + ".h"), "int h" + std::to_string(i) + ";\n");
  std::string command = std::string(PKGTREE_PATH) + " compress '" + (root_ / "plain").string() + "' '" +
                        (package_ / "source").string() + "' > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  SetupRun r = run({}, install_script());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.count("["), 0) << r.err;
  for (int i = 0; i < 1500; i += 149)
    EXPECT_EQ(read_file(destination_ / "include" / ("h" + std::to_string(i) + ".h")), "int h" + std::to_string(i) + ";\n");
  EXPECT_EQ(r.last_paint(5).back(), "text 35 232 GCC have been configured for all users.");
}

TEST_F(RunTest, UserKeyWhenTheMachineKeyCannotBeWritten) {
  write_file(root_ / "blocker", "a file where a folder would be");
  SetupRun r = run({}, install_script(), {{"SETUP_MACHINE_REGISTRY", (root_ / "blocker" / "machine.reg").string()}});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(fs::exists(root_ / "user.reg"));
  EXPECT_EQ(r.last_paint(5).back(), "text 35 232 GCC have been configured for the user, " + current_user() + ".");
}

TEST_F(RunTest, WithoutAServerTheWizardStillFinishes) {
  SetupRun r = run({}, install_script(), {{"SETUP_PROGMAN", "none"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.count("execute "), 0);
  EXPECT_EQ(r.count("create 7 BUTTON"), 1);  // only the wizard's own terminate
  EXPECT_EQ(r.count("["), 0) << r.err;       // and no message box
  EXPECT_TRUE(fs::exists(destination_ / "bin" / "gcc.exe"));
}

TEST_F(RunTest, DenyEndsAtOnceAndEndOfInputClosesTheWindow) {
  SetupRun deny = run({}, "click 2\n");
  EXPECT_EQ(deny.status, 0);
  EXPECT_TRUE(deny.has("destroy 2"));
  EXPECT_FALSE(fs::exists(destination_));

  SetupRun closed = run({}, "");
  EXPECT_EQ(closed.status, 0);
  EXPECT_TRUE(closed.has("destroy 1"));
  EXPECT_EQ(closed.count("["), 0);

  SetupRun cancel = run({}, "click 1\nclick 6\n");
  EXPECT_EQ(cancel.status, 0);
  EXPECT_TRUE(cancel.has("destroy 6"));
  EXPECT_FALSE(fs::exists(destination_));
}

TEST_F(RunTest, BrowseAppendsGccAndCancellingKeepsTheText) {
  fs::path picked = root_ / "picked";
  fs::create_directories(picked);
  SetupRun r = run({}, "click 1\nbrowse " + picked.string() + "\nbrowse\nclick 5\nclick 7\n");
  EXPECT_EQ(r.status, 0);
  std::string shown = program_form(picked.string()) + "\\gcc";
  EXPECT_TRUE(r.has("set 4 " + shown));
  EXPECT_EQ(r.count("set 4 "), 2);  // the proposal, then the one Browse; the cancel sets nothing
  EXPECT_EQ(read_file(picked / "gcc" / "bin" / "gcc.exe"), "compiler bytes\n");
}

TEST_F(RunTest, MissingPackageTreeIsFatalAfterTheFolderIsMade) {
  fs::remove_all(package_ / "source");
  SetupRun r = run({}, install_script());
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.has("[Error] Source directory does not exist."));
  EXPECT_TRUE(fs::is_directory(destination_));
  EXPECT_EQ(r.count("paint 5"), 0);
}

TEST_F(RunTest, NoticeShowsTheLibraryParagraphOnlyWithTheOption) {
  SetupRun hidden = run({}, "");
  std::string header;
  std::vector<std::string> rows = hidden.pane(0, &header);
  EXPECT_EQ(header, "pane 0");
  ASSERT_EQ(rows.size(), 14u);  // a client height of 290 holds 14 rows
  EXPECT_EQ(rows[0], "row 5 5 ");
  EXPECT_EQ(rows[5], "row 5 105 " + std::string(79, '-'));  // the rule follows the first paragraph
  EXPECT_EQ(rows[13].substr(0, 10), "row 5 265 ");

  SetupRun shown = run({"-n"}, "");
  rows = shown.pane(0);
  ASSERT_EQ(rows.size(), 14u);
  EXPECT_NE(rows[5], "row 5 105 " + std::string(79, '-'));
  EXPECT_EQ(rows[11], "row 5 225 " + std::string(79, '-'));
}

TEST_F(RunTest, ScrollingMovesThePaneWithinItsBounds) {
  SetupRun r = run({}, "scroll 1 0\nscroll 0 0\nscroll 0 0\nscroll 3 0\nscroll 4 377\nscroll 1 0\nscroll 5 100\n");
  EXPECT_EQ(r.status, 0);
  std::vector<std::string> tops;
  for (const std::string& l : r.lines) {
    if (l.rfind("pane ", 0) == 0) tops.push_back(l.substr(5));
  }
  // First paint, line down, line up, line up at the top, page down, thumb
  // past the line bound, and a line down that brings it back; the thumb
  // track repaints nothing.
  EXPECT_EQ(tops, (std::vector<std::string>{"0", "1", "0", "0", "14", "377", "376"}));
  std::vector<std::string> last = r.pane(5);
  ASSERT_EQ(last.size(), 2u);  // rows 383 and 384, the rest blank
}

}  // namespace
