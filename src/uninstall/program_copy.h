// Where the uninstaller's copy runs from, and how a run tells that it is
// that copy: a folder made for it alone in the temporary folder.
#pragma once

#include <cstdint>
#include <string>

// "gcc-uninstall-" and 16 hex digits of `random`.
std::string copy_folder_name(uint64_t random);

// Whether `program`, a full path, is a copy: uninstall.exe directly in a
// folder so named directly in `temporary` (names compared without ASCII case).
bool is_copy_program(const std::string& program, const std::string& temporary);
