#include "common/crc32.h"

namespace {

// Eight tables, so that eight bytes are folded in per step (slicing by 8):
// the unpacker checks every byte of a package as it writes it.
using Tables = uint32_t[8][256];

const Tables& crc_tables() {
  static Tables tables;
  static bool made = [] {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      tables[0][n] = c;
    }
    for (int k = 1; k < 8; ++k)
      for (uint32_t n = 0; n < 256; ++n) tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFF];
    return true;
  }();
  (void)made;
  return tables;
}

uint32_t little_endian(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint32_t crc32_update(uint32_t crc, const void* data, std::size_t size) {
  const Tables& t = crc_tables();
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (; size >= 8; bytes += 8, size -= 8) {
    uint32_t low = crc ^ little_endian(bytes), high = little_endian(bytes + 4);
    crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
          t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
  }
  for (; size > 0; ++bytes, --size) crc = t[0][(crc ^ *bytes) & 0xFF] ^ (crc >> 8);
  return ~crc;
}
