// The stored-only zip writer: the records of the format, little-endian,
// and nothing else (no compression: every file of a package is a bzip2
// stream already, and setup.exe, env and inf are small).
#include "zip_writer.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "common/crc32.h"

namespace {

constexpr uint32_t kLocalHeader = 0x04034b50, kCentralHeader = 0x02014b50;
constexpr uint32_t kEnd = 0x06054b50, kEnd64 = 0x06064b50, kEnd64Locator = 0x07064b50;
constexpr uint16_t kZip64Extra = 0x0001;
// Versions needed to extract: a stored file, a folder, a zip64 record.
constexpr uint16_t kVersionStored = 10, kVersionFolder = 20, kVersionZip64 = 45;
constexpr uint16_t kUtf8Names = 1 << 11;
constexpr uint32_t kFolderAttribute = 0x10, kArchiveAttribute = 0x20;
constexpr std::size_t kBlock = 1 << 20;

int64_t tell(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return ftello(f);
#endif
}

bool seek(std::FILE* f, uint64_t at) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<int64_t>(at), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(at), SEEK_SET) == 0;
#endif
}

bool seek_end(std::FILE* f) {
#ifdef _WIN32
  return _fseeki64(f, 0, SEEK_END) == 0;
#else
  return fseeko(f, 0, SEEK_END) == 0;
#endif
}

struct Bytes {
  std::string b;
  void u16(uint64_t v) {
    for (int i = 0; i < 2; ++i) b += static_cast<char>(v >> (8 * i) & 0xff);
  }
  void u32(uint64_t v) {
    for (int i = 0; i < 4; ++i) b += static_cast<char>(v >> (8 * i) & 0xff);
  }
  void u64(uint64_t v) {
    for (int i = 0; i < 8; ++i) b += static_cast<char>(v >> (8 * i) & 0xff);
  }
};

// MS-DOS time and date, in UTC so that the same tree gives the same bytes
// wherever it is packed; outside 1980 to 2107 the nearest end.
uint32_t dos_time(int64_t seconds) {
  if (seconds < 315532800) return 1u << 21 | 1u << 16;  // 1980-01-01 00:00
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm parts{};
#ifdef _WIN32
  if (gmtime_s(&parts, &t) != 0) return 1u << 21 | 1u << 16;
#else
  if (gmtime_r(&t, &parts) == nullptr) return 1u << 21 | 1u << 16;
#endif
  int year = parts.tm_year + 1900 - 1980;
  if (year > 127) return 127u << 25 | 12u << 21 | 31u << 16 | 23u << 11 | 59u << 5 | 29u;
  return static_cast<uint32_t>(year) << 25 | static_cast<uint32_t>(parts.tm_mon + 1) << 21 |
         static_cast<uint32_t>(parts.tm_mday) << 16 | static_cast<uint32_t>(parts.tm_hour) << 11 |
         static_cast<uint32_t>(parts.tm_min) << 5 | static_cast<uint32_t>(parts.tm_sec / 2);
}

// A name with bytes above ASCII is marked as UTF-8 when it is well-formed
// UTF-8; otherwise readers take it in their own code page.
bool utf8_beyond_ascii(const std::string& name) {
  bool beyond = false;
  for (std::size_t i = 0; i < name.size();) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > name.size()) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(name[i + k]) >> 6) != 2) return false;
    beyond = beyond || n > 1;
    i += n;
  }
  return beyond;
}

}  // namespace

StoredZipWriter::StoredZipWriter(std::FILE* out, ZipLimits limits, std::function<bool()> stopped)
    : out_(out), limits_(limits), stopped_(std::move(stopped)) {}

bool StoredZipWriter::write(const void* data, std::size_t size, std::string* why) {
  if (size == 0 || std::fwrite(data, 1, size, out_) == size) return true;
  *why = std::string("cannot be written: ") + std::strerror(errno);
  return false;
}

// Where the entry's local header begins.
bool StoredZipWriter::begin_entry(Entry* e, std::string* why) {
  int64_t at = tell(out_);
  if (at < 0) {
    *why = std::string("cannot tell its position: ") + std::strerror(errno);
    return false;
  }
  e->offset = static_cast<uint64_t>(at);
  return true;
}

namespace {

// A file's local header is written twice: first to hold the place, then
// with the CRC and the size the copy counted; its shape is the same both times.
std::string local_header(const std::string& name, bool folder, uint32_t dos, uint32_t crc, uint64_t size, bool zip64) {
  Bytes h;
  h.u32(kLocalHeader);
  h.u16(zip64 ? kVersionZip64 : folder ? kVersionFolder : kVersionStored);
  h.u16(utf8_beyond_ascii(name) ? kUtf8Names : 0);
  h.u16(0);  // stored
  h.u32(dos);
  h.u32(crc);
  h.u32(zip64 ? 0xffffffffu : size);
  h.u32(zip64 ? 0xffffffffu : size);
  h.u16(name.size());
  h.u16(zip64 ? 20 : 0);
  h.b += name;
  if (zip64) {
    h.u16(kZip64Extra);
    h.u16(16);
    h.u64(size);
    h.u64(size);
  }
  return h.b;
}

}  // namespace

bool StoredZipWriter::add_folder(const std::string& name, int64_t seconds, std::string* why) {
  Entry e;
  e.name = name;
  e.folder = true;
  e.dos_time = dos_time(seconds);
  if (!begin_entry(&e, why)) return false;
  std::string h = local_header(name, true, e.dos_time, 0, 0, 0 >= limits_.field32);
  if (!write(h.data(), h.size(), why)) return false;
  entries_.push_back(e);
  return true;
}

bool StoredZipWriter::add_file(const std::string& name, const std::string& native_path, int64_t seconds,
                               std::string* why) {
  std::FILE* in = std::fopen(native_path.c_str(), "rb");
  if (in == nullptr) {
    *why = native_path + ": cannot be read: " + std::strerror(errno);
    return false;
  }
  // The size the file has now decides the local header's shape; a file
  // that grows or shrinks while it is copied fails the run.
  uint64_t expected = 0;
#ifdef _WIN32
  bool sized = _fseeki64(in, 0, SEEK_END) == 0 && (expected = static_cast<uint64_t>(_ftelli64(in)), true) &&
               _fseeki64(in, 0, SEEK_SET) == 0;
#else
  bool sized = fseeko(in, 0, SEEK_END) == 0 && (expected = static_cast<uint64_t>(ftello(in)), true) &&
               fseeko(in, 0, SEEK_SET) == 0;
#endif
  Entry e;
  e.name = name;
  e.dos_time = dos_time(seconds);
  bool zip64 = expected >= limits_.field32;
  std::string h;
  bool ok = sized && begin_entry(&e, why);
  if (!sized) *why = native_path + ": its size cannot be read";
  if (ok) {
    h = local_header(name, false, e.dos_time, 0, expected, zip64);
    ok = write(h.data(), h.size(), why);
  }
  if (buffer_.empty()) buffer_.resize(kBlock);
  while (ok) {
    if (stopped_ && stopped_()) {
      *why = "stopped";
      ok = false;
      break;
    }
    std::size_t n = std::fread(buffer_.data(), 1, buffer_.size(), in);
    if (n == 0) {
      if (std::ferror(in)) {
        *why = native_path + ": cannot be read to its end";
        ok = false;
      }
      break;
    }
    e.crc = crc32_update(e.crc, buffer_.data(), n);
    e.size += n;
    ok = write(buffer_.data(), n, why);
  }
  std::fclose(in);
  if (!ok) return false;
  if (e.size != expected) {
    *why = native_path + ": changed while it was copied (" + std::to_string(expected) + " bytes, then " +
           std::to_string(e.size) + ")";
    return false;
  }
  h = local_header(name, false, e.dos_time, e.crc, e.size, zip64);
  if (!seek(out_, e.offset) || !write(h.data(), h.size(), why) || !seek_end(out_)) {
    if (why->empty()) *why = std::string("cannot complete a header: ") + std::strerror(errno);
    return false;
  }
  data_bytes_ += e.size;
  entries_.push_back(e);
  return true;
}

bool StoredZipWriter::finish(std::string* why) {
  int64_t start = tell(out_);
  if (start < 0) {
    *why = std::string("cannot tell its position: ") + std::strerror(errno);
    return false;
  }
  const uint64_t big = limits_.field32;
  uint64_t directory_at = static_cast<uint64_t>(start), directory_size = 0;
  for (const Entry& e : entries_) {
    Bytes extra;
    if (e.size >= big) {
      extra.u64(e.size);
      extra.u64(e.size);
    }
    if (e.offset >= big) extra.u64(e.offset);
    bool zip64 = !extra.b.empty();
    Bytes c;
    c.u32(kCentralHeader);
    c.u16(kVersionZip64);  // made by: MS-DOS attributes, format 4.5
    c.u16(zip64 ? kVersionZip64 : e.folder ? kVersionFolder : kVersionStored);
    c.u16(utf8_beyond_ascii(e.name) ? kUtf8Names : 0);
    c.u16(0);
    c.u32(e.dos_time);
    c.u32(e.crc);
    c.u32(e.size >= big ? 0xffffffffu : e.size);
    c.u32(e.size >= big ? 0xffffffffu : e.size);
    c.u16(e.name.size());
    c.u16(zip64 ? extra.b.size() + 4 : 0);
    c.u16(0);  // comment
    c.u16(0);  // disk
    c.u16(0);  // internal attributes
    c.u32(e.folder ? kFolderAttribute : kArchiveAttribute);
    c.u32(e.offset >= big ? 0xffffffffu : e.offset);
    c.b += e.name;
    if (zip64) {
      c.u16(kZip64Extra);
      c.u16(extra.b.size());
      c.b += extra.b;
    }
    if (!write(c.b.data(), c.b.size(), why)) return false;
    directory_size += c.b.size();
  }
  uint64_t count = entries_.size();
  bool zip64 = count >= limits_.field16 || directory_size >= big || directory_at >= big;
  Bytes end;
  if (zip64) {
    uint64_t record_at = directory_at + directory_size;
    end.u32(kEnd64);
    end.u64(44);
    end.u16(kVersionZip64);
    end.u16(kVersionZip64);
    end.u32(0);
    end.u32(0);
    end.u64(count);
    end.u64(count);
    end.u64(directory_size);
    end.u64(directory_at);
    end.u32(kEnd64Locator);
    end.u32(0);
    end.u64(record_at);
    end.u32(1);
  }
  end.u32(kEnd);
  end.u16(0);
  end.u16(0);
  end.u16(zip64 ? 0xffff : count);
  end.u16(zip64 ? 0xffff : count);
  end.u32(zip64 ? 0xffffffffu : directory_size);
  end.u32(zip64 ? 0xffffffffu : directory_at);
  end.u16(0);
  if (!write(end.b.data(), end.b.size(), why)) return false;
  if (std::fflush(out_) != 0) {
    *why = std::string("cannot be written: ") + std::strerror(errno);
    return false;
  }
  return true;
}
