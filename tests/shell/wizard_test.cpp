#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "engine/engine.h"
#include "shell_fakes.h"

namespace {

using Controls = std::vector<std::string>;

class WizardTest : public ShellTest {
 protected:
  std::size_t position_of(const std::string& call) {
    auto it = std::find(windows_.calls.begin(), windows_.calls.end(), call);
    EXPECT_NE(it, windows_.calls.end()) << call;
    return static_cast<std::size_t>(it - windows_.calls.begin());
  }
  void install_with(const std::string& text) {
    go_to_folder_page();
    windows_.find(windows_.handle_of_id(4, "EDIT"))->text = text;
    command(kCommandInstall);
  }
};

TEST_F(WizardTest, PageOneHasThePaneAndTwoButtonsInPlace) {
  create_main_window();
  EXPECT_EQ(windows_.live_controls(), (Controls{"0 MDICLIENT 35 75 624 292 ", "1 BUTTON 559 406 100 30 Accept",
                                                "2 BUTTON 35 406 100 30 Deny"}));
  const InstallState& s = install_state();
  EXPECT_EQ(s.wizard_window, main_);
  EXPECT_EQ(s.client_width, 694);
  EXPECT_EQ(s.pane_height, 292);
  const FakeWindow& pane = windows_.windows[1];
  EXPECT_EQ(pane.style, kWsChild | kWsClipChildren | kWsBorder | kWsVScroll);
  EXPECT_EQ(windows_.windows[2].style, kWsChild | kWsVisible | kBsPushButton);
  // The pane is made hidden and shown only once both buttons exist.
  EXPECT_LT(position_of("brush " + std::to_string(rgb(224, 223, 209))), position_of("register_notice"));
  EXPECT_LT(position_of("create BUTTON 2"), position_of("show 0 MDICLIENT 5"));
  EXPECT_TRUE(pane.visible);
  EXPECT_TRUE(windows_.boxes.empty());
}

// The other client size of the layout: the places the wizard works out from
// the width move with it.
TEST_F(WizardTest, AtTheWindowsWholeSizeThePlacesFollowTheWidth) {
  windows_.client = Rect{0, 0, 700, 500};
  create_main_window();
  EXPECT_EQ(windows_.live_controls(), (Controls{"0 MDICLIENT 35 75 630 309 ", "1 BUTTON 565 427 100 30 Accept",
                                                "2 BUTTON 35 427 100 30 Deny"}));
  EXPECT_EQ(paint().back(), (DrawnText{310, 468, "Built and Distributed by Norvexa"}));
  environment_.variables["HOMEDRIVE"] = "C:";
  environment_.variables["HOMEPATH"] = "\\";
  command(kCommandAccept);
  EXPECT_EQ(windows_.live_controls(),
            (Controls{"4 EDIT 35 97 512 18 C:\\gcc", "3 BUTTON 565 97 100 30 Browse", "5 BUTTON 565 430 100 30 Install",
                      "6 BUTTON 35 430 100 30 Cancel"}));
}

TEST_F(WizardTest, CreationPassesTheDefaultResultOnAndZeroOnFailure) {
  windows_.main_procedure = InstallWizard;
  EXPECT_EQ(InstallWizard(reinterpret_cast<WindowHandle>(9), kWmCreate, 0, 0), 7);
  wizard_controls() = WizardControls{};
  windows_.fail_create = "BUTTON 2";
  EXPECT_EQ(InstallWizard(reinterpret_cast<WindowHandle>(9), kWmCreate, 0, 0), 0);
}

TEST_F(WizardTest, EachPageOneFailureStopsWhereItHappens) {
  struct Case {
    bool fail_register;
    const char* fail_create;
    const char* message;
    Controls left;
  };
  const Case cases[] = {
      {true, "", "[Error] RegisterClass() failed:  Cannot register class for notice.", {}},
      {false, "MDICLIENT", "[Error] CreateWindow() failed:  Cannot create a MDIClient window.", {}},
      {false, "BUTTON 1", "[Error] CreateWindow() failed:  Cannot create ACCEPT button.", {"0 MDICLIENT 35 75 624 292 "}},
      {false, "BUTTON 2", "[Error] CreateWindow() failed:  Cannot create DENY button.",
       {"0 MDICLIENT 35 75 624 292 ", "1 BUTTON 559 406 100 30 Accept"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    windows_ = FakeWindows{};
    shell_ports().windows = &windows_;
    wizard_controls() = WizardControls{};
    windows_.fail_register_notice = c.fail_register;
    windows_.fail_create = c.fail_create;
    create_main_window();
    EXPECT_EQ(windows_.boxes, (Controls{c.message}));
    EXPECT_EQ(windows_.live_controls(), c.left);
    // The pane is never shown after a failure.
    for (const FakeWindow& w : windows_.windows) EXPECT_FALSE(w.class_name == "MDICLIENT" && w.visible);
  }
}

TEST_F(WizardTest, PaintingDrawsEachPagesTextsWithThePageFontAndColours) {
  create_main_window();
  std::vector<DrawnText> page1 = paint();
  EXPECT_EQ(page1, (std::vector<DrawnText>{
                       {35, 17, "Please review the license agreement before installing the package. If"},
                       {35, 37, "you accept all terms of the agreement, click Accept button."},
                       {304, 443, "Built and Distributed by Norvexa"}}));
  EXPECT_EQ(windows_.text_color, rgb(97, 92, 55));
  EXPECT_EQ(windows_.background_color, rgb(194, 191, 165));
  ASSERT_EQ(windows_.fonts.size(), 1u);
  EXPECT_STREQ(windows_.fonts[0].face, "Times New Roman");
  EXPECT_EQ(windows_.fonts[0].height, 18);
  EXPECT_EQ(windows_.fonts[0].width, 9);
  EXPECT_EQ(windows_.fonts[0].quality, 2u);
  EXPECT_EQ(windows_.selected, nullptr);  // the previous font is put back
  paint();
  EXPECT_EQ(windows_.fonts.size(), 1u);  // made once

  install_state().page = kPageFolder;
  EXPECT_EQ(paint(), (std::vector<DrawnText>{
                         {35, 17, "Setup will install GCC compilers in the following folder."},
                         {35, 37, "To install in a different folder, click Browse and select another"},
                         {35, 57, "folder. Click Install to start the installation."},
                         {304, 443, "Built and Distributed by Norvexa"}}));
  install_state().page = kPageFolderAccepted;
  EXPECT_EQ(paint(), (std::vector<DrawnText>{{304, 443, "Built and Distributed by Norvexa"}}));
  install_state().page = 6;
  EXPECT_TRUE(paint().empty());
}

TEST_F(WizardTest, AcceptReplacesPageOneWithTheFolderPage) {
  go_to_folder_page();
  EXPECT_EQ(install_state().page, kPageFolder);
  EXPECT_EQ(windows_.live_controls(),
            (Controls{"4 EDIT 35 97 506 18 C:\\gcc", "3 BUTTON 559 97 100 30 Browse", "5 BUTTON 559 409 100 30 Install",
                      "6 BUTTON 35 409 100 30 Cancel"}));
  const FakeWindow& edit = *windows_.find(windows_.handle_of_id(4, "EDIT"));
  EXPECT_EQ(edit.style, kWsChild | kWsVisible | kEsLeft | kEsAutoHScroll);
  // Deny, Accept, the brush and the pane go, in that order, after Cancel is made.
  std::size_t cancel = position_of("create BUTTON 6");
  std::size_t deny = position_of("destroy 2 BUTTON");
  std::size_t accept = position_of("destroy 1 BUTTON");
  std::size_t brush = position_of("delete_object 1");
  std::size_t pane = position_of("destroy 0 MDICLIENT");
  EXPECT_LT(cancel, deny);
  EXPECT_LT(deny, accept);
  EXPECT_LT(accept, brush);
  EXPECT_LT(brush, pane);
  EXPECT_STREQ(install_state().destination_folder, "C:\\gcc");
  EXPECT_EQ(windows_.focus, windows_.handle_of_id(4, "EDIT"));
  EXPECT_EQ(windows_.calls.back(), "select 0 6");  // the whole proposal is selected
  EXPECT_LT(position_of("settext 4 C:\\gcc"), position_of("focus"));
}

TEST_F(WizardTest, ProposalFollowsTheHomeFolderOrTheConstant) {
  environment_.variables["HOMEDRIVE"] = "C:";
  environment_.variables["HOMEPATH"] = "\\Documents and Settings\\ann";
  create_main_window();
  command(kCommandAccept);
  EXPECT_STREQ(install_state().destination_folder, "C:\\Documents and Settings\\ann\\gcc");

  SetUp();
  environment_.variables.clear();
  create_main_window();
  command(kCommandAccept);
  EXPECT_STREQ(install_state().destination_folder, "c:\\program files\\gcc");
}

TEST_F(WizardTest, AcceptFailuresLeaveThePageHalfBuilt) {
  windows_.fail_create = "BUTTON 5";
  go_to_folder_page();
  EXPECT_EQ(windows_.boxes, (Controls{"[Error] CreateWindow() failed:  Cannot create Install button."}));
  EXPECT_EQ(install_state().page, kPageFolder);
  EXPECT_EQ(windows_.live_controls(),
            (Controls{"0 MDICLIENT 35 75 624 292 ", "1 BUTTON 559 406 100 30 Accept", "2 BUTTON 35 406 100 30 Deny",
                      "4 EDIT 35 97 506 18 ", "3 BUTTON 559 97 100 30 Browse"}));

  SetUp();
  windows_ = FakeWindows{};
  shell_ports().windows = &windows_;
  windows_.fail_create = "BUTTON 6";
  go_to_folder_page();
  EXPECT_EQ(windows_.boxes, (Controls{"[Error] CreateWindow() failed:  Cannot create Cancel button."}));
  EXPECT_EQ(windows_.live_controls().size(), 6u);
}

TEST_F(WizardTest, BrowseAppendsGccToTheChosenFolder) {
  go_to_folder_page();
  folders_.answer = "C:\\";
  command(kCommandBrowse);
  EXPECT_EQ(folders_.title, "Select a folder to create gcc folder");
  EXPECT_EQ(windows_.find(windows_.handle_of_id(4, "EDIT"))->text, "C:\\gcc");
  folders_.answer = "D:\\Work";
  command(kCommandBrowse);
  EXPECT_EQ(windows_.find(windows_.handle_of_id(4, "EDIT"))->text, "D:\\Work\\gcc");
  EXPECT_STREQ(install_state().destination_folder, "D:\\Work\\gcc");

  folders_.cancel = true;
  command(kCommandBrowse);
  EXPECT_EQ(windows_.find(windows_.handle_of_id(4, "EDIT"))->text, "D:\\Work\\gcc");
  folders_.cancel = false;
  folders_.has_path = false;  // a folder with no file-system path
  command(kCommandBrowse);
  EXPECT_EQ(windows_.find(windows_.handle_of_id(4, "EDIT"))->text, "D:\\Work\\gcc");
}

TEST_F(WizardTest, BrowseNeverWritesPastTheFolderBuffer) {
  go_to_folder_page();
  folders_.answer = "D:\\" + std::string(253, 'x');  // 256 characters: "\gcc" would make 260
  command(kCommandBrowse);
  EXPECT_EQ(windows_.find(windows_.handle_of_id(4, "EDIT"))->text, "C:\\gcc");
  EXPECT_LT(std::strlen(install_state().destination_folder), static_cast<std::size_t>(kPathBufferSize));
  folders_.answer = "D:\\" + std::string(252, 'x');  // 255 + 4 = 259 still fits
  command(kCommandBrowse);
  EXPECT_EQ(windows_.find(windows_.handle_of_id(4, "EDIT"))->text.size(), 259u);
}

TEST_F(WizardTest, InstallReadsTheFolderAndStartsBothThreads) {
  install_with("D:\\Tools\\");
  const InstallState& s = install_state();
  EXPECT_STREQ(s.destination_folder, "D:\\Tools");
  EXPECT_EQ(s.page, kPageInstalling);
  EXPECT_TRUE(windows_.live_controls().empty());
  EXPECT_STREQ(s.source_folder, ".\\source");
  EXPECT_EQ(s.copy_mode, 2);
  EXPECT_EQ(s.completion_command, 9);
  EXPECT_EQ(s.progress_rect.top, 206);
  EXPECT_EQ(s.progress_rect.right, 694);
  EXPECT_EQ(s.progress_rect.bottom, 279);
  ASSERT_EQ(threads_.started.size(), 2u);
  EXPECT_EQ(threads_.started[0], &ProgressAnimator);
  EXPECT_EQ(threads_.started[1], &PackageLoader);
  EXPECT_EQ(threads_.parameters[0], &install_state().copy_mode);
  EXPECT_EQ(windows_.invalidated.back().left, -1);  // the whole window

  std::vector<DrawnText> drawn = paint();
  ASSERT_EQ(drawn.size(), 3u);
  EXPECT_EQ(drawn[1], (DrawnText{248, 207, ""}));  // bar row 0 before the animator's first step
}

TEST_F(WizardTest, InstallRemovesOnlyOneTrailingBackslash) {
  install_with("D:\\Tools\\\\");
  EXPECT_STREQ(install_state().destination_folder, "D:\\Tools\\");
  SetUp();
  install_with("");
  EXPECT_STREQ(install_state().destination_folder, "");
  SetUp();
  install_with(std::string(300, 'a'));
  EXPECT_EQ(std::strlen(install_state().destination_folder), 259u);
}

TEST_F(WizardTest, ThreadStartFailuresPrintAndEnd) {
  threads_.fail_at = 0;
  EXPECT_THROW(install_with("D:\\x"), ProcessEnded);
  EXPECT_EQ(process_.lines, (Controls{"error to create thread to flush the screen."}));
  SetUp();
  process_.lines.clear();
  threads_ = FakeThreads{};
  threads_.fail_at = 1;
  EXPECT_THROW(install_with("D:\\x"), ProcessEnded);
  EXPECT_EQ(process_.lines, (Controls{"error to create thread to load the package."}));
  EXPECT_EQ(threads_.started.size(), 1u);
}

class InstalledTest : public WizardTest {
 protected:
  std::vector<DrawnText> finish() {
    install_with("D:\\gcc");
    command(kCommandInstalled);
    return paint();
  }
};

TEST_F(InstalledTest, MachineKeyWrittenCongratulatesAllUsers) {
  std::vector<DrawnText> drawn = finish();
  EXPECT_EQ(install_state().page, kPageConfigured);
  EXPECT_EQ(install_state().environment_configured, 1);
  EXPECT_EQ(drawn, (std::vector<DrawnText>{{35, 182, "Congratulations. GCC has been successfully installed."},
                                           {35, 207, "Please logoff, and login again to effect the settings."},
                                           {35, 232, "GCC have been configured for all users."}}));
  EXPECT_EQ(registry_.values["1 PATH"], "D:\\gcc\\bin");
  // The group conversation has begun: initiate, atom dropped, terminate.
  EXPECT_EQ(dde_.calls, (Controls{"add_atom", "initiate", "delete_atom", "terminate"}));
}

TEST_F(InstalledTest, UserKeyNamesTheUser) {
  registry_.machine_writable = false;
  std::vector<DrawnText> drawn = finish();
  ASSERT_EQ(drawn.size(), 3u);
  EXPECT_EQ(drawn[2], (DrawnText{35, 232, "GCC have been configured for the user, ann."}));
}

TEST_F(InstalledTest, FailureShowsOneLineLowerAndNoCongratulations) {
  registry_.machine_writable = registry_.user_writable = false;
  std::vector<DrawnText> drawn = finish();
  EXPECT_EQ(install_state().environment_configured, 0);
  EXPECT_EQ(drawn, (std::vector<DrawnText>{{35, 207, "Installer failed to set environment parameters."}}));
  EXPECT_EQ(dde_.calls.size(), 4u);  // the group is still attempted
}

TEST_F(InstalledTest, FinishComesCentredAndEachCommandEightAddsOne) {
  finish();
  std::size_t before = windows_.calls.size();
  command(kCommandShowFinish);
  EXPECT_EQ(windows_.live_controls(), (Controls{"7 BUTTON 297 409 100 30 Finish"}));
  // Shown, then the whole window repainted at once.
  Controls after(windows_.calls.begin() + static_cast<long>(before), windows_.calls.end());
  EXPECT_EQ(after[0], "create BUTTON 7");
  EXPECT_EQ(after[1], "show 7 BUTTON 5");
  EXPECT_EQ(after[2], "invalidate erase");
  EXPECT_EQ(after[3], "update");
  command(kCommandShowFinish);
  EXPECT_EQ(windows_.live_controls().size(), 2u);

  windows_.fail_create = "BUTTON 7";
  command(kCommandShowFinish);
  EXPECT_EQ(windows_.boxes, (Controls{"[Error] CreateWindow() failed:  Cannot create Finish button."}));
}

TEST_F(WizardTest, DenyCancelAndFinishEndWithZeroEvenWhenTheWindowStays) {
  struct Case {
    uintptr_t command;
    const char* message;
  };
  for (const Case& c : {Case{2, "[Deny] Deny button does not function"},
                        Case{6, "[Cancel] Cancel button does not function"},
                        Case{7, "[Finish] Finish button does not function"}}) {
    SCOPED_TRACE(c.message);
    windows_ = FakeWindows{};
    shell_ports().windows = &windows_;
    create_main_window();
    try {
      command(c.command);
      FAIL();
    } catch (const ProcessEnded& end) {
      EXPECT_EQ(end.status, 0);
    }
    EXPECT_TRUE(windows_.boxes.empty());
    windows_.fail_destroy = true;
    EXPECT_THROW(command(c.command), ProcessEnded);
    EXPECT_EQ(windows_.boxes, (Controls{c.message}));
  }
}

TEST_F(WizardTest, OtherCommandsAndTheEditBoxNotificationsDoNothing) {
  go_to_folder_page();
  std::size_t calls = windows_.calls.size();
  for (uintptr_t ignored : {0u, 4u, 10u, 0x03000004u, 0x04000004u}) EXPECT_EQ(command(ignored), 0);
  EXPECT_EQ(windows_.calls.size(), calls);
  EXPECT_EQ(install_state().page, kPageFolder);
  // Other messages go to the default handling.
  InstallWizard(main_, kWmClose, 0, 0);
  EXPECT_EQ(windows_.calls.back(), "default 16");
}

TEST_F(WizardTest, CurrentFileIsShownAndTheProgressAreaRepaintedAtOnce) {
  install_with("D:\\gcc");
  std::size_t before = windows_.calls.size();
  set_current_file("D:\\gcc\\bin\\gcc.exe");
  EXPECT_EQ(windows_.calls[before], "invalidate erase");
  EXPECT_EQ(windows_.calls[before + 1], "update");
  EXPECT_EQ(windows_.invalidated.back().top, 206);
  EXPECT_EQ(windows_.drawn.back(), (DrawnText{35, 237, "D:\\gcc\\bin\\gcc.exe"}));
}

// The loader replaces the line while the UI thread paints it: a paint sees
// one whole line or the other, never a mixture.
TEST(StatusLine, ReaderNeverSeesAHalfReplacedLine) {
  const std::string a(250, 'a'), b(200, 'b');
  write_status_line(a.c_str());
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) write_status_line((i % 2 ? a : b).c_str());
    done = true;
  });
  int mixed = 0;
  char line[kPathBufferSize];
  while (!done) {
    read_status_line(line);
    if (line != a && line != b) ++mixed;
  }
  writer.join();
  EXPECT_EQ(mixed, 0);
  write_status_line(std::string(400, 'c').c_str());
  read_status_line(line);
  EXPECT_EQ(std::strlen(line), 259u);
}

// The animator fills the bar's table as it starts, and the UI thread may
// already paint page 4 (a late-started animator made this a data race).
TEST(ProgressBar, APaintSeesNoBarOrTheWholeOne) {
  reset_install_state();
  install_state().bar_length.store(49);
  std::thread animator(fill_bar_table);
  int torn = 0;
  char bar[50];
  for (int i = 0; i < 2000; ++i) {
    read_bar(bar);
    if (bar != std::string() && bar != std::string(49, '-')) ++torn;
  }
  animator.join();
  EXPECT_EQ(torn, 0);
  read_bar(bar);
  EXPECT_EQ(std::string(bar), std::string(49, '-'));
  install_state().bar_length.store(99);  // out of range reads as bar 0
  read_bar(bar);
  EXPECT_STREQ(bar, "");
  reset_install_state();
}

}  // namespace
