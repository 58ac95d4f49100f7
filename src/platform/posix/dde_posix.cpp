// The native stand-in group server and the DDE channel over the headless
// window system. The server runs on a thread of its own and answers like
// the real one: it acknowledges an initiate for "PROGMAN" with the atoms,
// takes the execute (traced as "execute TEXT"), acknowledges it, and
// answers the client's terminate with a terminate of its own.
#include <pthread.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "integration/integration_ports.h"
#include "integration/progman.h"
#include "platform/posix/headless.h"
#include "platform/shell_platform.h"

namespace {

constexpr int kMaxAtoms = 16;
constexpr int kMaxBlocks = 16;
constexpr uint16_t kFirstAtom = 0xC001;  // string atoms live from 0xC000 up
constexpr intptr_t kExecuteAcknowledged = 0x8000;
constexpr int kAtomNameSize = 256;

struct Atom {
  int references = 0;
  char name[kAtomNameSize] = {};
};

struct Block {
  bool used = false;
  int locks = 0;
  uint32_t size = 0;
  char* data = nullptr;
};

// Heap-held and never destroyed, like the window system's own state.
struct Exchange {
  std::mutex lock;
  std::condition_variable ready;
  Atom atoms[kMaxAtoms];
  Block blocks[kMaxBlocks];
  WindowHandle server = nullptr;
  bool server_started = false;
  WindowHandle client = nullptr;  // the window the server acknowledged
};

Exchange& exchange() {
  static Exchange* e = new Exchange;
  return *e;
}

bool atom_is(uint16_t atom, const char* name) {
  std::lock_guard<std::mutex> guard(exchange().lock);
  int i = atom - kFirstAtom;
  return i >= 0 && i < kMaxAtoms && exchange().atoms[i].references > 0 &&
         strcasecmp(exchange().atoms[i].name, name) == 0;
}

intptr_t server_procedure(WindowHandle self, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  WindowHandle sender = reinterpret_cast<WindowHandle>(wparam);
  switch (message) {
    case kWmDdeInitiate: {
      uint16_t application = static_cast<uint16_t>(lparam & 0xFFFF);
      uint16_t topic = static_cast<uint16_t>((lparam >> 16) & 0xFFFF);
      if (sender == self || !atom_is(application, "PROGMAN") || !atom_is(topic, "PROGMAN")) return 0;
      {
        std::lock_guard<std::mutex> guard(exchange().lock);
        exchange().client = sender;
      }
      headless::send(sender, kWmDdeAck, reinterpret_cast<uintptr_t>(self),
                     static_cast<intptr_t>(application) | (static_cast<intptr_t>(topic) << 16));
      return 0;
    }
    case kWmDdeExecute:
      headless::trace("execute %s", headless::posted_text());
      headless::post(sender, kWmDdeAck, reinterpret_cast<uintptr_t>(self), kExecuteAcknowledged);
      return 0;
    case kWmDdeTerminate: {
      bool partner;
      {
        std::lock_guard<std::mutex> guard(exchange().lock);
        partner = sender != nullptr && sender == exchange().client;
        if (partner) exchange().client = nullptr;
      }
      if (partner) headless::post(sender, kWmDdeTerminate, reinterpret_cast<uintptr_t>(self), 0);
      return 0;
    }
    default:
      return 0;
  }
}

void* run_server(void*) {
  headless::adopt_thread(headless::kServerThread);
  WindowHandle server = headless::create_server_window(server_procedure);
  {
    std::lock_guard<std::mutex> guard(exchange().lock);
    exchange().server = server;
    exchange().server_started = true;
    exchange().ready.notify_all();
  }
  headless::run_server_loop();
  return nullptr;
}

class HeadlessDdeChannel : public DdeChannel {
 public:
  uint16_t add_atom(const char* name) override {
    std::lock_guard<std::mutex> guard(exchange().lock);
    int free_slot = -1;
    for (int i = 0; i < kMaxAtoms; ++i) {
      Atom& atom = exchange().atoms[i];
      if (atom.references > 0 && strcasecmp(atom.name, name) == 0) {
        ++atom.references;
        return static_cast<uint16_t>(kFirstAtom + i);
      }
      if (atom.references == 0 && free_slot < 0) free_slot = i;
    }
    if (free_slot < 0 || std::strlen(name) >= kAtomNameSize) return 0;
    Atom& atom = exchange().atoms[free_slot];
    atom.references = 1;
    std::strcpy(atom.name, name);
    return static_cast<uint16_t>(kFirstAtom + free_slot);
  }

  uint16_t delete_atom(uint16_t value) override {
    std::lock_guard<std::mutex> guard(exchange().lock);
    int i = value - kFirstAtom;
    if (i < 0 || i >= kMaxAtoms || exchange().atoms[i].references == 0) return value;
    --exchange().atoms[i].references;
    return 0;
  }

  void broadcast_initiate(WindowHandle client, uint16_t application, uint16_t topic) override {
    WindowHandle windows[16];
    int n = headless::top_level_windows(windows, 16);
    for (int i = 0; i < n; ++i) {
      headless::send(windows[i], kWmDdeInitiate, reinterpret_cast<uintptr_t>(client),
                     static_cast<intptr_t>(application) | (static_cast<intptr_t>(topic) << 16));
    }
  }

  MemoryBlock allocate_block(uint32_t size) override {
    std::lock_guard<std::mutex> guard(exchange().lock);
    for (int i = 0; i < kMaxBlocks; ++i) {
      Block& block = exchange().blocks[i];
      if (block.used) continue;
      block.data = static_cast<char*>(std::calloc(size + 1, 1));
      if (block.data == nullptr) return nullptr;
      block.used = true;
      block.locks = 0;
      block.size = size;
      return &block;
    }
    return nullptr;
  }

  char* lock_block(MemoryBlock handle) override {
    std::lock_guard<std::mutex> guard(exchange().lock);
    Block* block = find(handle);
    if (block == nullptr) return nullptr;
    ++block->locks;
    return block->data;
  }

  // 1 when a locked block was unlocked; 0 for no block, or one not locked.
  int32_t unlock_block(char* text) override {
    std::lock_guard<std::mutex> guard(exchange().lock);
    for (Block& block : exchange().blocks) {
      if (block.used && text != nullptr && block.data == text && block.locks > 0) {
        --block.locks;
        return 1;
      }
    }
    return 0;
  }

  MemoryBlock free_block(MemoryBlock handle) override {
    if (handle == nullptr) return nullptr;
    std::lock_guard<std::mutex> guard(exchange().lock);
    Block* block = find(handle);
    if (block == nullptr) return handle;
    std::free(block->data);
    *block = Block{};
    return nullptr;
  }

  // The server reads the text when it gets to the message; the block may be
  // gone by then (the client frees it at its terminate), so the text
  // travels with the message as the block held it when posted.
  void post_execute(WindowHandle server, WindowHandle client, MemoryBlock handle) override {
    char text[kCommandBufferSize + 1] = {};
    {
      std::lock_guard<std::mutex> guard(exchange().lock);
      Block* block = find(handle);
      if (block != nullptr) std::snprintf(text, sizeof text, "%s", block->data);
    }
    headless::post_with_text(server, kWmDdeExecute, reinterpret_cast<uintptr_t>(client),
                             reinterpret_cast<intptr_t>(handle), text);
  }

  void broadcast_terminate(WindowHandle client) override {
    WindowHandle windows[16];
    int n = headless::top_level_windows(windows, 16);
    for (int i = 0; i < n; ++i) {
      headless::post(windows[i], kWmDdeTerminate, reinterpret_cast<uintptr_t>(client), 0);
    }
  }

  void send_command(WindowHandle window, int32_t command) override {
    headless::send(window, kWmCommand, static_cast<uintptr_t>(command), 0);
  }

 private:
  // Under the lock.
  static Block* find(MemoryBlock handle) {
    for (Block& block : exchange().blocks) {
      if (block.used && &block == handle) return &block;
    }
    return nullptr;
  }
};

}  // namespace

void headless::start_group_server() {
  const char* choice = std::getenv("SETUP_PROGMAN");
  if (choice != nullptr && std::strcmp(choice, "none") == 0) return;
  std::unique_lock<std::mutex> lock(exchange().lock);
  if (exchange().server_started) return;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, run_server, nullptr) != 0) return;
  pthread_detach(thread);
  exchange().ready.wait(lock, [] { return exchange().server_started; });
}

DdeChannel* platform_dde_channel() {
  static HeadlessDdeChannel* channel = new HeadlessDdeChannel;
  return channel;
}
