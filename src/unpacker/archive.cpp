#include "unpacker/archive.h"

#include <algorithm>
#include <map>

#include "common/crc32.h"
#include "common/pe_headers.h"
#include "engine/entry_names.h"

namespace unpack {

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50, kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50, kEnd64Signature = 0x06064b50;
constexpr uint32_t kLocator64Signature = 0x07064b50;
constexpr std::size_t kEndSize = 22, kLocator64Size = 20, kEnd64Size = 56;
constexpr std::size_t kCentralSize = 46, kLocalSize = 30;
constexpr uint16_t kEncrypted = 0x0001, kDescriptorFollows = 0x0008, kUtf8Names = 0x0800;
constexpr uint16_t kZip64Extra = 0x0001;
// The longest comment the end record can announce, and the zero bytes a
// signing tool may pad the file with before its certificate table.
constexpr std::size_t kLongestComment = 0xffff, kSigningPad = 7;

uint16_t u16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const unsigned char* p) { return u16(p) | static_cast<uint32_t>(u16(p + 2)) << 16; }
uint64_t u64(const unsigned char* p) { return u32(p) | static_cast<uint64_t>(u32(p + 4)) << 32; }

bool read_exactly(ByteSource& source, uint64_t at, void* buffer, std::size_t size) {
  unsigned char* out = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    std::size_t got = source.read_at(at, out, size);
    if (got == 0 || got > size) return false;
    at += got, out += got, size -= got;
  }
  return true;
}

// Refusals of the archive's structure: a download cut short or damaged
// reads as one of these, and so does a file that was never a package.
bool damaged(std::string& why, const std::string& what) {
  why = "The package archive is damaged: " + what + ".";
  return false;
}

struct Sizes {
  uint64_t size = 0, packed = 0, header_at = 0;
};

// The zip64 extra field holds, in this order, only the fields whose 32-bit
// slot is all ones.
bool read_zip64_extra(const unsigned char* extra, std::size_t length, bool want_size, bool want_packed,
                      bool want_offset, Sizes& sizes) {
  while (length >= 4) {
    uint16_t id = u16(extra), data = u16(extra + 2);
    if (data > length - 4) return false;
    if (id == kZip64Extra) {
      const unsigned char* p = extra + 4;
      std::size_t left = data;
      auto take = [&](bool wanted, uint64_t& field) {
        if (!wanted) return true;
        if (left < 8) return false;
        field = u64(p), p += 8, left -= 8;
        return true;
      };
      return take(want_size, sizes.size) && take(want_packed, sizes.packed) && take(want_offset, sizes.header_at);
    }
    extra += 4 + data, length -= 4 + data;
  }
  return !(want_size || want_packed || want_offset);
}

// Windows takes a name without regard to case, so two names that differ in
// case alone would be one file.
std::string folded(const std::string& name) {
  std::string form = name;
  for (char& c : form)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return form;
}

// The printable form of a name for a message: control characters as '?',
// cut after 80 bytes.
std::string shown(const std::string& name) {
  std::string out;
  for (char c : name.substr(0, 80)) out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  return "\"" + out + (name.size() > 80 ? "...\"" : "\"");
}

// Each component one entry of a folder by the installer's rule, and none
// ending in "." or " " (Windows drops that ending, so ".." and "..." too).
bool sound_name(const std::string& name) {
  if (name.empty()) return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = name.find('/', start);
    std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.find('\0') != std::string::npos || !names_one_entry(part.c_str()) || part.back() == '.' ||
        part.back() == ' ')
      return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

struct End {
  uint64_t count = 0, directory_at = 0, directory_size = 0;
  uint64_t directory_end = 0;  // where the directory must end: the (zip64) end record
};

// The end record is the last thing before `end`, apart from its comment
// and a signing tool's padding of zero bytes.
bool find_end(ByteSource& source, uint64_t end, End& found, std::string& why) {
  std::size_t span = static_cast<std::size_t>(std::min<uint64_t>(end, kEndSize + kLongestComment + kSigningPad));
  if (span < kEndSize) return damaged(why, "it is too short to hold a zip archive");
  std::vector<unsigned char> tail(span);
  uint64_t tail_at = end - span;
  if (!read_exactly(source, tail_at, tail.data(), span)) return damaged(why, "its end could not be read");
  for (std::size_t at = span - kEndSize + 1; at-- > 0;) {
    const unsigned char* e = tail.data() + at;
    if (u32(e) != kEndSignature) continue;
    std::size_t after = at + kEndSize + u16(e + 20);
    if (after > span || span - after > kSigningPad) continue;
    if (!std::all_of(tail.begin() + static_cast<std::ptrdiff_t>(after), tail.end(), [](unsigned char c) { return c == 0; }))
      continue;
    uint64_t end_at = tail_at + at;
    if (u16(e + 4) != 0 || u16(e + 6) != 0 || u16(e + 8) != u16(e + 10))
      return damaged(why, "it spans several disks");
    found.count = u16(e + 10), found.directory_size = u32(e + 12), found.directory_at = u32(e + 16);
    found.directory_end = end_at;
    bool needs64 = found.count == 0xffff || found.directory_size == 0xffffffffu || found.directory_at == 0xffffffffu;
    unsigned char locator[kLocator64Size];
    bool has_locator = end_at >= kLocator64Size && read_exactly(source, end_at - kLocator64Size, locator, sizeof locator) &&
                       u32(locator) == kLocator64Signature;
    if (!has_locator) {
      if (needs64) return damaged(why, "its zip64 end record is missing");
      return true;
    }
    if (u32(locator + 4) != 0 || u32(locator + 16) != 1) return damaged(why, "it spans several disks");
    uint64_t record_at = u64(locator + 8);
    unsigned char record[kEnd64Size];
    if (record_at > end_at - kLocator64Size || end_at - kLocator64Size - record_at < kEnd64Size ||
        !read_exactly(source, record_at, record, sizeof record) || u32(record) != kEnd64Signature)
      return damaged(why, "its zip64 end record is not where its locator says");
    if (u64(record + 4) + 12 != end_at - kLocator64Size - record_at)
      return damaged(why, "its zip64 end record has a wrong size");
    if (u32(record + 16) != 0 || u32(record + 20) != 0 || u64(record + 24) != u64(record + 32))
      return damaged(why, "it spans several disks");
    found.count = u64(record + 32), found.directory_size = u64(record + 40), found.directory_at = u64(record + 48);
    found.directory_end = record_at;
    return true;
  }
  return damaged(why, "no end of a zip archive was found");
}

// The local header must agree with the directory.
bool check_local(ByteSource& source, const Entry& central, uint16_t central_flags, uint64_t limit, Entry& entry,
                 uint64_t& entry_end, std::string& why) {
  unsigned char local[kLocalSize];
  if (central.header_at > limit || limit - central.header_at < kLocalSize ||
      !read_exactly(source, central.header_at, local, sizeof local) || u32(local) != kLocalSignature)
    return damaged(why, "the local header of " + shown(central.name) + " is missing");
  uint16_t flags = u16(local + 6), name_length = u16(local + 26), extra_length = u16(local + 28);
  uint64_t data_at = central.header_at + kLocalSize + name_length + extra_length;
  if (data_at > limit) return damaged(why, "the local header of " + shown(central.name) + " runs past the directory");
  std::vector<unsigned char> tail(name_length + extra_length);
  if (!tail.empty() && !read_exactly(source, central.header_at + kLocalSize, tail.data(), tail.size()))
    return damaged(why, "the local header of " + shown(central.name) + " could not be read");
  if (std::string(tail.begin(), tail.begin() + name_length) != central.name + (central.folder ? "/" : "") ||
      u16(local + 8) != 0 || (flags & kEncrypted) != (central_flags & kEncrypted))
    return damaged(why, "the local header of " + shown(central.name) + " differs from the directory");
  Sizes sizes{u32(local + 22), u32(local + 18), 0};
  bool wide = sizes.size == 0xffffffffu || sizes.packed == 0xffffffffu;
  if (wide && !read_zip64_extra(tail.data() + name_length, extra_length, sizes.size == 0xffffffffu,
                                sizes.packed == 0xffffffffu, false, sizes))
    return damaged(why, "the local header of " + shown(central.name) + " has a broken zip64 field");
  if (u32(local + 14) != central.crc || sizes.size != central.size || sizes.packed != central.size)
    return damaged(why, "the local header of " + shown(central.name) + " differs from the directory");
  if (central.size > limit - data_at) return damaged(why, "the data of " + shown(central.name) + " runs past the directory");
  entry.data_at = data_at;
  entry_end = data_at + central.size;
  return true;
}

}  // namespace

const Entry* Archive::find(std::string_view name) const {
  for (const Entry& entry : entries)
    if (entry.name == name) return &entry;
  return nullptr;
}

bool read_archive(ByteSource& source, std::size_t folder_chars, Archive& archive, std::string& why) {
  archive = Archive{};
  uint64_t size = source.size();
  pe::Headers headers = pe::read_headers([&](uint64_t at, void* buffer, std::size_t n) { return source.read_at(at, buffer, n); });
  archive.end = pe::carried_end(headers, size);
  End end;
  if (!find_end(source, archive.end, end, why)) return false;
  if (end.directory_at > end.directory_end || end.directory_size != end.directory_end - end.directory_at)
    return damaged(why, "its directory is not where its end record says");
  if (end.count == 0) return damaged(why, "it holds nothing");
  if (end.count > end.directory_size / kCentralSize) return damaged(why, "its directory is shorter than its count of entries");

  std::vector<unsigned char> directory(static_cast<std::size_t>(end.directory_size));
  if (!read_exactly(source, end.directory_at, directory.data(), directory.size()))
    return damaged(why, "its directory could not be read");
  std::vector<uint16_t> flags;
  std::map<std::string, bool> kinds;  // folded names: true for a folder
  std::size_t at = 0;
  for (uint64_t i = 0; i < end.count; ++i) {
    if (directory.size() - at < kCentralSize || u32(&directory[at]) != kCentralSignature)
      return damaged(why, "its directory ends early");
    const unsigned char* c = &directory[at];
    std::size_t name_length = u16(c + 28), extra_length = u16(c + 30), comment_length = u16(c + 32);
    if (directory.size() - at - kCentralSize < name_length + extra_length + comment_length)
      return damaged(why, "its directory ends early");
    Entry entry;
    entry.name.assign(reinterpret_cast<const char*>(c + kCentralSize), name_length);
    uint16_t entry_flags = u16(c + 8);
    entry.utf8 = (entry_flags & kUtf8Names) != 0;
    if (!entry.name.empty() && entry.name.back() == '/') entry.folder = true, entry.name.pop_back();
    if (!sound_name(entry.name))
      return damaged(why, "it holds the name " + shown(entry.name) + ", which the installer refuses");
    if ((entry_flags & kEncrypted) != 0) return damaged(why, shown(entry.name) + " is encrypted");
    // Written as a stream, its sizes after the data: not how a package is made.
    if ((entry_flags & kDescriptorFollows) != 0) return damaged(why, shown(entry.name) + " was written as a stream");
    if (u16(c + 10) != 0) return damaged(why, shown(entry.name) + " is compressed, and only stored entries are read");
    Sizes sizes{u32(c + 24), u32(c + 20), u32(c + 42)};
    bool wide_size = sizes.size == 0xffffffffu, wide_packed = sizes.packed == 0xffffffffu, wide_at = sizes.header_at == 0xffffffffu;
    if ((wide_size || wide_packed || wide_at) &&
        !read_zip64_extra(c + kCentralSize + name_length, extra_length, wide_size, wide_packed, wide_at, sizes))
      return damaged(why, shown(entry.name) + " has a broken zip64 field");
    if (u16(c + 34) != 0) return damaged(why, "it spans several disks");
    if (sizes.packed != sizes.size) return damaged(why, "the sizes of " + shown(entry.name) + " differ");
    entry.size = sizes.size, entry.header_at = sizes.header_at, entry.crc = u32(c + 16);
    if (entry.folder && entry.size != 0) return damaged(why, "the folder " + shown(entry.name) + " holds data");

    std::size_t path = folder_chars + 1 + entry.name.size(), limit = entry.folder ? kLongestFolder : kLongestFile;
    if (path > limit)
      return damaged(why, "unpacked in a folder of " + std::to_string(folder_chars) + " characters, " + shown(entry.name) +
                              " would have " + std::to_string(path) + ", over the " + std::to_string(limit) +
                              " Windows allows " + (entry.folder ? "a folder" : "a file"));
    std::string key = folded(entry.name);
    std::size_t slash = key.rfind('/');
    if (slash != std::string::npos) {
      auto parent = kinds.find(key.substr(0, slash));
      if (parent == kinds.end() || !parent->second)
        return damaged(why, shown(entry.name) + " comes before a folder entry for its folder");
    }
    if (!kinds.emplace(key, entry.folder).second)
      return damaged(why, "it holds " + shown(entry.name) + " twice (case aside)");
    archive.longest_path = std::max(archive.longest_path, entry.name.size());
    if (!entry.folder) archive.file_bytes += entry.size;
    archive.entries.push_back(std::move(entry));
    flags.push_back(entry_flags);
    at += kCentralSize + name_length + extra_length + comment_length;
  }
  if (at != directory.size()) return damaged(why, "its directory holds more than its count of entries");

  // Each entry's header and data lie before the directory, and no two
  // overlap: a byte is never written out twice.
  std::vector<std::size_t> order(archive.entries.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return archive.entries[a].header_at < archive.entries[b].header_at; });
  uint64_t reached = 0;
  for (std::size_t i : order) {
    Entry& entry = archive.entries[i];
    if (entry.header_at < reached) return damaged(why, "the data of two entries overlap");
    uint64_t entry_end = 0;
    if (!check_local(source, entry, flags[i], end.directory_at, entry, entry_end, why)) return false;
    reached = entry_end;
  }
  archive.start = archive.entries[order.front()].header_at;
  return true;
}

Copied copy_entry(ByteSource& source, const Entry& entry, ByteSink& sink, std::string& why) {
  std::vector<unsigned char> block(256 * 1024);
  uint32_t crc = 0;
  for (uint64_t done = 0; done < entry.size;) {
    std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(block.size(), entry.size - done));
    if (!read_exactly(source, entry.data_at + done, block.data(), n)) {
      damaged(why, "the data of " + shown(entry.name) + " could not be read");
      return Copied::Damaged;
    }
    crc = crc32_update(crc, block.data(), n);
    if (!sink.write(block.data(), n)) return Copied::Stopped;
    done += n;
  }
  if (crc != entry.crc) {
    damaged(why, "the data of " + shown(entry.name) + " fails its CRC-32 check");
    return Copied::Damaged;
  }
  return Copied::Done;
}

}  // namespace unpack
