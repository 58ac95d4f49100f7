// What pkgtree needs of Windows beyond the engine's ports: the console's
// interrupts, its own program started again, a shell command, renames that
// outlast a virus scanner, and what a junction or symbolic link leads to.
#pragma once

#include <string>
#include <vector>

// Ctrl-C and Ctrl-Break from the console: `on_interrupt` runs on a thread the
// system starts, with true for Ctrl-Break, and the process goes on. One
// handler at a time; other console events keep their default handling.
using InterruptHandler = void (*)(bool ctrl_break);
void catch_console_interrupts(InterruptHandler on_interrupt);
void release_console_interrupts();

// The exit code a process has when the console's default handling ends it.
constexpr unsigned long kEndedByConsoleInterrupt = 0xC000013AUL;

// One argument as the C runtime splits a command line back into argv.
std::string quoted_argument(const std::string& text);
// This program started again with `arguments` after its own path, on the
// same console and standard handles; waits for it. False, with the reason,
// when it could not be started.
bool run_own_program(const std::vector<std::string>& arguments, unsigned long* exit_code, std::string* why);
// `command` run by the system's cmd.exe (cmd.exe /d /s /c "COMMAND") on the
// same console and standard handles; waits for it. False, with the reason,
// when it could not be started.
bool run_shell_command(const std::string& command, unsigned long* exit_code, std::string* why);

// Renames without replacing anything (with `replace`, over a file that is
// there). A refusal that another process holding the file causes (access
// denied, a sharing violation) is tried again with short sleeps for up to
// `patience_ms` before it counts. False with the error code.
bool rename_path(const wchar_t* from, const wchar_t* to, unsigned long* error, unsigned patience_ms = 5000,
                 bool replace = false);

// An entry as the link audit sees it. A junction or a symbolic link is a
// link; its target text is what it holds (where that cannot be read, where
// it leads), its final path what it leads to.
struct LinkLook {
  bool exists = false;  // false: gone, nothing else is set
  bool link = false;
  std::string target;   // as stored in the link
  bool reaches = true;     // false: it cannot be followed
  std::string error;       // why, when it is not simply that nothing is there
  bool folder = false;     // of what it leads to
  std::string final_path;  // folders only: the real path
};
LinkLook look_at_entry(const std::string& path);
// The tag of reparse data and, for a junction or symbolic link, the target it
// holds: its print name, else its substitute name without "\??\". False when
// the data is too short to hold a tag.
bool parse_reparse_data(const unsigned char* data, std::size_t size, unsigned long* tag, std::string* target);

// The real path of an existing entry (links and short names undone, no
// "\\?\" prefix); empty when it cannot be opened.
std::string final_path_of(const std::string& path);

// The system's text for a Windows error code.
std::string error_text(unsigned long code);
