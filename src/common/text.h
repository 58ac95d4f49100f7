// Bounded text helpers for the fixed 8-bit buffers the program works with.
#pragma once

#include <cstddef>

// Appends `from` to the zero-terminated text in `buffer` (of `size` bytes).
// Returns false, leaving `buffer` unchanged, when the result would not fit.
bool append_text(char* buffer, std::size_t size, const char* from);

// Joins a, b and c into `out`; false (and `out` empty) when it would not fit.
bool join_text(char* out, std::size_t size, const char* a, const char* b, const char* c = "");

// Writes prefix + subject + suffix into `out`, always terminated. When the
// whole would not fit, the start of `subject` gives way to "..." so that its
// end (the file name of a path) stays readable.
void compose_message(char* out, std::size_t size, const char* prefix, const char* subject,
                     const char* suffix);

// Removes one backslash when the text ends with it: what the installer does
// to the folder it is given.
void drop_trailing_backslash(char* path);
