// The archive a one-file package carries after its program: a zip archive of
// stored entries (zip64 where counts or sizes need it), its local headers'
// offsets counted from the start of the file, '/' between the components of
// a name, a folder entry for every folder. The file is hostile input: the
// whole directory is read and checked before anything is written, and every
// entry's CRC-32 is checked as it is copied out.
// Free of any platform header: the unpacker and pkgtree read with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace unpack {

// The longest path Windows lets a program make without the long-path form:
// a file of 259 characters, a folder of 247 (room for an 8.3 name is kept).
constexpr std::size_t kLongestFile = 259, kLongestFolder = 247;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() = 0;
  // Up to `size` bytes at `offset`; the count read, 0 at the end or on an error.
  virtual std::size_t read_at(uint64_t offset, void* buffer, std::size_t size) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // False stops the copy (a write that failed, or the user's cancel).
  virtual bool write(const void* data, std::size_t size) = 0;
};

struct Entry {
  std::string name;  // as stored, '/' between components, no '/' at its end
  bool folder = false;
  bool utf8 = false;  // the name is UTF-8 (general-purpose flag bit 11), else the ANSI code page's
  uint64_t header_at = 0, data_at = 0, size = 0;
  uint32_t crc = 0;
};

struct Archive {
  std::vector<Entry> entries;  // in the directory's order: a folder comes before what it holds
  uint64_t file_bytes = 0;     // the files' sizes added up: what unpacking writes
  uint64_t start = 0, end = 0; // the first local header, and where the archive ends
  std::size_t longest_path = 0;  // of the names, in bytes
  const Entry* find(std::string_view name) const;  // exact name, nullptr when absent
};

// Reads and checks the archive that ends where the program's carried data
// ends (before its certificate table, when signed). Every path must fit
// below a folder of `folder_chars` characters. False with `why`, a sentence
// that says what is wrong, for anything that is not a sound package archive.
bool read_archive(ByteSource& source, std::size_t folder_chars, Archive& archive, std::string& why);

enum class Copied { Done, Stopped, Damaged };

// Copies one file entry's data into `sink`, its CRC-32 checked at the end.
// Stopped when the sink said to stop; Damaged (with `why`) when the data
// could not be read or its CRC-32 differs.
Copied copy_entry(ByteSource& source, const Entry& entry, ByteSink& sink, std::string& why);

}  // namespace unpack
