#include <cerrno>
#include <cstring>

#include "common/text.h"
#include "engine/engine.h"
#include "engine/engine_ports.h"

void copy_file_plain(const char* source_path, const char* destination_path) {
  EnginePorts& ports = engine_ports();
  FileCopier& files = *ports.copier;

  FileHandle source = files.open_source(source_path);
  if (source == nullptr) {
    ports.fatal->fail("Error: cannot access file on installation disk.", "Error");
    return;
  }
  FileHandle destination = files.create_destination(destination_path);
  if (destination == nullptr) {
    files.close(source);
    ports.fatal->fail("Error: cannot open new destination file to install.", "Error");
    return;
  }
  // Taken before any data is read, as the times must be the source's own.
  FileInformation info;
  bool have_info = files.read_information(source, &info);

  unsigned char block[260];
  for (;;) {
    uint32_t count = 0;
    if (!files.read(source, block, sizeof block, &count)) {
      files.close(source);
      files.close(destination);
      ports.fatal->fail("Error: cannot read from installation disk.", "Error");
      return;
    }
    if (count == 0) break;
    uint32_t offset = 0;
    while (offset < count) {
      uint32_t written = 0;
      errno = 0;
      // A write that moves nothing would repeat for ever: a full disk ends here.
      if (!files.write(destination, block + offset, count - offset, &written) || written == 0) {
        int error = errno != 0 ? errno : ENOSPC;
        files.close(source);
        files.close(destination);
        char message[256];
        char reason[128];
        join_text(reason, sizeof reason, ": ", std::strerror(error));
        compose_message(message, sizeof message, "Write to destination file ", destination_path, reason);
        ports.fatal->fail(message, "Error");
        return;
      }
      offset += written;
    }
  }
  // Without the source's information there is nothing true to apply.
  if (have_info) {
    files.set_attributes(destination_path, info.attributes);
    files.set_times(destination, info);
  }
  files.close(source);
  files.close(destination);
}
