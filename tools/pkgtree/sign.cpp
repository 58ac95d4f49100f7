// Signing in place: the maker's command does the signing; pkgtree only
// hands it the file and checks what it left.
#include "sign.h"

#include <cstdio>
#include <cstring>
#include <string>
#ifndef _WIN32
#include <cerrno>
#include <sys/wait.h>
#include <unistd.h>
#else
#include "platform/win32/pkgtree_win32.h"
#endif

#include "pkgtree.h"

namespace {

const char kPlaceholder[] = "{}";

// `path` as one word of the shell that runs the command; false when that
// shell cannot be given it unchanged.
bool quoted_for_shell(const std::string& path, std::string* word) {
#ifdef _WIN32
  // Inside double quotes cmd.exe still expands %NAME%; a Windows name
  // cannot hold a double quote.
  if (path.find_first_of("%\"") != std::string::npos) return false;
  *word = "\"" + path + "\"";
#else
  // Single quotes keep every byte; a quote itself is closed, escaped, reopened.
  *word = "'";
  for (char c : path) *word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  *word += "'";
#endif
  return true;
}

// Runs `command` through the platform's shell; false with the reason when
// it could not be run or did not end with status 0.
bool run_command(const std::string& command, std::string* why) {
  std::fflush(stdout);
  std::fflush(stderr);
#ifdef _WIN32
  unsigned long code = 1;
  if (!run_shell_command(command, &code, why)) {
    *why = "cannot be started: " + *why;
    return false;
  }
  if (code == 0) return true;
  *why = "ended with status " + std::to_string(code);
  return false;
#else
  pid_t child = fork();
  if (child < 0) {
    *why = std::string("cannot be started: ") + std::strerror(errno);
    return false;
  }
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno == EINTR) continue;
    *why = std::string("cannot be waited for: ") + std::strerror(errno);
    return false;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  *why = WIFEXITED(status) ? "ended with status " + std::to_string(WEXITSTATUS(status))
                           : "was ended by signal " + std::to_string(WTERMSIG(status));
  return false;
#endif
}

}  // namespace

bool names_the_file(const std::string& command) { return command.find(kPlaceholder) != std::string::npos; }

bool sign_in_place(const std::string& command, const std::string& path, const std::string& shown, std::string* why) {
  std::printf("== signing %s\n", shown.c_str());
  std::string word;
  if (!quoted_for_shell(path, &word)) {
    *why = "cannot sign " + shown + ": its path cannot be passed to the shell unchanged";
    return false;
  }
  std::string line;
  for (std::size_t at = 0;;) {
    std::size_t found = command.find(kPlaceholder, at);
    line.append(command, at, found == std::string::npos ? std::string::npos : found - at);
    if (found == std::string::npos) break;
    line += word;
    at = found + sizeof kPlaceholder - 1;
  }
  // What the file was, so that a program taken with --any-setup may be
  // signed too, but nothing may be turned into something else.
  const std::string before = not_a_32bit_windows_program(path);
  if (!run_command(line, why)) {
    *why = "signing " + shown + ": the command " + *why;
    return false;
  }
  std::string after = not_a_32bit_windows_program(path);
  if (after != before) {
    *why = "signing " + shown + ": the command left it broken: " + (after.empty() ? "now a 32-bit Windows program" : after);
    return false;
  }
  std::string missing = unsigned_because(path);
  if (!missing.empty()) {
    *why = "signing " + shown + ": the command left it unsigned: " + missing;
    return false;
  }
  return true;
}
