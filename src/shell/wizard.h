// The installation wizard: the main window's procedure, its five pages,
// their controls and texts, and the commands that move between them.
#pragma once

#include <cstdint>

#include "common/install_state.h"
#include "engine/engine_ports.h"
#include "shell/window_ports.h"

// WizardPage: the value of InstallState::page.
enum WizardPage : int {
  kPageLicence = 1,
  kPageFolder = 2,
  kPageFolderAccepted = 3,
  kPageInstalling = 4,
  kPageConfigured = 5,
};

// Control identifiers and the commands of the main window.
enum WizardCommand : int {
  kCommandAccept = 1,
  kCommandDeny = 2,
  kCommandBrowse = 3,
  kFolderEditId = 4,
  kCommandInstall = 5,
  kCommandCancel = 6,
  kCommandFinish = 7,
  kCommandShowFinish = 8,
  kCommandInstalled = 9,
};

constexpr uint32_t kMainBackground = rgb(194, 191, 165);
constexpr uint32_t kPaneBackground = rgb(224, 223, 209);
constexpr uint32_t kPageTextColor = rgb(97, 92, 55);
constexpr char kMainClassName[] = "nv_gfortran";
constexpr char kNoticeClassName[] = "MDICLIENT";

// Both of the wizard's fonts have these attributes.
constexpr FontSpec kWizardFont = {18, 9, 0, 0, 400, 0, 0, 0, 0, 0, 0, 2, 0, "Times New Roman"};

// The wizard's handles: the controls of the current page and the drawing
// objects. Touched by the UI thread only.
struct WizardControls {
  WindowHandle notice_pane = nullptr;
  WindowHandle accept_button = nullptr;
  WindowHandle deny_button = nullptr;
  WindowHandle folder_edit = nullptr;
  WindowHandle browse_button = nullptr;
  WindowHandle install_button = nullptr;
  WindowHandle cancel_button = nullptr;
  WindowHandle finish_button = nullptr;
  DrawingObject pane_brush = nullptr;
  DrawingObject edit_font = nullptr;
  DrawingObject page_font = nullptr;
};

WizardControls& wizard_controls();

// The main window's procedure.
intptr_t InstallWizard(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam);

// Called by the loader thread with each file's destination path; returns
// once the UI thread has repainted the progress area.
void set_current_file(const char* path);

// Reads status_line whole, never half-replaced, into `out` (260 bytes).
void read_status_line(char* out);
// Replaces status_line whole.
void write_status_line(const char* text);

// Fills the dash bar's table: the animator does it once as it starts, while
// the UI thread may already paint page 4.
void fill_bar_table();
// Copies the bar of the current length into `out` (50 bytes), never from a
// table half filled.
void read_bar(char* out);

// What the loader thread reports to the wizard.
WizardLink& wizard_link();

// Program entry: options, main window, centring and the message loop.
int program_entry(int argc, char** argv, int show_mode);

// The first "-t" gives the title (none when it is the last argument);
// " " without one. `argv` ends with a null entry.
const char* scan_title(int argc, char** argv);
// True when any argument is "-n".
bool scan_show_library(int argc, char** argv);

// Thread entry of the dash bar on page 4.
uint32_t ProgressAnimator(void* parameter);
