// The group commands of "inf", their "$" marks, and the conversation.
#include <cstring>
#include <string>

#include "integration/progman.h"
#include "integration_fixture.h"

namespace {

class Group : public IntegrationTest {
 protected:
  void SetUp() override {
    IntegrationTest::SetUp();
    std::strcpy(install_state().destination_folder, "c:\\tools\\gcc");
  }
  std::string commands(const std::string& inf, const char* folder = "c:\\tools\\gcc") {
    write("inf", inf);
    char work[kCommandBufferSize + 1];
    work[kCommandBufferSize] = '#';
    read_group_commands(work, folder);
    EXPECT_EQ(work[kCommandBufferSize], '#');
    return work;
  }
  std::string expanded(const std::string& assembled, const char* folder, bool* fits = nullptr) {
    char text[kCommandBufferSize + 1];
    text[kCommandBufferSize] = '#';
    bool whole = expand_folder_marks(assembled.c_str(), folder, text);
    if (fits != nullptr) *fits = whole;
    EXPECT_EQ(text[kCommandBufferSize], '#');
    return text;
  }
  WindowHandle wizard_ = reinterpret_cast<WindowHandle>(0x77);
};

using Calls = std::vector<std::string>;

TEST_F(Group, CommandsOfEachSection) {
  EXPECT_EQ(commands("Tools\n::\n$\\bin\\gcc.exe,Compiler\n::\nTools\n"),
            "[CreateGroup(Tools, )][AddItem($\\bin\\gcc.exe,Compiler)][ShowGroup(Tools,4, )][ExitProgman(1)]");
  EXPECT_EQ(commands("A\n\nB"), "[CreateGroup(A, )][CreateGroup(, )][CreateGroup(B, )][ExitProgman(1)]");
  EXPECT_EQ(commands("G\n::\n::\nG\n::\nignored\n::\nalso\n"),
            "[CreateGroup(G, )][ShowGroup(G,4, )][ExitProgman(1)]");
  EXPECT_EQ(commands(""), "[ExitProgman(1)]");
  EXPECT_EQ(commands("G\r\n::\r\nx,y\r\n"), "[CreateGroup(G, )][AddItem(x,y)][ExitProgman(1)]");
}

TEST_F(Group, MissingFileGivesAnEmptyText) {
  char work[kCommandBufferSize];
  std::strcpy(work, "stale");
  read_group_commands(work, "c:\\x");
  EXPECT_STREQ(work, "");
}

TEST_F(Group, DollarRuns) {
  const char* f = "c:\\tools\\gcc";
  EXPECT_EQ(expanded("[AddItem($\\bin\\gcc.exe,Compiler)]", f), "[AddItem(c:\\tools\\gcc\\bin\\gcc.exe,Compiler)]");
  EXPECT_EQ(expanded("[AddItem($$\\bin)]", f), "[AddItem(c:\\tools\\gcc\\bin)]");
  EXPECT_EQ(expanded("[CreateGroup(G$ $, )]", f), "[CreateGroup(Gc:\\tools\\gcc c:\\tools\\gcc, )]");
  EXPECT_EQ(expanded("$$a$b$", f), "ac:\\tools\\gccb") << "marks at either end vanish";
  EXPECT_EQ(expanded("no marks", f), "no marks");
  EXPECT_EQ(expanded("", f), "");
  EXPECT_EQ(expanded("$$$", f), "");
}

TEST_F(Group, CommandsThatWouldNotFitAreLeftOutWhole) {
  // 20 items of 79 characters: the assembled text would pass 1023.
  std::string inf = "G\n::\n";
  for (int i = 0; i < 20; ++i) inf += std::string(77, static_cast<char>('a' + i)) + ",x\n";
  std::string text = commands(inf);
  EXPECT_LE(text.size(), 1023u);
  ASSERT_GE(text.size(), 16u);
  EXPECT_EQ(text.substr(text.size() - 16), "[ExitProgman(1)]");
  // The group's 18 characters, 10 items of 90 and the exit's 16 make 934.
  EXPECT_EQ(text.size(), 934u);
  EXPECT_NE(text.find(std::string(77, 'j')), std::string::npos);
  EXPECT_EQ(text.find(std::string(77, 'k')), std::string::npos);
  // Every command is whole.
  EXPECT_EQ(text.find("[AddItem("), 18u);
}

TEST_F(Group, ExpansionIsAccountedForBeforeSending) {
  // Short lines, a long folder: the expanded text decides.
  std::string folder(200, 'f');
  std::string text = commands("$\n::\n$a\n$b\n$c\n$d\n$e\n::\n$\n", folder.c_str());
  EXPECT_EQ(text, "[CreateGroup($, )][AddItem($a)][AddItem($b)][AddItem($c)][ExitProgman(1)]");
  bool fits = false;
  std::string sent = expanded(text, folder.c_str(), &fits);
  EXPECT_TRUE(fits);
  EXPECT_EQ(sent.size(), 4 * 200 + text.size() - 4);
}

TEST_F(Group, OverlongLineGivesNoCommand) {
  std::string long_line(80, 'x');
  EXPECT_EQ(commands("G\n::\n" + long_line + "\nok\n::\n" + std::string(79, 's') + "\n"),
            "[CreateGroup(G, )][AddItem(ok)][ShowGroup(" + std::string(79, 's') + ",4, )][ExitProgman(1)]");
}

TEST_F(Group, ExpansionThatOverflowsKeepsWholeCommands) {
  std::string folder(259, 'f');
  bool fits = true;
  std::string sent = expanded("[CreateGroup(G, )][AddItem($1$2$3)][AddItem($4)][ExitProgman(1)]", folder.c_str(), &fits);
  EXPECT_FALSE(fits);
  EXPECT_EQ(sent, "[CreateGroup(G, )][AddItem(" + folder + "1" + folder + "2" + folder +
                      "3)][ExitProgman(1)]");
}

TEST_F(Group, OneServerConversation) {
  write("inf", "Tools\n::\n$\\bin\\gcc.exe,Compiler\n::\nTools\n");
  start_group_conversation(wizard_);
  EXPECT_EQ(dde_.calls, (Calls{"add_atom PROGMAN", "initiate 49374 49374", "allocate 1024",
                               "execute 256", "delete_atom 49374", "terminate"}));
  ASSERT_EQ(dde_.executed.size(), 1u);
  EXPECT_EQ(dde_.executed[0],
            "[CreateGroup(Tools, )][AddItem(c:\\tools\\gcc\\bin\\gcc.exe,Compiler)]"
            "[ShowGroup(Tools,4, )][ExitProgman(1)]");
  EXPECT_NE(progman_conversation().command_block, nullptr);
  // The wizard's own terminate releases the block; the server's second one
  // finds nothing to release and is not a failure.
  dde_.calls.clear();
  on_dde_terminate(wizard_, 0x77, 0);
  on_dde_terminate(wizard_, 0x100, 0);
  EXPECT_EQ(dde_.calls, (Calls{"unlock", "free", "command 8", "command 8"}));
  EXPECT_EQ(progman_conversation().command_block, nullptr);
  EXPECT_EQ(progman_conversation().command_text, nullptr);
  EXPECT_EQ(dde_.blocks_live, 0);
  EXPECT_TRUE(shower_.shown.empty());
}

TEST_F(Group, NoServerAnswers) {
  dde_.servers = 0;
  start_group_conversation(wizard_);
  on_dde_terminate(wizard_, 0x77, 0);
  EXPECT_EQ(dde_.calls, (Calls{"add_atom PROGMAN", "initiate 49374 49374", "delete_atom 49374",
                               "terminate", "command 8"}));
  EXPECT_TRUE(shower_.shown.empty()) << "no GlobalUnlock failure in a normal run";
}

TEST_F(Group, TwoServersEachGetABlock) {
  dde_.servers = 2;
  write("inf", "G\n");
  start_group_conversation(wizard_);
  EXPECT_EQ(dde_.executed, (Calls{"[CreateGroup(G, )][ExitProgman(1)]", "[CreateGroup(G, )][ExitProgman(1)]"}));
  EXPECT_EQ(dde_.blocks_live, 2);
  on_dde_terminate(wizard_, 0x77, 0);
  EXPECT_EQ(dde_.blocks_live, 1) << "the last block is the one held";
  EXPECT_EQ(std::count(dde_.calls.begin(), dde_.calls.end(), "execute 256"), 1);
  EXPECT_EQ(std::count(dde_.calls.begin(), dde_.calls.end(), "execute 512"), 1);
}

TEST_F(Group, OtherAcknowledgementsAreIgnored) {
  dde_.wrong_atom = true;
  start_group_conversation(wizard_);
  EXPECT_TRUE(dde_.executed.empty());
  dde_.calls.clear();
  // An acknowledgement of the execute carries other data.
  on_dde_ack(wizard_, 0x100, 0x1);
  EXPECT_TRUE(dde_.calls.empty());
}

TEST_F(Group, MissingInfStillSendsAnEmptyExecute) {
  start_group_conversation(wizard_);
  EXPECT_EQ(dde_.executed, (Calls{""}));
  on_dde_terminate(wizard_, 0x77, 0);
  EXPECT_EQ(dde_.calls.back(), "command 8");
}

TEST_F(Group, ReleaseFailuresAreShownAndTheRunGoesOn) {
  start_group_conversation(wizard_);
  dde_.unlock_fails = true;
  dde_.free_fails = true;
  on_dde_terminate(wizard_, 0x77, 0);
  EXPECT_EQ(shower_.shown, (Calls{"Error: GlobalUnlock: failed.", "Error: GlobalFree: failed."}));
  EXPECT_NE(progman_conversation().command_text, nullptr) << "the block is still held";
  EXPECT_EQ(dde_.calls.back(), "command 8");
}

TEST_F(Group, AtomThatCannotBeDroppedIsFatal) {
  dde_.delete_answer = 1;
  try {
    start_group_conversation(wizard_);
    ADD_FAILURE() << "no fatal failure";
  } catch (const FatalCall& call) {
    EXPECT_EQ(call.text, "GlobalDeleteAtom failed: Cannot create a task bar.");
    EXPECT_EQ(call.caption, "Error");
  }
  EXPECT_EQ(dde_.calls.back(), "delete_atom 49374") << "no terminate after it";
}

}  // namespace
