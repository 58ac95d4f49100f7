// Recording doubles of the shell's ports and of the integration ports the
// wizard reaches through its commands.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "integration/integration_ports.h"
#include "shell/wizard.h"

// end_process throws this instead of ending the test program.
struct ProcessEnded {
  int status;
};

struct FakeWindow {
  std::string class_name, text;
  uint32_t style = 0;
  int x = 0, y = 0, width = 0, height = 0;
  WindowHandle parent = nullptr;
  int id = 0;
  bool alive = true, visible = false;
};

struct DrawnText {
  int x, y;
  std::string text;
  bool operator==(const DrawnText&) const = default;
};

class FakeWindows : public WindowSystem {
 public:
  std::vector<FakeWindow> windows;
  std::vector<std::string> calls;  // every operation, in order, for order checks
  std::vector<std::string> boxes;  // "[caption] text"
  std::vector<DrawnText> drawn;    // the texts of the last paint
  std::vector<Rect> invalidated;   // (-1,-1,-1,-1) for the whole client area
  WindowProcedure main_procedure = nullptr;
  Rect client{0, 0, 694, 475};
  bool client_readable = true;
  bool fail_register_main = false, fail_register_notice = false;
  bool fail_release_dc = false, fail_move = false, fail_destroy = false;
  std::string fail_create;  // "CLASS" or "CLASS ID": that creation fails
  int screen_width = 1024, screen_height = 768;
  int moved_x = 0, moved_y = 0;
  WindowHandle focus = nullptr;
  std::vector<WindowMessage> script;  // what get_message hands out, then -1
  bool paint_on_update = true;

  FakeWindow* find(WindowHandle window);
  WindowHandle handle_of_id(int id, const char* class_name = "BUTTON");
  std::vector<std::string> live_controls();  // "ID CLASS X Y W H TEXT"

  bool register_main_class(const char* class_name, WindowProcedure procedure, uint32_t background) override;
  bool register_notice_class(DrawingObject background) override;
  WindowHandle create_window(uint32_t ex_style, const char* class_name, const char* text, uint32_t style,
                             int x, int y, int width, int height, WindowHandle parent, int id) override;
  void show_window(WindowHandle window, int mode) override;
  bool destroy_window(WindowHandle window) override;
  bool move_window(WindowHandle window, int x, int y, int width, int height, bool repaint) override;
  bool read_screen_size(WindowHandle window, int* width, int* height) override;
  bool get_client_rect(WindowHandle window, Rect* rect) override;
  void invalidate_rect(WindowHandle window, const Rect* rect, bool erase) override;
  void update_window(WindowHandle window) override;
  void set_focus(WindowHandle window) override;
  intptr_t send_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) override;
  intptr_t default_procedure(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) override;
  int get_message(WindowMessage* message, WindowHandle filter) override;
  void translate_message(const WindowMessage& message) override;
  void dispatch_message(const WindowMessage& message) override;
  DrawingObject create_solid_brush(uint32_t color) override;
  DrawingObject create_font(const FontSpec& spec) override;
  void delete_object(DrawingObject object) override;
  PaintContext begin_paint(WindowHandle window) override;
  void end_paint(WindowHandle window, PaintContext context) override;
  uint32_t set_text_color(PaintContext context, uint32_t color) override;
  uint32_t set_background_color(PaintContext context, uint32_t color) override;
  DrawingObject select_object(PaintContext context, DrawingObject object) override;
  void text_out(PaintContext context, int x, int y, const char* text, int length) override;
  void message_box(const char* text, const char* caption) override;

  uint32_t text_color = 0, background_color = 0;
  DrawingObject selected = nullptr;
  std::vector<FontSpec> fonts;
  int next_object = 1;
};

class FakeFolders : public FolderPicker {
 public:
  bool cancel = false;
  bool has_path = true;
  std::string answer;  // the folder's path
  std::string title;
  PickedFolder browse_for_folder(WindowHandle owner, const char* title, char* display_name) override;
  bool path_from_item(PickedFolder item, char* path) override;
};

class FakeThreads : public ThreadStarter {
 public:
  std::vector<ThreadEntry> started;
  std::vector<void*> parameters;
  int fail_at = -1;  // the index of the start that fails
  int sleeps = 0;
  std::function<void()> on_sleep;
  bool start_thread(ThreadEntry entry, void* parameter) override;
  void sleep(uint32_t milliseconds) override;
};

class FakeAccount : public AccountReader {
 public:
  std::string name = "ann";
  void user_name(char* buffer, uint32_t size) override;
};

class FakeProcess : public ProcessControl {
 public:
  std::vector<std::string> lines;
  void write_line(const char* line) override { lines.emplace_back(line); }
  void end_process(int status) override { throw ProcessEnded{status}; }
};

// The integration side: a registry whose roots can refuse, an environment
// of named variables, the settings files as texts, and a DDE channel that
// records what the wizard starts.
class FakeRegistry : public Registry {
 public:
  bool machine_writable = true, user_writable = true;
  std::map<std::string, std::string> values;
  int32_t create_key(RegistryRoot root, const char* path, RegistryKey* key) override;
  int32_t open_key(RegistryRoot root, const char* path, RegistryKey* key) override;
  int32_t open_key_for_reading(RegistryRoot, const char*, RegistryKey*) override { return kRegistryNotFound; }
  int32_t query_value(RegistryKey key, const char* name, uint32_t* type, char* data, uint32_t* size) override;
  int32_t delete_value(RegistryKey, const char*) override { return kRegistryNotFound; }
  int32_t set_value(RegistryKey key, const char* name, uint32_t type, const char* data, uint32_t size) override;
  void close_key(RegistryKey) override {}
};

class FakeEnvironment : public EnvironmentReader {
 public:
  std::map<std::string, std::string> variables;
  uint32_t get_variable(const char* name, char* buffer, uint32_t size) override;
  bool can_open_for_reading(const char*) override { return false; }
};

class FakeFiles : public SettingsFileOpener {
 public:
  std::map<std::string, std::string> files;
  std::FILE* open_text(const char* name) override;
};

class FakeDde : public DdeChannel {
 public:
  std::vector<std::string> calls;
  uint16_t add_atom(const char*) override { calls.push_back("add_atom"); return 0xC001; }
  uint16_t delete_atom(uint16_t) override { calls.push_back("delete_atom"); return 0; }
  void broadcast_initiate(WindowHandle, uint16_t, uint16_t) override { calls.push_back("initiate"); }
  MemoryBlock allocate_block(uint32_t) override { return nullptr; }
  char* lock_block(MemoryBlock) override { return nullptr; }
  int32_t unlock_block(char*) override { return 1; }
  MemoryBlock free_block(MemoryBlock) override { return nullptr; }
  void post_execute(WindowHandle, WindowHandle, MemoryBlock) override { calls.push_back("execute"); }
  void broadcast_terminate(WindowHandle) override { calls.push_back("terminate"); }
  void send_command(WindowHandle, int32_t command) override { calls.push_back("command " + std::to_string(command)); }
};

class FakeMessages : public MessageShower {
 public:
  std::vector<std::string> shown;
  void show(const char* text, const char* caption) override { shown.push_back(std::string("[") + caption + "] " + text); }
};

class ThrowingFatal : public FatalReporter {
 public:
  void fail(const char* text, const char*) override { throw std::string(text); }
};

// Every test starts from a fresh process state with the doubles in place.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs the creation of page 1 as the main window's creation does.
  WindowHandle create_main_window();
  intptr_t command(uintptr_t number);
  // Paints the main window and returns what it drew.
  std::vector<DrawnText> paint();
  // Accept, with the home folder C:\ proposing C:\gcc.
  void go_to_folder_page();

  FakeWindows windows_;
  FakeFolders folders_;
  FakeThreads threads_;
  FakeAccount account_;
  FakeProcess process_;
  FakeRegistry registry_;
  FakeEnvironment environment_;
  FakeFiles files_;
  FakeDde dde_;
  FakeMessages messages_;
  ThrowingFatal fatal_;
  WindowHandle main_ = nullptr;
};

void reset_install_state();
