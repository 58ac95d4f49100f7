#include "uninstall/uninstall_window.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "common/text.h"
#include "integration/integration_ports.h"
#include "integration/progman.h"
#include "shell/layout.h"
#include "shell/wizard.h"
#include "uninstall/removal.h"
#include "uninstall/uninstall_ports.h"

namespace {

const char kCaption[] = "Built and Distributed by Norvexa";
const char kAskLine2[] = "Files you changed or added there are kept.";
const char kRemovingLine[] = "Uninstaller is removing file";
const char kUsage[] = "usage: uninstall [/S] [FOLDER]";
constexpr uint32_t kButtonStyle = kWsChild | kWsVisible | kBsPushButton;
constexpr int kLineHeight = 20;

struct Run {
  Uninstall work;
  bool silent = false;
  bool finished = false;
  WindowHandle window = nullptr;
  WindowHandle remove_button = nullptr, keep_button = nullptr;
  DrawingObject font = nullptr;
  // The worker writes these while the UI thread paints them.
  std::mutex progress_guard;
  std::string current_file;
  int bar = 0;
};

Run& run() {
  static Run* r = new Run;  // never destroyed: a thread may still run at the end
  return *r;
}

WindowSystem& windows() { return *shell_ports().windows; }

void end(int status) { shell_ports().process->end_process(status); }

void say_error(const std::string& text) {
  std::fprintf(stderr, "uninstall: %s\n", text.c_str());
  std::fflush(stderr);
}

// A refusal: nothing has been touched.
int refuse(const std::string& text) {
  if (run().silent)
    say_error(text);
  else
    windows().message_box(text.c_str(), "Uninstall");
  end(run().silent ? 2 : 0);
  return 0;
}

// Without a window no box may wait for a click: the silent form says it
// on standard error.
class SilentMessages : public MessageShower {
 public:
  void show(const char* text, const char* caption) override { say_error(std::string(caption) + ": " + text); }
};

class SilentFatal : public FatalReporter {
 public:
  void fail(const char* text, const char* caption) override {
    say_error(std::string(caption) + ": " + text);
    end(2);
  }
};

// A kept line names what the user made, whatever bytes its name holds: a
// control character would break the line, so it shows as '?'.
std::string kept_line(const KeptItem& item) {
  std::string line = item.what + ": " + item.why;
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return line;
}

void draw(PaintContext context, int x, int y, const std::string& text) {
  windows().text_out(context, x, y, text.data(), static_cast<int>(text.size()));
}

WindowHandle make_button(const char* text, int x, int y, int id) {
  return windows().create_window(0, "BUTTON", text, kButtonStyle, x, y, kButtonWidth, kButtonHeight, run().window,
                                 id);
}

void paint_removed(PaintContext context, int m) {
  const InstallState& state = install_state();
  const Uninstall& u = run().work;
  int y = m / 2 + 40;
  draw(context, m, y, outcome_line(u));
  draw(context, m, y + 25, removed_line(u));
  if (u.kept.empty()) return;
  y += 50;
  int bottom = layout_row_2_y(state.client_height, m, state.pane_height) - 10;
  int room = (bottom - y) / kLineHeight - 1;  // the last line says where the rest is
  int shown = static_cast<int>(u.kept.size()) <= room ? static_cast<int>(u.kept.size()) : room - 1;
  for (int i = 0; i < shown; ++i, y += kLineHeight) draw(context, m, y, kept_line(u.kept[i]));
  if (shown < static_cast<int>(u.kept.size())) {
    draw(context, m, y, "and " + std::to_string(u.kept.size() - shown) + " more.");
    y += kLineHeight;
  }
  draw(context, m, y, "The uninstaller and its list stay in " + u.folder + ", so that it can finish later.");
}

void paint(WindowHandle window) {
  InstallState& state = install_state();
  Run& r = run();
  if (r.font == nullptr) r.font = windows().create_font(kWizardFont);
  PaintContext context = windows().begin_paint(window);
  windows().set_text_color(context, kPageTextColor);
  windows().set_background_color(context, kMainBackground);
  DrawingObject previous = windows().select_object(context, r.font);
  int m = state.margin;
  switch (state.page) {
    case kPageAsk:
      draw(context, m, m / 2, "Remove " + r.work.name + " from " + r.work.folder + "?");
      draw(context, m, m / 2 + 20, kAskLine2);
      draw(context, state.client_width - 390, layout_caption_y(state.client_height), kCaption);
      break;
    case kPageRemoving: {
      int y = m / 2 + 190;
      std::string file;
      int bar;
      {
        std::lock_guard<std::mutex> lock(r.progress_guard);
        file = r.current_file;
        bar = r.bar;
      }
      draw(context, m, y, kRemovingLine);
      draw(context, m + 213, y, std::string(static_cast<std::size_t>(bar), '-'));
      draw(context, m, layout_status_y(state.client_height), file);
      break;
    }
    case kPageRemoved:
      paint_removed(context, m);
      break;
    default:
      break;
  }
  windows().select_object(context, previous);
  windows().end_paint(window, context);
}

// On the worker thread, before each file: the file and a bar of up to 49
// dashes for the share done.
void report_progress(const char* path, std::size_t done, std::size_t total) {
  Run& r = run();
  {
    std::lock_guard<std::mutex> lock(r.progress_guard);
    r.current_file = path;
    r.bar = total == 0 ? 0 : static_cast<int>(done * 49 / total);
  }
  if (r.silent) return;
  InstallState& state = install_state();
  windows().invalidate_rect(r.window, &state.progress_rect, true);
  windows().update_window(r.window);
}

uint32_t RemovalWorker(void*) {
  remove_files(run().work, report_progress);
  windows().send_message(run().window, kWmCommand, kCommandFilesDone, 0);
  return 0;
}

void destroy_control(WindowHandle& control) {
  if (control != nullptr) windows().destroy_window(control);
  control = nullptr;
}

void start_removal() {
  Run& r = run();
  InstallState& state = install_state();
  destroy_control(r.remove_button);
  destroy_control(r.keep_button);
  state.page = kPageRemoving;
  state.progress_rect = layout_progress_rect(state.client_width, state.client_height, state.margin);
  windows().invalidate_rect(r.window, nullptr, true);
  if (!shell_ports().threads->start_thread(RemovalWorker, nullptr)) {
    shell_ports().process->write_line("error to create thread to remove the package.");
    end(r.silent ? 2 : 0);
  }
}

// Files and folders are done: the environment, then the program group.
void files_done() {
  Run& r = run();
  remove_environment(r.work);
  if (r.work.group_commands.empty()) {
    windows().send_message(r.window, kWmCommand, kCommandGroupDone, 0);
    return;
  }
  ProgmanConversation& conversation = progman_conversation();
  conversation.commands = r.work.group_commands.c_str();
  conversation.answers = 0;
  start_group_conversation(r.window);
  // The answers arrive inside the initiate, so they are all in by now.
  note_group_answers(r.work, conversation.answers);
}

void finished() {
  Run& r = run();
  if (r.finished) return;  // the server's own terminate brings a second command 8
  r.finished = true;
  Uninstall& u = r.work;
  finish_uninstall(u);
  if (r.silent) {
    for (const KeptItem& item : u.kept) std::printf("%s\n", kept_line(item).c_str());
    std::fflush(stdout);
    say_error(outcome_line(u) + " " + removed_line(u));
    end(u.kept.empty() ? 0 : 1);
    return;
  }
  InstallState& state = install_state();
  state.page = kPageRemoved;
  int row_2_y = layout_row_2_y(state.client_height, state.margin, state.pane_height);
  WindowHandle finish = make_button("Finish", layout_finish_x(state.client_width), row_2_y, kCommandClose);
  if (finish == nullptr) windows().message_box("CreateWindow() failed:  Cannot create Finish button.", "Error");
  windows().invalidate_rect(r.window, nullptr, true);
  windows().update_window(r.window);
}

void leave(WindowHandle window) {
  windows().destroy_window(window);
  end(0);
}

void command(WindowHandle window, uintptr_t wparam) {
  switch (wparam) {
    case kCommandRemove:
      if (install_state().page == kPageAsk) start_removal();
      break;
    case kCommandKeep:
    case kCommandClose:
      leave(window);
      break;
    case kCommandFilesDone:
      files_done();
      break;
    case kCommandGroupDone:
      finished();
      break;
    default:
      break;
  }
}

void create(WindowHandle window) {
  InstallState& state = install_state();
  run().window = window;
  state.wizard_window = window;
  state.client_width = measure_client_width(window);
  state.client_height = measure_client_height(window);
  state.pane_width = layout_pane_width(state.client_width);
  state.margin = layout_margin(state.client_width, state.pane_width);
  state.pane_height = layout_pane_height(state.client_height);
  state.page = kPageAsk;
}

void ask(WindowHandle window) {
  Run& r = run();
  InstallState& state = install_state();
  int row_2_y = layout_row_2_y(state.client_height, state.margin, state.pane_height);
  r.remove_button = make_button("Remove", state.client_width - state.margin - kButtonWidth, row_2_y, kCommandRemove);
  r.keep_button = make_button("Cancel", state.margin, row_2_y, kCommandKeep);
  if (r.remove_button == nullptr || r.keep_button == nullptr)
    windows().message_box("CreateWindow() failed:  Cannot create Remove button.", "Error");
  windows().invalidate_rect(window, nullptr, true);
}

}  // namespace

intptr_t UninstallWindow(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case kWmCreate:
      create(window);
      return windows().default_procedure(window, message, wparam, lparam);
    case kWmPaint:
      paint(window);
      return 0;
    case kWmCommand:
      command(window, wparam);
      return 0;
    case kWmDdeAck:
      on_dde_ack(window, wparam, lparam);
      return 0;
    case kWmDdeTerminate:
      on_dde_terminate(window, wparam, lparam);
      return 0;
    case kWmClose:
      // Unseen, the silent form's window is closed by nobody but itself.
      if (run().silent) return 0;
      return windows().default_procedure(window, message, wparam, lparam);
    default:
      return windows().default_procedure(window, message, wparam, lparam);
  }
}

int uninstall_entry(int argc, char** argv, const char* program_folder) {
  Run& r = run();
  const char* folder_argument = nullptr;
  bool usage = false;
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    if (std::strcmp(argv[i], "/S") == 0 || std::strcmp(argv[i], "/s") == 0)
      r.silent = true;
    else if (folder_argument == nullptr)
      folder_argument = argv[i];
    else
      usage = true;
  }
  static SilentMessages silent_messages;
  static SilentFatal silent_fatal;
  if (r.silent) {
    integration_ports().messages = &silent_messages;
    integration_ports().fatal = &silent_fatal;
  }
  if (usage) return refuse(kUsage);

  // The folder as the installer names it: one trailing "\" is dropped.
  InstallState& state = install_state();
  const char* folder = folder_argument != nullptr ? folder_argument : program_folder;
  if (std::strlen(folder) >= sizeof state.destination_folder) return refuse(std::string("The folder ") + folder + " is too long for a folder the installer made: nothing was removed.");
  std::strcpy(state.destination_folder, folder);
  drop_trailing_backslash(state.destination_folder);
  if (state.destination_folder[0] == '\0') return refuse(kUsage);

  ProgramCopy* program = uninstall_ports().program;
  if (program->runs_from(state.destination_folder)) {
    int status = program->run_copy(state.destination_folder, r.silent);
    if (status >= 0) end(status);
    // No copy could run: the work is done in place, and this program's
    // own file stays (the closing page names it).
  }
  std::string refusal = load_uninstall(r.work, state.destination_folder);
  if (!refusal.empty()) return refuse(refusal);

  if (!windows().register_main_class(kMainClassName, UninstallWindow, kMainBackground))
    return refuse("RegisterClass() failed:  Cannot register window class.");
  std::string title = "Uninstall " + r.work.name;
  WindowHandle window = windows().create_window(0, kMainClassName, title.c_str(), kWsCaption, 0, 0, kMainWindowWidth,
                                                kMainWindowHeight, nullptr, 0);
  if (window == nullptr) return refuse("CreateWindow() failed:  Cannot create a window.");
  if (r.silent) {
    start_removal();
  } else {
    windows().show_window(window, kSwShowDefault);
    int width = 0, height = 0, x = 0, y = 0;
    if (windows().read_screen_size(window, &width, &height)) {
      centre_main_window(width, height, &x, &y);
      windows().move_window(window, x, y, kMainWindowWidth, kMainWindowHeight, true);
    }
    // With nothing left to remove there is nothing to ask: the run says so.
    if (has_work(r.work))
      ask(window);
    else
      start_removal();
  }
  WindowMessage message;
  int got;
  while ((got = windows().get_message(&message, window)) != 0) {
    if (got == -1) break;  // the window is gone
    windows().translate_message(message);
    windows().dispatch_message(message);
  }
  end(0);
  return 0;
}
