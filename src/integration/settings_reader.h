// Line reader of the two settings files: the file is read in chunks of up
// to 512 characters and handed out one line at a time, without its LF.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int32_t kChunkSize = 512;

// The state of one open file; a fresh one for every file opened.
struct SettingsLineReader {
  char chunk[kChunkSize + 1] = {};  // always zero-terminated
  int32_t chunk_length = 0;         // 0 before the first read, -1 at the end
  int32_t chunk_position = 0;
  int32_t line_length = 0;          // of the line being assembled
};

// Reads the next chunk with "%512c" into a zeroed chunk: its length as a
// text, or -1 when nothing could be read.
int32_t fill_chunk(SettingsLineReader& reader, std::FILE* file);

// Stores the next line in `out` (of `capacity` bytes), zero-terminated, and
// returns its full length; -1, with `out` untouched, when no line is left.
// A line longer than `capacity` - 1 is consumed whole, but only its first
// `capacity` - 1 characters are stored: the caller sees the overlong length.
int32_t read_line(SettingsLineReader& reader, std::FILE* file, char* out, int32_t capacity);
