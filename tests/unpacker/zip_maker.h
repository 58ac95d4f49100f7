// Test archives made byte by byte, so that each field can be set or broken
// on purpose: stored entries after a program stub, offsets from the file's
// start, zip64 fields when asked, optionally a certificate table after it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/crc32.h"
#include "unpacker/archive.h"

namespace zip_maker {

struct Item {
  std::string name;  // a folder's ends in '/'
  std::string data;
};

inline void put16(std::string& s, uint32_t v) { s += char(v & 0xff), s += char(v >> 8 & 0xff); }
inline void put32(std::string& s, uint32_t v) { put16(s, v & 0xffff), put16(s, v >> 16); }
inline void put64(std::string& s, uint64_t v) { put32(s, uint32_t(v)), put32(s, uint32_t(v >> 32)); }

// A PE32 header of 512 bytes whose certificate entry (data directory 4)
// lies at offset 128 of its optional header, filled in by sign().
inline std::string program_stub() {
  std::string s(512, '\0');
  s[0] = 'M', s[1] = 'Z';
  s[0x3c] = 64;
  std::memcpy(&s[64], "PE\0\0", 4);
  s[68] = 0x4c, s[69] = 0x01;              // i386
  s[84] = char(224);                       // size of the optional header
  s[86] = 0x02;                            // an executable image
  s[88] = 0x0b, s[89] = 0x01;              // PE32
  s[88 + 92] = 16;                         // data directories
  return s;
}

// Pads to a multiple of 8 and appends a certificate table, as a signing
// tool does, pointing the header's entry at it.
inline std::string sign(std::string file) {
  while (file.size() % 8 != 0) file += '\0';
  std::string table;
  put32(table, 40), put16(table, 0x200), put16(table, 2);
  table += std::string(32, 'S');
  uint32_t at = uint32_t(file.size());
  std::string entry;
  put32(entry, at), put32(entry, uint32_t(table.size()));
  file.replace(88 + 96 + 8 * 4, 8, entry);
  return file + table;
}

inline std::string archive(const std::vector<Item>& items, bool zip64 = false, std::string file = program_stub()) {
  std::string central;
  for (const Item& item : items) {
    uint64_t at = file.size();
    uint32_t crc = crc32_update(0, item.data.data(), item.data.size());
    std::string local_extra, central_extra;
    if (zip64) {
      put16(local_extra, 1), put16(local_extra, 16), put64(local_extra, item.data.size()), put64(local_extra, item.data.size());
      put16(central_extra, 1), put16(central_extra, 24);
      put64(central_extra, item.data.size()), put64(central_extra, item.data.size()), put64(central_extra, at);
    }
    uint32_t size32 = zip64 ? 0xffffffffu : uint32_t(item.data.size());
    put32(file, 0x04034b50), put16(file, zip64 ? 45 : 10), put16(file, 0), put16(file, 0), put32(file, 0);
    put32(file, crc), put32(file, size32), put32(file, size32);
    put16(file, uint32_t(item.name.size())), put16(file, uint32_t(local_extra.size()));
    file += item.name + local_extra + item.data;
    put32(central, 0x02014b50), put16(central, 0x031e), put16(central, zip64 ? 45 : 10), put16(central, 0);
    put16(central, 0), put32(central, 0), put32(central, crc), put32(central, size32), put32(central, size32);
    put16(central, uint32_t(item.name.size())), put16(central, uint32_t(central_extra.size())), put16(central, 0);
    put16(central, 0), put16(central, 0), put32(central, 0), put32(central, zip64 ? 0xffffffffu : uint32_t(at));
    central += item.name + central_extra;
  }
  uint64_t directory_at = file.size();
  file += central;
  if (zip64) {
    uint64_t record_at = file.size();
    put32(file, 0x06064b50), put64(file, 44), put16(file, 45), put16(file, 45), put32(file, 0), put32(file, 0);
    put64(file, items.size()), put64(file, items.size()), put64(file, central.size()), put64(file, directory_at);
    put32(file, 0x07064b50), put32(file, 0), put64(file, record_at), put32(file, 1);
  }
  put32(file, 0x06054b50), put32(file, 0);
  put16(file, zip64 ? 0xffff : uint32_t(items.size())), put16(file, zip64 ? 0xffff : uint32_t(items.size()));
  put32(file, zip64 ? 0xffffffffu : uint32_t(central.size())), put32(file, zip64 ? 0xffffffffu : uint32_t(directory_at));
  put16(file, 0);
  return file;
}

class Bytes : public unpack::ByteSource {
 public:
  explicit Bytes(std::string bytes) : bytes_(std::move(bytes)) {}
  uint64_t size() override { return bytes_.size(); }
  std::size_t read_at(uint64_t at, void* buffer, std::size_t n) override {
    if (at >= bytes_.size()) return 0;
    n = std::min<std::size_t>(n, bytes_.size() - at);
    std::memcpy(buffer, bytes_.data() + at, n);
    return n;
  }

 private:
  std::string bytes_;
};

class Text : public unpack::ByteSink {
 public:
  bool write(const void* data, std::size_t n) override {
    text.append(static_cast<const char*>(data), n);
    return true;
  }
  std::string text;
};

}  // namespace zip_maker
