// The native headless window system: windows, their procedures and
// messages, a queue per window-owning thread, painting traced to standard
// error, and a script of user actions read from standard input. Shared by
// the window-system adapter, the stand-in group server and its DDE channel.
#pragma once

#include <cstdint>

#include "shell/window_ports.h"

namespace headless {

// Threads that own windows: the UI thread (the main window and its
// children) and the stand-in group server.
enum OwnerThread : int { kUiThread = 0, kServerThread = 1, kNoThread = -1 };

// Marks the calling thread as the owner of the windows it creates.
void adopt_thread(OwnerThread owner);

// A top-level window of the server thread, with its procedure.
WindowHandle create_server_window(WindowProcedure procedure);
// Every live top-level window.
int top_level_windows(WindowHandle* out, int capacity);

intptr_t send(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
void post(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);
// Posts a copy of `text` with the message; the receiver finds it with
// posted_text() while it handles the message.
void post_with_text(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam,
                    const char* text);
const char* posted_text();

// The server thread's loop: handles what is sent and posted to it, forever.
void run_server_loop();

// Starts the stand-in group server on its own thread, unless
// SETUP_PROGMAN=none says that no server answers.
void start_group_server();

// Waits a little for the server to handle what it was sent and posted.
void settle_server();

// One trace line on standard error.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The stand-in's own window system, folder dialog and so on.
WindowSystem& window_system();

}  // namespace headless
