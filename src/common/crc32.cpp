#include "common/crc32.h"

namespace {

const uint32_t* crc_table() {
  static uint32_t table[256];
  static bool made = [] {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[n] = c;
    }
    return true;
  }();
  (void)made;
  return table;
}

}  // namespace

uint32_t crc32_update(uint32_t crc, const void* data, std::size_t size) {
  const uint32_t* table = crc_table();
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}
