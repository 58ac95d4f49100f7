// Shared fixture of the engine tests: a scratch folder, the real platform
// adapters, and doubles for the fatal reporter and the wizard.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/platform.h"

struct FatalCall {
  std::string text, caption;
};

// Throws instead of ending the process, so a test can look at the message.
class ThrowingReporter : public FatalReporter {
 public:
  void fail(const char* text, const char* caption) override { throw FatalCall{text, caption}; }
};

class RecordingWizard : public WizardLink {
 public:
  std::vector<std::string> files;
  std::vector<std::pair<WindowHandle, int32_t>> commands;
  std::vector<int32_t> installing_when_sent;  // the flag as each command went
  void set_current_file(const char* path) override { files.emplace_back(path); }
  void send_command(WindowHandle window, int32_t command) override {
    commands.emplace_back(window, command);
    installing_when_sent.push_back(install_state().installing.load());
  }
};

// The walk leaves its searches open when a failure ends the run (the process
// ends then). A test goes on, so this closes what a failure left behind.
class TrackingLister : public DirectoryLister {
 public:
  DirectoryLister* real = nullptr;
  std::vector<SearchHandle> open;
  SearchHandle find_first(const char* pattern, FindRecord* record) override {
    SearchHandle h = real->find_first(pattern, record);
    if (h != nullptr) open.push_back(h);
    return h;
  }
  bool find_next(SearchHandle h, FindRecord* record) override { return real->find_next(h, record); }
  void find_close(SearchHandle h) override {
    std::erase(open, h);
    real->find_close(h);
  }
  void close_left_over() {
    while (!open.empty()) find_close(open.back());
  }
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A path under the scratch folder, in the engine's "\" form.
  std::string at(const std::string& relative) const;
  std::filesystem::path native(const std::string& relative) const { return root_ / relative; }
  void write(const std::string& relative, const std::string& bytes) const;
  std::string read(const std::string& relative) const;
  void make_dir(const std::string& relative) const;
  // Runs `body` and returns the fatal call it made; fails the test if none.
  template <typename F>
  FatalCall expect_fatal(F body) {
    try {
      body();
    } catch (const FatalCall& call) {
      return call;
    }
    ADD_FAILURE() << "no fatal failure";
    return {};
  }

  std::filesystem::path root_;
  ThrowingReporter fatal_;
  TrackingLister lister_;
  RecordingWizard wizard_;
  EnginePorts saved_;
};

// Bytes of a deterministic, not very compressible pattern.
std::string pattern_bytes(std::size_t size, unsigned seed = 1);
