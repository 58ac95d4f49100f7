// Whole runs of a native program in a child process: a script of user
// actions on standard input, its standard output, and the trace of what it
// showed on standard error, one line each.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "test_files.h"

struct ProgramRun {
  int status = -1;
  std::string out, err;
  std::vector<std::string> lines;  // of the trace
  bool has(const std::string& line) const {
    for (const std::string& l : lines) {
      if (l == line) return true;
    }
    return false;
  }
  int count(const std::string& prefix) const {
    int n = 0;
    for (const std::string& l : lines) n += l.rfind(prefix, 0) == 0;
    return n;
  }
  // The lines of the last whole paint of `page`.
  std::vector<std::string> last_paint(int page) const {
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] != "paint " + std::to_string(page)) continue;
      texts.clear();
      for (std::size_t j = i + 1; j < lines.size() && lines[j].rfind("text ", 0) == 0; ++j) texts.push_back(lines[j]);
    }
    return texts;
  }
  // The rows of the pane's paint number `n` (0 first).
  std::vector<std::string> pane(int n, std::string* header = nullptr) const {
    std::vector<std::string> rows;
    int seen = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].rfind("pane ", 0) != 0 || ++seen != n) continue;
      if (header != nullptr) *header = lines[i];
      for (std::size_t j = i + 1; j < lines.size() && lines[j].rfind("row ", 0) == 0; ++j) rows.push_back(lines[j]);
    }
    return rows;
  }
};

using Variables = std::vector<std::pair<std::string, std::string>>;

// Runs `program` with `args` in `folder`, the script and the outputs in
// files under `scratch`; the variables of `env` set (an empty value unsets
// one). A run that does not end within a minute is killed and fails.
inline ProgramRun run_program(const std::string& program, const std::vector<std::string>& args,
                              const std::filesystem::path& folder, const std::filesystem::path& scratch,
                              const std::string& script, const Variables& env) {
  ProgramRun result;
  std::filesystem::path input = scratch / "script.txt", out = scratch / "out.txt", err = scratch / "err.txt";
  write_file(input, script);
  pid_t child = fork();
  if (child == 0) {
    if (chdir(folder.c_str()) != 0) _exit(120);
    if (!freopen(input.c_str(), "r", stdin) || !freopen(out.c_str(), "w", stdout) ||
        !freopen(err.c_str(), "w", stderr))
      _exit(121);
    for (const auto& [name, value] : env) {
      if (value.empty())
        unsetenv(name.c_str());
      else
        setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(122);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      ADD_FAILURE() << "the run did not end";
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = read_file(out);
  result.err = read_file(err);
  std::istringstream lines(result.err);
  for (std::string line; std::getline(lines, line);) result.lines.push_back(line);
  return result;
}
