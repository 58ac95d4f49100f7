#include <cstring>

#include "common/text.h"
#include "engine/engine.h"
#include "engine/engine_ports.h"

EnginePorts& engine_ports() {
  static EnginePorts ports;
  return ports;
}

namespace {

void fail(const char* text, const char* caption) { engine_ports().fatal->fail(text, caption); }

// A built path that would not fit its buffer is refused rather than cut.
void join_path_or_fail(char (&out)[kPathBufferSize], const char* a, const char* b, const char* c) {
  if (join_text(out, sizeof out, a, b, c)) return;
  char whole[kPathBufferSize * 3];
  join_text(whole, sizeof whole, a, b, c);
  char message[256];
  compose_message(message, sizeof message, "Path too long to install: ", whole, "");
  fail(message, "Error");
}

bool is_directory(const FindRecord& record) { return (record.attributes & kAttributeDirectory) != 0; }

bool is_dot_entry(const char* name) { return std::strcmp(name, "..") == 0 || std::strcmp(name, ".") == 0; }

// Refused before anything is opened or created for it. The name is quoted,
// as it may look like a path; control characters are shown as '?' so that
// the message stays one readable line.
void fail_on_name(const char* folder, const char* name) {
  char quoted[kPathBufferSize + 4] = ": \"";
  std::size_t n = std::strlen(quoted);
  for (const char* c = name; *c != '\0' && n + 2 < sizeof quoted; ++c)
    quoted[n++] = static_cast<unsigned char>(*c) < 0x20 ? '?' : *c;
  quoted[n++] = '"';
  quoted[n] = '\0';
  char message[256];
  compose_message(message, sizeof message, "Invalid name in package folder ", folder, quoted);
  fail(message, "Error");
}

}  // namespace

uint32_t PackageLoader(void*) {
  InstallState& state = install_state();
  install_tree(state.source_folder, state.destination_folder, state.copy_mode, 1);
  engine_ports().wizard->send_command(state.wizard_window, state.completion_command);
  state.installing.store(0);
  return 0;
}

void install_tree(const char* source_dir, const char* destination_dir, int32_t copy_mode,
                  int32_t report) {
  EnginePorts& ports = engine_ports();
  ensure_directory(destination_dir);

  char prefix[kPathBufferSize];
  char source_path[kPathBufferSize];
  char destination_path[kPathBufferSize];
  join_path_or_fail(prefix, source_dir, "\\", "");
  join_path_or_fail(source_path, prefix, "*", "");

  FindRecord record;
  SearchHandle search = ports.lister->find_first(source_path, &record);
  if (search == nullptr) {
    fail("Source directory does not exist.", "Error");
    return;
  }
  do {
    // Never installed or entered, so no path is built for them either.
    if (is_dot_entry(record.name)) continue;
    if (!names_one_entry(record.name)) {
      fail_on_name(source_dir, record.name);
      return;
    }
    join_path_or_fail(source_path, prefix, record.name, "");
    join_path_or_fail(destination_path, destination_dir, "\\", record.name);
    if (is_directory(record)) {
      install_tree(source_path, destination_path, copy_mode, report);
    } else {
      install_file(source_path, destination_path, copy_mode, report);
    }
  } while (ports.lister->find_next(search, &record));
  ports.lister->find_close(search);
}

void install_file(const char* source_path, const char* destination_path, int32_t copy_mode,
                  int32_t report) {
  if (report == 1) engine_ports().wizard->set_current_file(destination_path);
  switch (copy_mode) {
    case static_cast<int32_t>(CopyMode::Copy): copy_file_plain(source_path, destination_path); break;
    case static_cast<int32_t>(CopyMode::Compress): compress_file(source_path, destination_path); break;
    case static_cast<int32_t>(CopyMode::Expand): expand_file(source_path, destination_path); break;
    default: break;
  }
}

void ensure_directory(const char* path) {
  EnginePorts& ports = engine_ports();
  FindRecord record;
  SearchHandle search = ports.lister->find_first(path, &record);
  if (search != nullptr) {
    ports.lister->find_close(search);
    if (is_directory(record)) return;
    fail("Error: Cannot create subdirectory to install.", path);
    return;
  }
  if (ports.maker->make_directory(path)) return;
  fail("Error: Cannot create subdirectory to install.", path);
}
