#include "integration/settings_reader.h"

#include <cstring>

int32_t fill_chunk(SettingsLineReader& reader, std::FILE* file) {
  std::memset(reader.chunk, 0, kChunkSize);
  reader.chunk_position = 0;
  // "%512c" takes line feeds and white space alike and adds no terminator;
  // the zeroed area and the byte after it terminate whatever came.
  if (std::fscanf(file, "%512c", reader.chunk) != 1) return -1;
  return static_cast<int32_t>(std::strlen(reader.chunk));
}

int32_t read_line(SettingsLineReader& reader, std::FILE* file, char* out, int32_t capacity) {
  if (reader.chunk_length == 0) reader.chunk_length = fill_chunk(reader, file);
  for (;;) {
    while (reader.chunk_position < reader.chunk_length &&
           reader.chunk[reader.chunk_position] != '\n') {
      // Past the caller's buffer the line is still counted, never stored.
      if (reader.line_length < capacity - 1) out[reader.line_length] = reader.chunk[reader.chunk_position];
      ++reader.chunk_position;
      ++reader.line_length;
    }
    // At the end of the usable part, or at -1, the byte there is zero.
    if (reader.chunk[reader.chunk_position] == '\n') {
      ++reader.chunk_position;
      break;
    }
    reader.chunk_length = fill_chunk(reader, file);
    if (reader.chunk_length != -1) continue;
    if (reader.line_length > 0) break;
    return -1;
  }
  int32_t length = reader.line_length;
  out[length < capacity - 1 ? length : capacity - 1] = '\0';
  reader.line_length = 0;
  return length;
}
