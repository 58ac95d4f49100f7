#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "shell_fakes.h"

namespace {

// An argument vector as the platform hands it: program name first, then a null.
struct Args {
  std::vector<std::string> text;
  std::vector<char*> pointers;
  explicit Args(std::initializer_list<const char*> args) : text(args.begin(), args.end()) {
    text.insert(text.begin(), "setup");
    for (std::string& t : text) pointers.push_back(t.data());
    pointers.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(text.size()); }
  char** argv() { return pointers.data(); }
};

std::string title_of(std::initializer_list<const char*> args) {
  Args a(args);
  const char* title = scan_title(a.argc(), a.argv());
  return title != nullptr ? title : "(none)";
}

bool shows_library(std::initializer_list<const char*> args) {
  Args a(args);
  return scan_show_library(a.argc(), a.argv());
}

TEST(Options, TitleAndFlagScansAreIndependentAndExact) {
  EXPECT_EQ(title_of({}), " ");
  EXPECT_FALSE(shows_library({}));
  EXPECT_EQ(title_of({"-t", "My Setup"}), "My Setup");
  EXPECT_EQ(title_of({"-t"}), "(none)");
  EXPECT_EQ(title_of({"-t", "A", "-t", "B"}), "A");
  // The title of "-t" is still seen by the flag's scan.
  EXPECT_EQ(title_of({"-t", "-n"}), "-n");
  EXPECT_TRUE(shows_library({"-t", "-n"}));
  EXPECT_EQ(title_of({"-n", "-t", "X"}), "X");
  EXPECT_TRUE(shows_library({"-n", "-t", "X"}));
  for (const char* other : {"-T", "-tX", "--n", "/n", "-N"}) {
    EXPECT_EQ(title_of({other, "x"}), " ") << other;
    EXPECT_FALSE(shows_library({other})) << other;
  }
}

class EntryTest : public ShellTest {
 protected:
  int run(std::initializer_list<const char*> args) {
    Args a(args);
    return program_entry(a.argc(), a.argv(), kSwShowDefault);
  }
  bool called(const std::string& call) {
    return std::find(windows_.calls.begin(), windows_.calls.end(), call) != windows_.calls.end();
  }
};

TEST_F(EntryTest, CreatesTheCaptionWindowCentresItAndEndsWhenItIsGone) {
  windows_.script.push_back(WindowMessage{reinterpret_cast<WindowHandle>(1), kWmPaint, 0, 0});
  // The loop then finds the main window gone (-1): the process ends with 0.
  try {
    run({"-t", "My Setup", "-n"});
    FAIL() << "the process did not end";
  } catch (const ProcessEnded& end) {
    EXPECT_EQ(end.status, 0);
  }
  ASSERT_FALSE(windows_.windows.empty());
  const FakeWindow& main = windows_.windows[0];
  EXPECT_EQ(main.class_name, "nv_gfortran");
  EXPECT_EQ(main.text, "My Setup");
  EXPECT_EQ(main.style, kWsCaption);
  EXPECT_EQ(main.width, 700);
  EXPECT_EQ(main.height, 500);
  EXPECT_EQ(main.x, 0);
  EXPECT_EQ(install_state().hide_library_paragraph, 0);
  EXPECT_EQ(windows_.calls.front(), "register_main nv_gfortran " + std::to_string(rgb(194, 191, 165)));
  EXPECT_TRUE(called("show 0 nv_gfortran 10"));
  EXPECT_TRUE(called("move 162 134 700 500 repaint"));
  EXPECT_TRUE(called("dispatch 15"));
  // Page 1 was built while the window was being created.
  EXPECT_NE(windows_.handle_of_id(1), nullptr);
}

TEST_F(EntryTest, NoArgumentsKeepTheNoticeShortAndTheTitleASpace) {
  windows_.script.push_back(WindowMessage{});  // retrieval returns 0: the loop ends
  EXPECT_EQ(run({}), 0);
  EXPECT_EQ(windows_.windows[0].text, " ");
  EXPECT_EQ(install_state().hide_library_paragraph, 1);
}

TEST_F(EntryTest, SmallScreenPutsTheWindowPartlyOffIt) {
  windows_.screen_width = 640;
  windows_.screen_height = 480;
  windows_.script.push_back(WindowMessage{});
  run({});
  EXPECT_EQ(windows_.moved_x, -30);
  EXPECT_EQ(windows_.moved_y, -10);
}

TEST_F(EntryTest, EachStartUpFailureShowsItsMessageAndReturnsZero) {
  struct Case {
    void (*arrange)(FakeWindows&);
    const char* message;
    const char* last_step;
  };
  const Case cases[] = {
      {[](FakeWindows& w) { w.fail_register_main = true; },
       "[Error] RegisterClass() failed:  Cannot register window class.", "register_main"},
      {[](FakeWindows& w) { w.fail_create = "nv_gfortran"; }, "[Error] CreateWindow() failed:  Cannot create a window.",
       "create nv_gfortran"},
      {[](FakeWindows& w) { w.fail_release_dc = true; },
       "[Error] ReleaseDC() failed:  Cannot release device ciontent.", "screen"},
      {[](FakeWindows& w) { w.fail_move = true; }, "[Error] moveWindow() failed:  Cannot move window to center.",
       "move"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    windows_ = FakeWindows{};
    shell_ports().windows = &windows_;
    c.arrange(windows_);
    EXPECT_EQ(run({}), 0);
    ASSERT_EQ(windows_.boxes.size(), 1u);
    EXPECT_EQ(windows_.boxes[0], c.message);
    // Nothing after the failing step: no later step and no loop.
    EXPECT_FALSE(called("dispatch 15"));
    if (std::string(c.last_step) != "move") {
      EXPECT_FALSE(called("move 162 134 700 500 repaint"));
    }
  }
}

// A failure inside page 1's creation does not fail the window's creation.
TEST_F(EntryTest, PageOneFailureStillRunsTheWindow) {
  windows_.fail_create = "BUTTON 1";
  windows_.script.push_back(WindowMessage{});
  EXPECT_EQ(run({}), 0);
  ASSERT_EQ(windows_.boxes.size(), 1u);
  EXPECT_EQ(windows_.boxes[0], "[Error] CreateWindow() failed:  Cannot create ACCEPT button.");
  EXPECT_TRUE(called("move 162 134 700 500 repaint"));
}

class AnimatorTest : public ShellTest {
 protected:
  std::vector<int> bars;  // bar_length at each repaint
  void SetUp() override {
    ShellTest::SetUp();
    create_main_window();
    install_state().page = kPageInstalling;
    install_state().progress_rect = Rect{0, 206, 694, 279};
    windows_.paint_on_update = false;
  }
  void count_repaints_until(int steps) {
    threads_.on_sleep = [this, steps] {
      bars.push_back(install_state().bar_length.load());
      if (static_cast<int>(bars.size()) == steps) install_state().installing.store(0);
    };
  }
};

TEST_F(AnimatorTest, BarGrowsToFortyNineThenStartsAgain) {
  count_repaints_until(51);
  EXPECT_EQ(ProgressAnimator(nullptr), 0u);
  ASSERT_EQ(bars.size(), 51u);
  EXPECT_EQ(bars[0], 1);
  EXPECT_EQ(bars[48], 49);
  EXPECT_EQ(bars[49], 0);
  EXPECT_EQ(bars[50], 1);
  // Each step repaints the progress area at once, erasing it.
  int repaints = static_cast<int>(std::count(windows_.calls.begin(), windows_.calls.end(), "update"));
  EXPECT_EQ(repaints, 51);
  EXPECT_EQ(windows_.invalidated.back().top, 206);
  EXPECT_EQ(windows_.invalidated.back().bottom, 279);
  // Row i of the table holds i dashes.
  const InstallState& s = install_state();
  EXPECT_STREQ(s.bar_table[0], "");
  EXPECT_EQ(std::string(s.bar_table[49]), std::string(49, '-'));
  EXPECT_EQ(std::string(s.bar_table[7]), "-------");
}

TEST_F(AnimatorTest, AlreadyStoppedFillsTheTableAndTakesNoStep) {
  install_state().installing.store(0);
  EXPECT_EQ(ProgressAnimator(nullptr), 0u);
  EXPECT_EQ(threads_.sleeps, 0);
  EXPECT_EQ(install_state().bar_length.load(), 0);
  EXPECT_EQ(std::string(install_state().bar_table[3]), "---");
}

TEST_F(AnimatorTest, StopsAtTheFirstTestAfterTheFlagIsCleared) {
  count_repaints_until(3);
  ProgressAnimator(nullptr);
  EXPECT_EQ(threads_.sleeps, 3);
  EXPECT_EQ(install_state().bar_length.load(), 3);  // kept, never reset
}

TEST_F(AnimatorTest, PageFourDrawsTheBarRowOfTheCurrentLength) {
  count_repaints_until(5);
  ProgressAnimator(nullptr);
  std::vector<DrawnText> drawn = paint();
  ASSERT_EQ(drawn.size(), 3u);
  EXPECT_EQ(drawn[0], (DrawnText{35, 207, "Installer is extracting file"}));
  EXPECT_EQ(drawn[1], (DrawnText{248, 207, "-----"}));
  EXPECT_EQ(drawn[2], (DrawnText{35, 237, ""}));
}

}  // namespace
