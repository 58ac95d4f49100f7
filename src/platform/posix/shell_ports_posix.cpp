// The installer shell's other ports natively: the folder dialog answered
// by the script, POSIX threads, the account name and the end of the process.
#include <pthread.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/posix/headless_world.h"
#include "platform/shell_platform.h"

namespace headless {
namespace {

class HeadlessFolderPicker : public FolderPicker {
 public:
  // The script's "browse PATH" answers; "browse" alone cancels.
  PickedFolder browse_for_folder(WindowHandle, const char*, char* display_name) override {
    std::lock_guard<std::mutex> guard(world().lock);
    if (!world().browse_answered) return nullptr;
    const char* answer = world().browse_answer;
    const char* slash = std::strrchr(answer, '/');
    const char* name = slash != nullptr && slash[1] != '\0' ? slash + 1 : answer;
    std::snprintf(display_name, kPathBufferSize, "%s", name);
    std::snprintf(chosen_, sizeof chosen_, "%s", answer);
    return chosen_;
  }
  // The native path in the program's own "\" form.
  bool path_from_item(PickedFolder item, char* path) override {
    const char* native = static_cast<const char*>(item);
    std::size_t n = std::strlen(native);
    if (n == 0 || n >= kPathBufferSize) return false;
    for (std::size_t i = 0; i <= n; ++i) path[i] = native[i] == '/' ? '\\' : native[i];
    return true;
  }

 private:
  char chosen_[kPathBufferSize] = {};
};

class PosixThreads : public ThreadStarter {
 public:
  bool start_thread(ThreadEntry entry, void* parameter) override {
    Start* start = new Start{entry, parameter};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, run, start) != 0) {
      delete start;
      return false;
    }
    pthread_detach(thread);
    return true;
  }
  void sleep(uint32_t milliseconds) override {
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {
    }
  }

 private:
  struct Start {
    ThreadEntry entry;
    void* parameter;
  };
  static void* run(void* raw) {
    Start start = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    start.entry(start.parameter);
    return nullptr;
  }
};

class PosixAccount : public AccountReader {
 public:
  void user_name(char* buffer, uint32_t size) override {
    if (size == 0) return;
    struct passwd* entry = getpwuid(getuid());
    std::snprintf(buffer, size, "%s", entry != nullptr ? entry->pw_name : "");
  }
};

class PosixProcess : public ProcessControl {
 public:
  void write_line(const char* line) override {
    std::puts(line);
    std::fflush(stdout);
  }
  // Other threads may still be running: nothing is torn down under them.
  // The group server stands for another program, which would go on to
  // take what was posted to it: it gets a moment to do so. Only the output
  // streams are flushed: flushing all of them would wait for standard
  // input's lock, which the script reader holds while it waits for a line.
  void end_process(int status) override {
    settle_server();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(status);
  }
};

}  // namespace
}  // namespace headless

ShellPorts platform_shell_ports() {
  static headless::HeadlessFolderPicker* folders = new headless::HeadlessFolderPicker;
  static headless::PosixThreads* threads = new headless::PosixThreads;
  static headless::PosixAccount* account = new headless::PosixAccount;
  static headless::PosixProcess* process = new headless::PosixProcess;
  // The caller's thread runs the message loop and owns the main window.
  headless::adopt_thread(headless::kUiThread);
  headless::start_group_server();
  ShellPorts ports;
  ports.windows = &headless::window_system();
  ports.folders = folders;
  ports.threads = threads;
  ports.account = account;
  ports.process = process;
  return ports;
}
