#include <bzlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "engine/engine.h"
#include "engine/engine_ports.h"

namespace {

constexpr int kChunk = 4096;
constexpr std::size_t kWriteBuffer = 256 * 1024;
constexpr int kCompressionLevel = 9;

// "PREFIX PATH: REASON" in the 256-byte message buffer, then the end.
void fail_with_reason(const char* prefix, const char* path, int error) {
  char reason[128];
  join_text(reason, sizeof reason, ": ",
            error == kRefusedLink ? "it is a link, which is never written through" : std::strerror(error));
  char message[256];
  compose_message(message, sizeof message, prefix, path, reason);
  engine_ports().fatal->fail(message, "Error");
}

// "Read source file PATH: REASON" once the package file it was being
// compressed into is removed; when it cannot be, the message says so.
void fail_after_read_error(const char* source_path, int error, const char* destination_path) {
  if (engine_ports().streams->remove_file(destination_path)) {
    fail_with_reason("Read source file ", source_path, error);
    return;
  }
  char reason[128];
  join_text(reason, sizeof reason, ": ", std::strerror(error));
  // Each path gives way at its start; the source's half of the buffer
  // leaves the package file's name room to be read.
  char first[192];
  compose_message(first, 128, "Read source file ", source_path, reason);
  append_text(first, sizeof first, "; could not remove the incomplete package file ");
  char message[256];
  compose_message(message, sizeof message, first, destination_path, "");
  engine_ports().fatal->fail(message, "Error");
}

// Decodes the stream just written and counts its bytes: the library's close
// reports nothing, so this is how a stream cut short by a full disk shows.
bool stream_holds(const char* path, unsigned long long expected) {
  BZFILE* check = static_cast<BZFILE*>(engine_ports().streams->open_compressed(path, "rb"));
  if (check == nullptr) return false;
  char buffer[kChunk];
  unsigned long long total = 0;
  int n;
  while ((n = BZ2_bzread(check, buffer, kChunk)) > 0) total += static_cast<unsigned>(n);
  BZ2_bzclose(check);
  return n == 0 && total == expected;
}

}  // namespace

void expand_file(const char* source_path, const char* destination_path) {
  EnginePorts& ports = engine_ports();
  std::FILE* destination = ports.streams->open_plain(destination_path, "wb");
  if (destination == nullptr) {
    fail_with_reason("Write to destination file ", destination_path, errno);
    return;
  }
  // The chunks stay 4096 bytes; the stream gathers them so that the system
  // sees one write per kWriteBuffer bytes, not one per chunk (a write is a
  // costly call under Windows emulation). A failed write still shows, at
  // the latest when the file is closed.
  std::setvbuf(destination, nullptr, _IOFBF, kWriteBuffer);
  BZFILE* source = static_cast<BZFILE*>(ports.streams->open_compressed(source_path, "rb"));
  if (source == nullptr) {
    fail_with_reason("Open source file ", source_path, errno);
    return;
  }
  char buffer[kChunk];
  int n;
  while ((n = BZ2_bzread(source, buffer, kChunk)) > 0) {
    errno = 0;
    if (std::fwrite(buffer, 1, static_cast<std::size_t>(n), destination) != static_cast<std::size_t>(n)) {
      int error = errno != 0 ? errno : EIO;
      BZ2_bzclose(source);
      std::fclose(destination);
      fail_with_reason("Write to destination file ", destination_path, error);
      return;
    }
  }
  BZ2_bzclose(source);
  errno = 0;
  if (std::fclose(destination) != 0) {
    fail_with_reason("Write to destination file ", destination_path, errno != 0 ? errno : EIO);
    return;
  }
  // A damaged package file must not pass for an installed one.
  if (n < 0) {
    char message[256];
    compose_message(message, sizeof message, "Damaged package file ", source_path,
                    ": it is not a complete bzip2 stream.");
    ports.fatal->fail(message, "Error");
  }
}

void compress_file(const char* source_path, const char* destination_path) {
  EnginePorts& ports = engine_ports();
  std::FILE* source = ports.streams->open_plain(source_path, "rb");
  if (source == nullptr) {
    fail_with_reason("Open source file ", source_path, errno);
    return;
  }
  const char mode[3] = {'w', static_cast<char>('0' + kCompressionLevel), '\0'};
  BZFILE* destination = static_cast<BZFILE*>(ports.streams->open_compressed(destination_path, mode));
  if (destination == nullptr) {
    fail_with_reason("Write to destination file ", destination_path, errno);
    return;
  }
  char buffer[kChunk];
  unsigned long long total = 0;
  std::size_t n;
  while ((n = std::fread(buffer, 1, kChunk, source)) > 0) {
    errno = 0;
    if (BZ2_bzwrite(destination, buffer, static_cast<int>(n)) != static_cast<int>(n)) {
      int error = errno != 0 ? errno : EIO;
      BZ2_bzclose(destination);
      fail_with_reason("Write to destination file ", destination_path, error);
      return;
    }
    total += n;
  }
  // A read error must not leave a package file that silently holds less:
  // the library's close ends the stream whole, so the file goes.
  if (std::ferror(source)) {
    int error = errno != 0 ? errno : EIO;
    BZ2_bzclose(destination);
    std::fclose(source);
    fail_after_read_error(source_path, error, destination_path);
    return;
  }
  errno = 0;
  BZ2_bzclose(destination);
  int close_error = errno;
  if (!stream_holds(destination_path, total)) {
    fail_with_reason("Write to destination file ", destination_path, close_error != 0 ? close_error : EIO);
    return;
  }
  std::fclose(source);
}
