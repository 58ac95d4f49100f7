// The installer's rule for one name of a folder, apart from the walk, so
// that the unpacker can hold its archive to it without the rest of the engine.
#include "engine/entry_names.h"

#include <cctype>
#include <cstring>

namespace {

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9, in any case and with any
// extension: Windows opens the device, not a file in the folder.
bool names_a_device(const char* name) {
  char base[5] = {};
  std::size_t n = 0;
  for (; name[n] != '\0' && name[n] != '.' && name[n] != ' ' && n < 4; ++n)
    base[n] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[n])));
  if (name[n] != '\0' && name[n] != '.' && name[n] != ' ') return false;
  if (n == 3) return std::strcmp(base, "con") == 0 || std::strcmp(base, "prn") == 0 ||
                    std::strcmp(base, "aux") == 0 || std::strcmp(base, "nul") == 0;
  return n == 4 && (std::strncmp(base, "com", 3) == 0 || std::strncmp(base, "lpt", 3) == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

}  // namespace

// A separator in the name would make the joined path reach elsewhere (".."
// included), and the other characters are refused by Windows itself. On
// Linux any of them can stand in a file name, so a package made there can
// hold one.
bool names_one_entry(const char* name) {
  if (*name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c) {
    unsigned char u = static_cast<unsigned char>(*c);
    if (u < 0x20 || std::strchr("\\/<>:\"|?*", u) != nullptr) return false;
  }
  return !names_a_device(name);
}

