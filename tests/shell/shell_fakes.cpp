#include "shell_fakes.h"

#include <cstring>

#include "notice/notice_pane.h"

namespace {

WindowHandle handle_at(std::size_t index) { return reinterpret_cast<WindowHandle>(index + 1); }

std::size_t index_at(WindowHandle window) { return reinterpret_cast<std::size_t>(window) - 1; }

}  // namespace

FakeWindow* FakeWindows::find(WindowHandle window) {
  std::size_t i = index_at(window);
  if (window == nullptr || i >= windows.size() || !windows[i].alive) return nullptr;
  return &windows[i];
}

WindowHandle FakeWindows::handle_of_id(int id, const char* class_name) {
  for (std::size_t i = windows.size(); i-- > 0;) {
    const FakeWindow& w = windows[i];
    if (w.alive && w.parent != nullptr && w.id == id && w.class_name == class_name) return handle_at(i);
  }
  return nullptr;
}

std::vector<std::string> FakeWindows::live_controls() {
  std::vector<std::string> out;
  for (const FakeWindow& w : windows) {
    if (!w.alive || w.parent == nullptr) continue;
    out.push_back(std::to_string(w.id) + " " + w.class_name + " " + std::to_string(w.x) + " " +
                  std::to_string(w.y) + " " + std::to_string(w.width) + " " + std::to_string(w.height) + " " +
                  w.text);
  }
  return out;
}

bool FakeWindows::register_main_class(const char* class_name, WindowProcedure procedure, uint32_t background) {
  calls.push_back(std::string("register_main ") + class_name + " " + std::to_string(background));
  if (fail_register_main) return false;
  main_procedure = procedure;
  return true;
}

bool FakeWindows::register_notice_class(DrawingObject) {
  calls.push_back("register_notice");
  return !fail_register_notice;
}

WindowHandle FakeWindows::create_window(uint32_t, const char* class_name, const char* text, uint32_t style, int x,
                                        int y, int width, int height, WindowHandle parent, int id) {
  std::string name = class_name;
  calls.push_back("create " + name + " " + std::to_string(id));
  if (fail_create == name || fail_create == name + " " + std::to_string(id)) return nullptr;
  FakeWindow w;
  w.class_name = name;
  w.text = text != nullptr ? text : "";
  w.style = style;
  w.x = x;
  w.y = y;
  w.width = width;
  w.height = height;
  w.parent = parent;
  w.id = id;
  w.visible = (style & kWsVisible) != 0;
  windows.push_back(w);
  WindowHandle handle = handle_at(windows.size() - 1);
  if (parent == nullptr && main_procedure != nullptr) main_procedure(handle, kWmCreate, 0, 0);
  return handle;
}

void FakeWindows::show_window(WindowHandle window, int mode) {
  FakeWindow* w = find(window);
  calls.push_back("show " + (w != nullptr ? std::to_string(w->id) + " " + w->class_name : std::string("none")) +
                  " " + std::to_string(mode));
  if (w != nullptr) w->visible = mode != 0;
}

bool FakeWindows::destroy_window(WindowHandle window) {
  FakeWindow* w = find(window);
  calls.push_back("destroy " + (w != nullptr ? std::to_string(w->id) + " " + w->class_name : std::string("none")));
  if (w == nullptr || (fail_destroy && w->parent == nullptr)) return false;
  w->alive = false;
  return true;
}

bool FakeWindows::move_window(WindowHandle, int x, int y, int width, int height, bool repaint) {
  calls.push_back("move " + std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(width) + " " +
                  std::to_string(height) + (repaint ? " repaint" : ""));
  moved_x = x;
  moved_y = y;
  return !fail_move;
}

bool FakeWindows::read_screen_size(WindowHandle, int* width, int* height) {
  calls.push_back("screen");
  *width = screen_width;
  *height = screen_height;
  return !fail_release_dc;
}

bool FakeWindows::get_client_rect(WindowHandle, Rect* rect) {
  if (!client_readable) return false;
  *rect = client;
  return true;
}

void FakeWindows::invalidate_rect(WindowHandle, const Rect* rect, bool erase) {
  calls.push_back(std::string("invalidate") + (erase ? " erase" : ""));
  invalidated.push_back(rect != nullptr ? *rect : Rect{-1, -1, -1, -1});
}

void FakeWindows::update_window(WindowHandle window) {
  calls.push_back("update");
  FakeWindow* w = find(window);
  if (paint_on_update && w != nullptr && w->parent == nullptr && main_procedure != nullptr) {
    main_procedure(window, kWmPaint, 0, 0);
  }
}

void FakeWindows::set_focus(WindowHandle window) {
  calls.push_back("focus");
  focus = window;
}

intptr_t FakeWindows::send_message(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  FakeWindow* w = find(window);
  if (w == nullptr) return 0;
  if (w->parent == nullptr && main_procedure != nullptr) return main_procedure(window, message, wparam, lparam);
  switch (message) {
    case kWmSetText:
      calls.push_back("settext " + std::to_string(w->id) + " " + reinterpret_cast<const char*>(lparam));
      w->text = reinterpret_cast<const char*>(lparam);
      return 1;
    case kWmGetText: {
      std::size_t n = std::min<std::size_t>(w->text.size(), wparam - 1);
      std::memcpy(reinterpret_cast<char*>(lparam), w->text.data(), n);
      reinterpret_cast<char*>(lparam)[n] = '\0';
      return static_cast<intptr_t>(n);
    }
    case kEmLineLength:
      return static_cast<intptr_t>(w->text.size());
    case kEmSetSel:
      calls.push_back("select " + std::to_string(wparam) + " " + std::to_string(lparam));
      return 0;
    case kWmSetFont:
      calls.push_back("setfont " + std::to_string(lparam));
      return 0;
    default:
      return 0;
  }
}

intptr_t FakeWindows::default_procedure(WindowHandle, uint32_t message, uintptr_t, intptr_t) {
  calls.push_back("default " + std::to_string(message));
  return message == kWmCreate ? 7 : 0;  // a value of its own, so a test can tell it passed on
}

int FakeWindows::get_message(WindowMessage* message, WindowHandle) {
  if (script.empty()) return -1;
  *message = script.front();
  script.erase(script.begin());
  return message->message == 0 && message->window == nullptr ? 0 : 1;
}

void FakeWindows::translate_message(const WindowMessage&) { calls.push_back("translate"); }

void FakeWindows::dispatch_message(const WindowMessage& message) {
  calls.push_back("dispatch " + std::to_string(message.message));
}

DrawingObject FakeWindows::create_solid_brush(uint32_t color) {
  calls.push_back("brush " + std::to_string(color));
  return reinterpret_cast<DrawingObject>(static_cast<uintptr_t>(next_object++));
}

DrawingObject FakeWindows::create_font(const FontSpec& spec) {
  calls.push_back("font");
  fonts.push_back(spec);
  return reinterpret_cast<DrawingObject>(static_cast<uintptr_t>(100 + next_object++));
}

void FakeWindows::delete_object(DrawingObject object) {
  calls.push_back("delete_object " + std::to_string(reinterpret_cast<uintptr_t>(object)));
}

PaintContext FakeWindows::begin_paint(WindowHandle) {
  calls.push_back("begin_paint");
  drawn.clear();
  return reinterpret_cast<PaintContext>(1);
}

void FakeWindows::end_paint(WindowHandle, PaintContext) { calls.push_back("end_paint"); }

uint32_t FakeWindows::set_text_color(PaintContext, uint32_t color) {
  uint32_t previous = text_color;
  text_color = color;
  return previous;
}

uint32_t FakeWindows::set_background_color(PaintContext, uint32_t color) {
  uint32_t previous = background_color;
  background_color = color;
  return previous;
}

DrawingObject FakeWindows::select_object(PaintContext, DrawingObject object) {
  DrawingObject previous = selected;
  selected = object;
  return previous;
}

void FakeWindows::text_out(PaintContext, int x, int y, const char* text, int length) {
  drawn.push_back({x, y, std::string(text, static_cast<std::size_t>(length))});
}

void FakeWindows::message_box(const char* text, const char* caption) {
  boxes.push_back(std::string("[") + caption + "] " + text);
}

PickedFolder FakeFolders::browse_for_folder(WindowHandle, const char* t, char* display_name) {
  title = t;
  if (cancel) return nullptr;
  std::snprintf(display_name, kPathBufferSize, "%s", "display name");
  return this;
}

bool FakeFolders::path_from_item(PickedFolder, char* path) {
  if (!has_path) return false;
  std::snprintf(path, kPathBufferSize, "%s", answer.c_str());
  return true;
}

bool FakeThreads::start_thread(ThreadEntry entry, void* parameter) {
  if (static_cast<int>(started.size()) == fail_at) return false;
  started.push_back(entry);
  parameters.push_back(parameter);
  return true;
}

void FakeThreads::sleep(uint32_t milliseconds) {
  EXPECT_EQ(milliseconds, 100u);
  ++sleeps;
  if (on_sleep) on_sleep();
}

void FakeAccount::user_name(char* buffer, uint32_t size) { std::snprintf(buffer, size, "%s", name.c_str()); }

int32_t FakeRegistry::create_key(RegistryRoot root, const char*, RegistryKey* key) {
  bool writable = root == RegistryRoot::LocalMachine ? machine_writable : user_writable;
  if (!writable) return 5;
  *key = reinterpret_cast<RegistryKey>(static_cast<uintptr_t>(root == RegistryRoot::LocalMachine ? 1 : 2));
  return kRegistryOk;
}

int32_t FakeRegistry::open_key(RegistryRoot, const char*, RegistryKey*) { return kRegistryNotFound; }

int32_t FakeRegistry::query_value(RegistryKey, const char*, uint32_t*, char*, uint32_t*) { return kRegistryNotFound; }

int32_t FakeRegistry::set_value(RegistryKey key, const char* name, uint32_t, const char* data, uint32_t) {
  values[std::to_string(reinterpret_cast<uintptr_t>(key)) + " " + name] = data;
  return kRegistryOk;
}

uint32_t FakeEnvironment::get_variable(const char* name, char* buffer, uint32_t size) {
  auto found = variables.find(name);
  if (found == variables.end() || found->second.empty()) return 0;
  if (found->second.size() + 1 > size) return static_cast<uint32_t>(found->second.size() + 1);
  std::memcpy(buffer, found->second.c_str(), found->second.size() + 1);
  return static_cast<uint32_t>(found->second.size());
}

std::FILE* FakeFiles::open_text(const char* name) {
  auto found = files.find(name);
  if (found == files.end()) return nullptr;
  std::FILE* file = std::tmpfile();
  std::fputs(found->second.c_str(), file);
  std::rewind(file);
  return file;
}

void reset_install_state() {
  InstallState& s = install_state();
  s.hide_library_paragraph = 1;
  s.installing.store(1);
  s.page = 1;
  s.wizard_window = nullptr;
  s.client_width = s.client_height = s.pane_width = s.pane_height = s.margin = 0;
  std::memset(s.destination_folder, 0, sizeof s.destination_folder);
  std::memset(s.source_folder, 0, sizeof s.source_folder);
  s.copy_mode = 0;
  s.completion_command = 0;
  s.progress_rect = Rect{};
  std::memset(s.status_line, 0, sizeof s.status_line);
  s.environment_configured = 0;
  std::memset(s.bar_table, 0, sizeof s.bar_table);
  s.bar_length.store(0);
}

void ShellTest::SetUp() {
  reset_install_state();
  wizard_controls() = WizardControls{};
  ShellPorts ports;
  ports.windows = &windows_;
  ports.folders = &folders_;
  ports.threads = &threads_;
  ports.account = &account_;
  ports.process = &process_;
  shell_ports() = ports;
  IntegrationPorts integration;
  integration.registry = &registry_;
  integration.environment = &environment_;
  integration.files = &files_;
  integration.dde = &dde_;
  integration.messages = &messages_;
  integration.fatal = &fatal_;
  integration_ports() = integration;
  files_.files["env"] = "PATH\nREG_EXPAND_SZ\n\\bin\n::\n";
}

void ShellTest::TearDown() {
  shell_ports() = ShellPorts{};
  integration_ports() = IntegrationPorts{};
}

WindowHandle ShellTest::create_main_window() {
  windows_.main_procedure = InstallWizard;
  main_ = windows_.create_window(0, kMainClassName, " ", kWsCaption, 0, 0, 700, 500, nullptr, 0);
  return main_;
}

intptr_t ShellTest::command(uintptr_t number) { return InstallWizard(main_, kWmCommand, number, 0); }

std::vector<DrawnText> ShellTest::paint() {
  EXPECT_EQ(InstallWizard(main_, kWmPaint, 0, 0), 0);
  return windows_.drawn;
}

void ShellTest::go_to_folder_page() {
  environment_.variables["HOMEDRIVE"] = "C:";
  environment_.variables["HOMEPATH"] = "\\";
  create_main_window();
  command(kCommandAccept);
}
