// The script of user actions: standard input, one action a line, read on a
// thread of its own and performed by the UI thread's loop when it is idle.
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/headless_world.h"

namespace headless {
namespace {

void* read_script(void*) {
  char line[kScriptLineSize];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    std::size_t n = std::strlen(line);
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    Posted action;
    std::snprintf(action.text, sizeof action.text, "%s", line);
    std::lock_guard<std::mutex> guard(world().lock);
    world().actions.push_back(action);
    world().changed.notify_all();
  }
  std::lock_guard<std::mutex> guard(world().lock);
  world().input_ended = true;
  world().changed.notify_all();
  return nullptr;
}

// Under the lock. The live control of `kind` with identifier `id` on the UI
// thread; -1 when there is none.
int find_control(Kind kind, int id) {
  for (int i = 0; i < world().window_count; ++i) {
    Window* w = live(i);
    if (w != nullptr && w->kind == kind && w->owner == kUiThread && (id < 0 || w->id == id)) return i;
  }
  return -1;
}

// A button press: the button tells its parent, as a click does.
bool click_locked(int id) {
  int button = find_control(kButtonKind, id);
  if (button < 0) return false;
  post_locked(world().windows[button].parent, kWmCommand, static_cast<uintptr_t>(id),
              reinterpret_cast<intptr_t>(handle_of(button)));
  return true;
}

}  // namespace

bool perform_locked(const char* action) {
  if (std::strncmp(action, "click ", 6) == 0) return click_locked(std::atoi(action + 6));
  if (std::strcmp(action, "type") == 0 || std::strncmp(action, "type ", 5) == 0) {
    int edit = find_control(kEditKind, -1);
    if (edit < 0) return false;
    const char* text = action[4] == ' ' ? action + 5 : "";
    std::snprintf(world().windows[edit].text, kTextSize, "%s", text);
    return true;
  }
  if (std::strcmp(action, "browse") == 0 || std::strncmp(action, "browse ", 7) == 0) {
    if (find_control(kButtonKind, 3) < 0) return false;
    world().browse_answered = action[6] == ' ';
    std::snprintf(world().browse_answer, sizeof world().browse_answer, "%s",
                  world().browse_answered ? action + 7 : "");
    return click_locked(3);
  }
  if (std::strncmp(action, "scroll ", 7) == 0) {
    unsigned code = 0, position = 0;
    int pane = find_control(kNoticeKind, -1);
    // Without a pane the action has nothing to act on.
    if (pane >= 0 && std::sscanf(action + 7, "%u %u", &code, &position) >= 1) {
      post_locked(pane, kWmVScroll, (code & 0xFFFF) | ((position & 0xFFFF) << 16), 0);
    }
    return true;
  }
  return true;  // an empty or unknown line does nothing
}

void start_reader_locked() {
  if (world().reader_started) return;
  world().reader_started = true;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, read_script, nullptr) != 0) {
    world().input_ended = true;
    return;
  }
  pthread_detach(thread);
}

}  // namespace headless
