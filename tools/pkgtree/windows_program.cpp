// Is setup.exe a program the user's 32-bit Windows can start, and does a
// program carry a signature? The headers are read by the rules of
// common/pe_headers.h, which the unpacker shares.
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/pe_headers.h"
#include "pkgtree.h"

namespace {

std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

// The headers of the file at `native_path` and its size; false when it
// cannot be opened.
bool read_file_headers(const std::string& native_path, pe::Headers* h, uint64_t* size) {
  std::FILE* file = std::fopen(native_path.c_str(), "rb");
  if (file == nullptr) return false;
  *h = pe::read_headers([file](uint64_t offset, unsigned char* out, std::size_t count) -> std::size_t {
    if (offset > 0x7fffffffu || std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return 0;
    return std::fread(out, 1, count, file);
  });
  long end = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
  *size = end < 0 ? 0 : static_cast<uint64_t>(end);
  std::fclose(file);
  return true;
}

}  // namespace

std::string not_a_32bit_windows_program(const std::string& native_path) {
  pe::Headers h;
  uint64_t size = 0;
  if (!read_file_headers(native_path, &h, &size)) return "it cannot be read";
  const std::string at = hex(h.header_at);
  switch (h.shape) {
    case pe::Shape::Empty: return "an empty file, not a Windows program";
    case pe::Shape::NotMz:
      if (h.got >= 4 && h.start[0] == 0x7f && h.start[1] == 'E' && h.start[2] == 'L' && h.start[3] == 'F')
        return "an ELF program (Linux and the like), not a Windows one";
      return "not a Windows program: it does not begin with \"MZ\"";
    case pe::Shape::ShortDos: return "cut short: " + std::to_string(h.got) + " bytes, fewer than an MS-DOS header";
    case pe::Shape::HeaderOutside:
      return "its PE header (at " + at + ") lies outside the file: an MS-DOS program or a damaged one";
    case pe::Shape::ShortPe: return "cut short inside its PE header (at " + at + ")";
    case pe::Shape::NoPeSignature: return "no PE header at " + at + ": an MS-DOS program, not a Windows one";
    case pe::Shape::Pe: break;
  }
  if (h.machine == pe::kMachineAmd64) return "an x86_64 Windows program (machine 0x8664)";
  if (h.machine == pe::kMachineArm64) return "an ARM64 Windows program (machine 0xaa64)";
  if (h.machine != pe::kMachineI386) return "a Windows program for another processor (machine " + hex(h.machine) + ")";
  if ((h.traits & pe::kDll) != 0) return "a DLL, not a program";
  if ((h.traits & pe::kExecutableImage) == 0) return "not marked as a program that can be started (an object file?)";
  if (h.magic == pe::kOptionalPe32Plus) return "a 64-bit (PE32+) image despite its i386 machine";
  if (h.magic != pe::kOptionalPe32) return "its optional header is missing or not PE32";
  return std::string();
}

std::string unsigned_because(const std::string& native_path) {
  pe::Headers h;
  uint64_t size = 0;
  if (!read_file_headers(native_path, &h, &size)) return "it cannot be read";
  if (pe::has_certificate_table(h, size)) return std::string();
  if (h.shape != pe::Shape::Pe) return "it is no Windows program";
  if (h.certificates_at == 0 && h.certificates_size == 0) return "it carries no certificate table";
  return "its certificate table (at " + hex(h.certificates_at) + ", " + std::to_string(h.certificates_size) +
         " bytes) does not lie within the file of " + std::to_string(size) + " bytes";
}
