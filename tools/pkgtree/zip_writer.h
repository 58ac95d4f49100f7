// A zip archive of stored entries, written as a stream after whatever the
// file already holds (the unpacker): each file is read once, its CRC-32
// counted as its bytes are copied, and its local header completed in place
// afterwards, so that nothing of the package is held in memory. Offsets
// are counted from the start of the file, so that a stock zip tool reads
// the archive in the program as it is. Zip64 records are written where a
// count, a size or an offset does not fit the classic fields.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// The largest values the classic fields hold; a test lowers them to make
// every record a zip64 one.
struct ZipLimits {
  uint64_t field32 = 0xffffffffu;
  uint64_t field16 = 0xffffu;
};

class StoredZipWriter {
 public:
  // `out` is open for writing and reading, positioned at its end.
  // `stopped` is asked between blocks; true ends the run with a failure.
  StoredZipWriter(std::FILE* out, ZipLimits limits = {}, std::function<bool()> stopped = nullptr);
  // Names use "/"; a folder's ends with "/". `seconds` is the entry's time
  // (seconds since 1970, UTC). False, with the reason, on any failure:
  // the archive is then unusable.
  bool add_folder(const std::string& name, int64_t seconds, std::string* why);
  bool add_file(const std::string& name, const std::string& native_path, int64_t seconds, std::string* why);
  // The central directory and its end records.
  bool finish(std::string* why);
  std::size_t entries() const { return entries_.size(); }
  uint64_t data_bytes() const { return data_bytes_; }

 private:
  struct Entry {
    std::string name;
    uint32_t crc = 0, dos_time = 0;
    uint64_t size = 0, offset = 0;
    bool folder = false;
  };
  bool write(const void* data, std::size_t size, std::string* why);
  bool begin_entry(Entry* e, std::string* why);
  std::FILE* out_;
  ZipLimits limits_;
  std::function<bool()> stopped_;
  std::vector<Entry> entries_;
  uint64_t data_bytes_ = 0;
  std::vector<char> buffer_;
};
