// The one-file package's archive reader on any bytes. What it accepts must
// name only paths below its folder, lie within the file, and copy out no
// more bytes than the file holds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/entry_names.h"
#include "unpacker/archive.h"

namespace {

class Bytes : public unpack::ByteSource {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t size() override { return size_; }
  std::size_t read_at(uint64_t at, void* buffer, std::size_t n) override {
    if (at >= size_) return 0;
    if (n > size_ - at) n = static_cast<std::size_t>(size_ - at);
    std::memcpy(buffer, data_ + at, n);
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

class Count : public unpack::ByteSink {
 public:
  bool write(const void*, std::size_t n) override {
    bytes += n;
    return true;
  }
  uint64_t bytes = 0;
};

bool below_the_folder(const std::string& name) {
  std::size_t start = 0;
  for (;;) {
    std::size_t end = name.find('/', start);
    std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string::npos ||
        !names_one_entry(part.c_str()))
      return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes bytes(data, size);
  unpack::Archive archive;
  std::string why;
  if (!unpack::read_archive(bytes, 65, archive, why)) {
    if (why.empty()) std::abort();
    return 0;
  }
  if (archive.end > size || archive.file_bytes > archive.end) std::abort();
  Count written;
  for (const unpack::Entry& entry : archive.entries) {
    if (!below_the_folder(entry.name) || 65 + 1 + entry.name.size() > unpack::kLongestFile) std::abort();
    if (entry.data_at > archive.end || entry.size > archive.end - entry.data_at) std::abort();
    if (!entry.folder) unpack::copy_entry(bytes, entry, written, why);
  }
  if (written.bytes > archive.file_bytes) std::abort();
  return 0;
}
