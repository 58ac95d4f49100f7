// What each platform folder provides to the front ends (installer, pkgtree).
#pragma once

#include <cstddef>
#include <string>

#include "engine/engine_ports.h"

// A modal message with no owner window and a single OK button. The native
// stand-in writes "[CAPTION] TEXT" as one line to standard error.
void show_message_box(const char* text, const char* caption);

// Shows the message, then ends the process with status 0, as the installer
// does on every failure.
class MessageBoxFatalReporter : public FatalReporter {
 public:
  void fail(const char* text, const char* caption) override;
};

// The platform's real directory, file and stream adapters; fatal and wizard
// are left for the caller to set.
EnginePorts platform_engine_ports();

// The engine's "\"-separated path as the platform names it (a copy on
// Windows, "/" for "\" natively). False when it does not fit.
bool native_path(const char* path, char* out, std::size_t size);

// DLLs loaded at run time are looked for in the system folder only, never
// beside the program, where a planted one would be taken: the first call of
// each program's entry. Where Windows has it, junctions made by users who
// are not administrators are no longer followed either. Natively nothing is
// done.
void restrict_library_search();

// The full path of the running program, as the platform names it; empty when
// it cannot be told.
std::string own_program_path();
