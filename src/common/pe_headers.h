// The headers of a Windows program, as far as the package tools and the
// unpacker read them: what kind of program it is, and where its signature's
// certificate table lies. A signature is appended at the end of the file and
// found only through this table, so data carried after the program ends at
// the table's start (osslsigncode and signtool first pad the file to a
// multiple of 8 bytes, so up to 7 zero bytes may stand between the two).
// The file is hostile input: it may be short, empty or anything at all, and
// every offset in it is checked against what could be read before use.
// Header-only, and free of any platform header, so that a program of its
// own (the unpacker) reads its own file with the same rules.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pe {

constexpr uint16_t kMachineI386 = 0x14c, kMachineAmd64 = 0x8664, kMachineArm64 = 0xaa64;
constexpr uint16_t kExecutableImage = 0x0002, kDll = 0x2000;
constexpr uint16_t kOptionalPe32 = 0x10b, kOptionalPe32Plus = 0x20b;
constexpr std::size_t kDosHeader = 64;
constexpr std::size_t kFileHeader = 24;  // "PE\0\0" and the COFF file header
// Data directory 4 (IMAGE_DIRECTORY_ENTRY_SECURITY): the one entry whose
// address is a file offset, not a place in memory.
constexpr uint32_t kCertificateEntry = 4;
// The optional header's count of data directories, and where they begin.
constexpr std::size_t kDirectoryCountPe32 = 92, kDirectoriesPe32 = 96;
constexpr std::size_t kDirectoryCountPe32Plus = 108, kDirectoriesPe32Plus = 112;
// Enough of the optional header to reach the certificate entry of either kind.
constexpr std::size_t kHeadBytes = kFileHeader + kDirectoriesPe32Plus + 8 * (kCertificateEntry + 1);

enum class Shape {
  Empty,          // nothing could be read: an empty file
  NotMz,          // does not begin with "MZ" (ELF and the like among them)
  ShortDos,       // cut short inside the MS-DOS header
  HeaderOutside,  // the PE header's offset lies outside the file
  ShortPe,        // cut short inside the PE header
  NoPeSignature,  // no "PE\0\0" where the MS-DOS header points
  Pe,             // the fields below are read
};

struct Headers {
  Shape shape = Shape::Empty;
  std::size_t got = 0;            // bytes read of the MS-DOS header
  unsigned char start[4] = {};    // the file's first bytes, to name what it is
  uint32_t header_at = 0;         // the PE header's offset
  uint16_t machine = 0, traits = 0;
  uint16_t magic = 0;             // 0 when the optional header is missing
  // The certificate table's entry: a file offset and a size, 0 and 0 when
  // the file has none (or its optional header is too short to hold one).
  uint32_t certificates_at = 0, certificates_size = 0;
  uint64_t headers_end = 0;       // the end of the optional header in the file
};

inline uint16_t word(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t dword(const unsigned char* p) { return word(p) | static_cast<uint32_t>(word(p + 2)) << 16; }

// `read_at(offset, buffer, size)` reads up to `size` bytes at `offset` and
// returns the count read (0 at or past the end, or on an error).
template <class ReadAt>
Headers read_headers(ReadAt read_at) {
  Headers h;
  unsigned char dos[kDosHeader];
  h.got = read_at(uint64_t{0}, dos, sizeof dos);
  for (std::size_t i = 0; i < sizeof h.start && i < h.got; ++i) h.start[i] = dos[i];
  if (h.got == 0) return h;
  if (h.got < 2 || dos[0] != 'M' || dos[1] != 'Z') {
    h.shape = Shape::NotMz;
    return h;
  }
  if (h.got < sizeof dos) {
    h.shape = Shape::ShortDos;
    return h;
  }
  h.header_at = dword(dos + 0x3c);
  unsigned char head[kHeadBytes] = {};
  std::size_t n = h.header_at > 0x7fffffffu - sizeof head ? 0 : read_at(uint64_t{h.header_at}, head, sizeof head);
  if (n == 0) {
    h.shape = Shape::HeaderOutside;
    return h;
  }
  if (n < kFileHeader) {
    h.shape = Shape::ShortPe;
    return h;
  }
  if (head[0] != 'P' || head[1] != 'E' || head[2] != 0 || head[3] != 0) {
    h.shape = Shape::NoPeSignature;
    return h;
  }
  h.shape = Shape::Pe;
  h.machine = word(head + 4);
  h.traits = word(head + 22);
  uint16_t optional_size = word(head + 20);
  std::size_t optional = n - kFileHeader;  // what was read of it
  if (optional_size < optional) optional = optional_size;
  h.headers_end = uint64_t{h.header_at} + kFileHeader + optional_size;
  const unsigned char* o = head + kFileHeader;
  if (optional >= 2) h.magic = word(o);
  std::size_t count_at = h.magic == kOptionalPe32Plus ? kDirectoryCountPe32Plus : kDirectoryCountPe32;
  std::size_t entry_at = (h.magic == kOptionalPe32Plus ? kDirectoriesPe32Plus : kDirectoriesPe32) + 8 * kCertificateEntry;
  bool known = h.magic == kOptionalPe32 || h.magic == kOptionalPe32Plus;
  if (known && optional >= entry_at + 8 && dword(o + count_at) > kCertificateEntry) {
    h.certificates_at = dword(o + entry_at);
    h.certificates_size = dword(o + entry_at + 4);
  }
  return h;
}

// The certificate table as a signed file holds it: an entry that is not
// empty, past the headers, and within the file's `size` bytes, at least one
// certificate's own 8-byte header long.
inline bool has_certificate_table(const Headers& h, uint64_t size) {
  return h.shape == Shape::Pe && h.certificates_at != 0 && h.certificates_size >= 8 &&
         h.certificates_at >= h.headers_end && uint64_t{h.certificates_at} + h.certificates_size <= size;
}

// Where data carried after the program ends: the certificate
// table's start in a signed file, else the file's end.
inline uint64_t carried_end(const Headers& h, uint64_t size) {
  return has_certificate_table(h, size) ? h.certificates_at : size;
}

}  // namespace pe
