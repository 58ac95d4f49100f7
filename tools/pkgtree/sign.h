// Signing in place with the maker's own command (package --sign COMMAND).
#pragma once

#include <string>

// True when `command` holds the "{}" that stands for the file to sign.
bool names_the_file(const std::string& command);

// Signs the Windows program at `path` (the platform's form) in place: says
// on standard output that `shown` is being signed (never the command: it may
// hold a password), runs `command` with every "{}" replaced by `path`,
// quoted for the shell that runs it (/bin/sh -c natively, cmd.exe /c on
// Windows), then checks the file: it must still be the kind of program it
// was and now carry a certificate table within the file. False, with the
// reason, when the command cannot be run or fails, or leaves the file
// unsigned or broken.
bool sign_in_place(const std::string& command, const std::string& path, const std::string& shown, std::string* why);
