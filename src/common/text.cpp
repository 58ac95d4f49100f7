#include "common/text.h"

#include <cstring>

bool append_text(char* buffer, std::size_t size, const char* from) {
  std::size_t used = std::strlen(buffer);
  std::size_t more = std::strlen(from);
  if (used + more + 1 > size) return false;
  std::memcpy(buffer + used, from, more + 1);
  return true;
}

bool join_text(char* out, std::size_t size, const char* a, const char* b, const char* c) {
  if (size == 0) return false;
  out[0] = '\0';
  if (append_text(out, size, a) && append_text(out, size, b) && append_text(out, size, c)) return true;
  out[0] = '\0';
  return false;
}

void compose_message(char* out, std::size_t size, const char* prefix, const char* subject,
                     const char* suffix) {
  if (size == 0) return;
  static const char kEllipsis[] = "...";
  std::size_t p = std::strlen(prefix), s = std::strlen(subject), x = std::strlen(suffix);
  std::size_t room = size - 1;
  // Keep the prefix and the suffix as far as they go; the subject takes what is left.
  if (p > room) p = room;
  if (x > room - p) x = room - p;
  std::size_t left = room - p - x;
  std::size_t pos = 0;
  std::memcpy(out, prefix, p);
  pos += p;
  if (s <= left) {
    std::memcpy(out + pos, subject, s);
    pos += s;
  } else if (left > 3) {
    std::memcpy(out + pos, kEllipsis, 3);
    std::memcpy(out + pos + 3, subject + s - (left - 3), left - 3);
    pos += left;
  } else {
    std::memcpy(out + pos, subject + s - left, left);
    pos += left;
  }
  std::memcpy(out + pos, suffix, x);
  pos += x;
  out[pos] = '\0';
}

void drop_trailing_backslash(char* path) {
  const char* last = std::strrchr(path, '\\');
  if (last != nullptr && last[1] == '\0') path[last - path] = '\0';
}
