// Is setup.exe a program the user's 32-bit Windows can start? Its headers
// are read as hostile input: the file may be short, empty or anything at
// all, and every offset in it is checked against its size before use.
#include <cstdint>
#include <cstdio>
#include <string>

#include "pkgtree.h"

namespace {

constexpr uint16_t kMachineI386 = 0x14c, kMachineAmd64 = 0x8664, kMachineArm64 = 0xaa64;
constexpr uint16_t kExecutableImage = 0x0002, kDll = 0x2000;
constexpr uint16_t kOptionalPe32 = 0x10b, kOptionalPe32Plus = 0x20b;
constexpr std::size_t kPeHeader = 24;  // "PE\0\0" and the COFF file header

uint16_t word(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t dword(const unsigned char* p) { return word(p) | static_cast<uint32_t>(word(p + 2)) << 16; }

// Up to `size` bytes at `offset`; the count read.
std::size_t read_at(std::FILE* file, long offset, unsigned char* out, std::size_t size) {
  if (std::fseek(file, offset, SEEK_SET) != 0) return 0;
  return std::fread(out, 1, size, file);
}

std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", value);
  return text;
}

}  // namespace

std::string not_a_32bit_windows_program(const std::string& native_path) {
  std::FILE* file = std::fopen(native_path.c_str(), "rb");
  if (file == nullptr) return "it cannot be read";
  unsigned char dos[64];
  std::size_t got = read_at(file, 0, dos, sizeof dos);
  std::string why;
  if (got == 0) {
    why = "an empty file, not a Windows program";
  } else if (got >= 4 && dos[0] == 0x7f && dos[1] == 'E' && dos[2] == 'L' && dos[3] == 'F') {
    why = "an ELF program (Linux and the like), not a Windows one";
  } else if (got < 2 || dos[0] != 'M' || dos[1] != 'Z') {
    why = "not a Windows program: it does not begin with \"MZ\"";
  } else if (got < sizeof dos) {
    why = "cut short: " + std::to_string(got) + " bytes, fewer than an MS-DOS header";
  } else {
    uint32_t at = dword(dos + 0x3c);
    unsigned char pe[kPeHeader + 2];
    std::size_t n = at > 0x7fffffffu - sizeof pe ? 0 : read_at(file, static_cast<long>(at), pe, sizeof pe);
    if (n == 0) {
      why = "its PE header (at " + hex(at) + ") lies outside the file: an MS-DOS program or a damaged one";
    } else if (n < kPeHeader) {
      why = "cut short inside its PE header (at " + hex(at) + ")";
    } else if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) {
      why = "no PE header at " + hex(at) + ": an MS-DOS program, not a Windows one";
    } else {
      uint16_t machine = word(pe + 4), traits = word(pe + 22), optional_size = word(pe + 20);
      uint16_t magic = n >= sizeof pe && optional_size >= 2 ? word(pe + kPeHeader) : 0;
      if (machine == kMachineAmd64) why = "an x86_64 Windows program (machine 0x8664)";
      else if (machine == kMachineArm64) why = "an ARM64 Windows program (machine 0xaa64)";
      else if (machine != kMachineI386) why = "a Windows program for another processor (machine " + hex(machine) + ")";
      else if ((traits & kDll) != 0) why = "a DLL, not a program";
      else if ((traits & kExecutableImage) == 0) why = "not marked as a program that can be started (an object file?)";
      else if (magic == kOptionalPe32Plus) why = "a 64-bit (PE32+) image despite its i386 machine";
      else if (magic != kOptionalPe32) why = "its optional header is missing or not PE32";
    }
  }
  std::fclose(file);
  return why;
}
