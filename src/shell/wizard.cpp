#include "shell/wizard.h"

#include <cstring>
#include <mutex>

#include "common/text.h"
#include "engine/engine.h"
#include "integration/default_folder.h"
#include "integration/environment.h"
#include "integration/integration_ports.h"
#include "integration/progman.h"
#include "shell/layout.h"

namespace {

const char kCaption[] = "Built and Distributed by Norvexa";
const char kLicenceLine1[] = "Please review the license agreement before installing the package. If";
const char kLicenceLine2[] = "you accept all terms of the agreement, click Accept button.";
const char kFolderLine1[] = "Setup will install GCC compilers in the following folder.";
const char kFolderLine2[] = "To install in a different folder, click Browse and select another";
const char kFolderLine3[] = "folder. Click Install to start the installation.";
const char kInstallingLine[] = "Installer is extracting file";
const char kDoneLine1[] = "Congratulations. GCC has been successfully installed.";
const char kDoneLine2[] = "Please logoff, and login again to effect the settings.";
const char kBrowseTitle[] = "Select a folder to create gcc folder";

constexpr uint32_t kButtonStyle = kWsChild | kWsVisible | kBsPushButton;
constexpr int kUserNameSize = 128;

// The loader writes status_line while the UI thread paints it.
std::mutex status_guard;
// The animator fills bar_table while the UI thread paints it.
std::mutex bar_guard;

WindowSystem& windows() { return *shell_ports().windows; }

void error_box(const char* text) { windows().message_box(text, "Error"); }

WindowHandle make_button(WindowHandle parent, const char* text, int x, int y, int id) {
  return windows().create_window(0, "BUTTON", text, kButtonStyle, x, y, kButtonWidth, kButtonHeight,
                                 parent, id);
}

void draw(PaintContext context, int x, int y, const char* text) {
  windows().text_out(context, x, y, text, static_cast<int>(std::strlen(text)));
}

// Each page's controls are destroyed when the page is left, and forgotten.
void destroy_control(WindowHandle& control) {
  windows().destroy_window(control);
  control = nullptr;
}

intptr_t create_licence_page(WindowHandle window, uint32_t message, uintptr_t wparam,
                             intptr_t lparam) {
  InstallState& state = install_state();
  WizardControls& controls = wizard_controls();
  state.wizard_window = window;
  state.client_width = measure_client_width(window);
  state.client_height = measure_client_height(window);
  state.pane_width = layout_pane_width(state.client_width);
  state.margin = layout_margin(state.client_width, state.pane_width);

  controls.pane_brush = windows().create_solid_brush(kPaneBackground);
  if (!windows().register_notice_class(controls.pane_brush)) {
    error_box("RegisterClass() failed:  Cannot register class for notice.");
    return 0;
  }
  state.pane_height = layout_pane_height(state.client_height);
  controls.notice_pane = windows().create_window(
      0, kNoticeClassName, nullptr, kWsChild | kWsClipChildren | kWsBorder | kWsVScroll, state.margin,
      state.margin + 40, state.pane_width, state.pane_height, window, 0);
  if (controls.notice_pane == nullptr) {
    error_box("CreateWindow() failed:  Cannot create a MDIClient window.");
    return 0;
  }
  int row_1_y = layout_row_1_y(state.client_height, state.margin, state.pane_height);
  controls.accept_button = make_button(window, "Accept", state.client_width - state.margin - kButtonWidth,
                                       row_1_y, kCommandAccept);
  if (controls.accept_button == nullptr) {
    error_box("CreateWindow() failed:  Cannot create ACCEPT button.");
    return 0;
  }
  controls.deny_button = make_button(window, "Deny", state.margin, row_1_y, kCommandDeny);
  if (controls.deny_button == nullptr) {
    error_box("CreateWindow() failed:  Cannot create DENY button.");
    return 0;
  }
  windows().show_window(controls.notice_pane, kSwShow);
  windows().show_window(controls.accept_button, kSwShow);
  windows().show_window(controls.deny_button, kSwShow);
  return windows().default_procedure(window, message, wparam, lparam);
}

void paint_page(WindowHandle window) {
  InstallState& state = install_state();
  WizardControls& controls = wizard_controls();
  if (controls.page_font == nullptr) controls.page_font = windows().create_font(kWizardFont);
  PaintContext context = windows().begin_paint(window);
  windows().set_text_color(context, kPageTextColor);
  windows().set_background_color(context, kMainBackground);
  DrawingObject previous = windows().select_object(context, controls.page_font);

  int m = state.margin;
  bool caption = false;
  char status[kPathBufferSize];
  switch (state.page) {
    case kPageLicence:
      draw(context, m, m / 2, kLicenceLine1);
      draw(context, m, m / 2 + 20, kLicenceLine2);
      caption = true;
      break;
    case kPageFolder:
      draw(context, m, m / 2, kFolderLine1);
      draw(context, m, m / 2 + 20, kFolderLine2);
      draw(context, m, m / 2 + 40, kFolderLine3);
      caption = true;
      break;
    case kPageFolderAccepted:
      caption = true;
      break;
    case kPageInstalling: {
      int y = m / 2 + 190;
      draw(context, m, y, kInstallingLine);
      char bar[sizeof state.bar_table[0]];
      read_bar(bar);
      draw(context, m + 213, y, bar);
      read_status_line(status);
      draw(context, m, layout_status_y(state.client_height), status);
      break;
    }
    case kPageConfigured: {
      int y = m / 2 + 165;
      read_status_line(status);
      if (state.environment_configured == 1) {
        draw(context, m, y, kDoneLine1);
        draw(context, m, y + 25, kDoneLine2);
        draw(context, m, y + 50, status);
      } else {
        draw(context, m, y + 25, status);
      }
      break;
    }
    default:
      break;
  }
  if (caption) draw(context, state.client_width - 390, layout_caption_y(state.client_height), kCaption);

  windows().select_object(context, previous);
  windows().end_paint(window, context);
}

void accept(WindowHandle window) {
  InstallState& state = install_state();
  WizardControls& controls = wizard_controls();
  state.page = kPageFolder;
  int m = state.margin;
  controls.folder_edit = windows().create_window(
      0, "EDIT", nullptr, kWsChild | kWsVisible | kEsLeft | kEsAutoHScroll, m, m / 2 + 80,
      layout_edit_width(state.client_width, m), 18, window, kFolderEditId);
  if (controls.edit_font == nullptr) controls.edit_font = windows().create_font(kWizardFont);
  windows().send_message(controls.folder_edit, kWmSetFont, reinterpret_cast<uintptr_t>(controls.edit_font), 0);
  controls.browse_button =
      make_button(window, "Browse", state.client_width - m - kButtonWidth, m / 2 + 80, kCommandBrowse);

  int row_2_y = layout_row_2_y(state.client_height, m, state.pane_height);
  controls.install_button =
      make_button(window, "Install", state.client_width - m - kButtonWidth, row_2_y, kCommandInstall);
  if (controls.install_button == nullptr) {
    error_box("CreateWindow() failed:  Cannot create Install button.");
    return;
  }
  controls.cancel_button = make_button(window, "Cancel", m, row_2_y, kCommandCancel);
  if (controls.cancel_button == nullptr) {
    error_box("CreateWindow() failed:  Cannot create Cancel button.");
    return;
  }

  destroy_control(controls.deny_button);
  destroy_control(controls.accept_button);
  windows().delete_object(controls.pane_brush);
  controls.pane_brush = nullptr;
  destroy_control(controls.notice_pane);
  windows().invalidate_rect(window, nullptr, true);

  windows().show_window(controls.folder_edit, kSwShow);
  windows().show_window(controls.browse_button, kSwShow);
  windows().show_window(controls.install_button, kSwShow);
  windows().show_window(controls.cancel_button, kSwShow);

  choose_default_folder(state.destination_folder);
  windows().send_message(controls.folder_edit, kWmSetText, 0, reinterpret_cast<intptr_t>(state.destination_folder));

  windows().set_focus(controls.folder_edit);
  intptr_t length = windows().send_message(controls.folder_edit, kEmLineLength, 0, 0);
  windows().send_message(controls.folder_edit, kEmSetSel, 0, length);
}

void browse(WindowHandle window) {
  InstallState& state = install_state();
  FolderPicker& folders = *shell_ports().folders;
  PickedFolder item = folders.browse_for_folder(window, kBrowseTitle, state.destination_folder);
  if (item == nullptr) return;
  if (!folders.path_from_item(item, state.destination_folder)) return;
  drop_trailing_backslash(state.destination_folder);
  // A folder too long to take "\gcc" is not offered: the box keeps its text.
  if (!append_text(state.destination_folder, sizeof state.destination_folder, "\\gcc")) return;
  windows().send_message(wizard_controls().folder_edit, kWmSetText, 0,
                         reinterpret_cast<intptr_t>(state.destination_folder));
}

void install(WindowHandle window) {
  InstallState& state = install_state();
  WizardControls& controls = wizard_controls();
  state.page = kPageFolderAccepted;
  state.destination_folder[0] = '\0';
  windows().send_message(controls.folder_edit, kWmGetText, sizeof state.destination_folder,
                         reinterpret_cast<intptr_t>(state.destination_folder));
  state.destination_folder[sizeof state.destination_folder - 1] = '\0';
  drop_trailing_backslash(state.destination_folder);

  destroy_control(controls.folder_edit);
  destroy_control(controls.browse_button);
  destroy_control(controls.install_button);
  destroy_control(controls.cancel_button);
  windows().invalidate_rect(window, nullptr, true);

  state.page = kPageInstalling;
  state.progress_rect = layout_progress_rect(state.client_width, state.client_height, state.margin);
  std::strcpy(state.source_folder, ".\\source");
  state.copy_mode = static_cast<int32_t>(CopyMode::Expand);
  state.completion_command = kCommandInstalled;

  ShellPorts& ports = shell_ports();
  if (!ports.threads->start_thread(ProgressAnimator, &state.copy_mode)) {
    ports.process->write_line("error to create thread to flush the screen.");
    ports.process->end_process(0);
    return;
  }
  if (!ports.threads->start_thread(PackageLoader, &state.copy_mode)) {
    ports.process->write_line("error to create thread to load the package.");
    ports.process->end_process(0);
  }
}

void installed(WindowHandle window) {
  InstallState& state = install_state();
  state.page = kPageConfigured;
  int result = configure_environment(state.destination_folder);
  if (result == 1) {
    state.environment_configured = 1;
    write_status_line("GCC have been configured for all users.");
  } else if (result == 2) {
    state.environment_configured = 1;
    char name[kUserNameSize] = {};
    shell_ports().account->user_name(name, sizeof name);
    name[sizeof name - 1] = '\0';
    char line[kPathBufferSize];
    join_text(line, sizeof line, "GCC have been configured for the user, ", name, ".");
    write_status_line(line);
  } else {
    state.environment_configured = 0;
    write_status_line("Installer failed to set environment parameters.");
  }
  start_group_conversation(window);
}

void show_finish(WindowHandle window) {
  InstallState& state = install_state();
  WizardControls& controls = wizard_controls();
  int row_2_y = layout_row_2_y(state.client_height, state.margin, state.pane_height);
  WindowHandle finish = make_button(window, "Finish", layout_finish_x(state.client_width), row_2_y,
                                    kCommandFinish);
  if (finish == nullptr) {
    error_box("CreateWindow() failed:  Cannot create Finish button.");
    return;
  }
  controls.finish_button = finish;
  windows().show_window(finish, kSwShow);
  windows().invalidate_rect(window, nullptr, true);
  windows().update_window(window);
}

void leave(WindowHandle window, const char* text, const char* caption) {
  if (!windows().destroy_window(window)) windows().message_box(text, caption);
  shell_ports().process->end_process(0);
}

void command(WindowHandle window, uintptr_t wparam) {
  switch (wparam) {
    case kCommandAccept: accept(window); break;
    case kCommandDeny: leave(window, "Deny button does not function", "Deny"); break;
    case kCommandBrowse: browse(window); break;
    case kCommandInstall: install(window); break;
    case kCommandCancel: leave(window, "Cancel button does not function", "Cancel"); break;
    case kCommandFinish: leave(window, "Finish button does not function", "Finish"); break;
    case kCommandShowFinish: show_finish(window); break;
    case kCommandInstalled: installed(window); break;
    default: break;  // 0, the edit box's notifications and anything above 9
  }
}

class WizardNotifier : public WizardLink {
 public:
  void set_current_file(const char* path) override { ::set_current_file(path); }
  void send_command(WindowHandle window, int32_t command) override {
    windows().send_message(window, kWmCommand, static_cast<uintptr_t>(command), 0);
  }
};

}  // namespace

WizardControls& wizard_controls() {
  static WizardControls controls;
  return controls;
}

WizardLink& wizard_link() {
  static WizardNotifier notifier;
  return notifier;
}

void read_status_line(char* out) {
  std::lock_guard<std::mutex> lock(status_guard);
  std::memcpy(out, install_state().status_line, kPathBufferSize);
  out[kPathBufferSize - 1] = '\0';
}

void write_status_line(const char* text) {
  std::lock_guard<std::mutex> lock(status_guard);
  char* line = install_state().status_line;
  std::size_t n = std::strlen(text);
  if (n > kPathBufferSize - 1) n = kPathBufferSize - 1;
  std::memcpy(line, text, n);
  line[n] = '\0';
}

void fill_bar_table() {
  std::lock_guard<std::mutex> lock(bar_guard);
  InstallState& state = install_state();
  for (int i = 0; i < 50; ++i) {
    std::memset(state.bar_table[i], '-', static_cast<std::size_t>(i));
    state.bar_table[i][i] = '\0';
  }
}

void read_bar(char* out) {
  InstallState& state = install_state();
  int bar = state.bar_length.load();
  if (bar < 0 || bar > 49) bar = 0;
  std::lock_guard<std::mutex> lock(bar_guard);
  std::memcpy(out, state.bar_table[bar], sizeof state.bar_table[bar]);
  out[sizeof state.bar_table[bar] - 1] = '\0';
}

void set_current_file(const char* path) {
  InstallState& state = install_state();
  write_status_line(path);
  // The lock is not held here: the repaint takes it on the UI thread.
  windows().invalidate_rect(state.wizard_window, &state.progress_rect, true);
  windows().update_window(state.wizard_window);
}

intptr_t InstallWizard(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  switch (message) {
    case kWmCreate: return create_licence_page(window, message, wparam, lparam);
    case kWmPaint: paint_page(window); return 0;
    case kWmCommand: command(window, wparam); return 0;
    case kWmDdeAck: on_dde_ack(window, wparam, lparam); return 0;
    case kWmDdeTerminate: on_dde_terminate(window, wparam, lparam); return 0;
    default: return windows().default_procedure(window, message, wparam, lparam);
  }
}
