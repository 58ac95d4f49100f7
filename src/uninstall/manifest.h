// The uninstaller's list of what a package installs: "uninstall.lst" at the
// root of the installed folder, beside "uninstall.exe". The package maker
// writes it; the uninstaller reads it as hostile input.
//
// Plain text, one record a line, each line ended by LF alone:
//
//   uninstall list 1                    first line, always
//   group NAME                          a program group the inf creates
//   env LINE                            one line of the package's env, as written
//   folder PATH                         a folder the package installs
//   file SIZE CRC PATH                  a file: its size in bytes (decimal),
//                                       the CRC-32 of its bytes (8 lower-case
//                                       hex digits) and its path
//   installed-in FOLDER                 only after a run that kept something:
//                                       the folder that run removed from
//   name NAME                           the same: the package's name on the
//                                       uninstaller's pages (its first group)
//   end COUNT CRC                       last line, always: the number of lines
//                                       above it and the CRC-32 of their bytes
//
// PATH is relative to the installed folder, "\"-separated, and every name
// in it is one the installer would make (no "." or "..", no drive, no
// separator of its own). In NAME, LINE, PATH and FOLDER the bytes below
// 0x20, 0x7F and '%' are written as '%' and two upper-case hex digits; no
// other byte is changed. Records come in the order above (groups, env lines,
// folders parents first, files); a reader takes them in any order between
// the first line and the last. Anything else is damage: an unknown record, a
// field out of form, a count or CRC at the end that does not match, bytes
// after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/crc32.h"

constexpr char kManifestName[] = "uninstall.lst";
constexpr char kUninstallerName[] = "uninstall.exe";
// A larger list is refused unread: 64 MiB is some 300,000 files.
constexpr std::size_t kMaxManifestSize = 64u << 20;

struct ManifestFile {
  std::string path;  // relative to the installed folder
  uint64_t size = 0;
  uint32_t crc = 0;
};

struct Manifest {
  std::vector<std::string> groups;     // as the inf names them, "$" not yet the folder
  std::vector<std::string> env_lines;  // the env file, line by line, without line ends
  std::vector<std::string> folders;    // parents before their children
  std::vector<ManifestFile> files;
  std::string installed_in;            // empty until a run keeps something
  std::string name;                    // the same
};

// The text of the list.
std::string format_manifest(const Manifest& manifest);

// Reads the text of a list. nullptr when it is sound, else what is wrong,
// with *line the line (from 1) where it was found, 0 for the whole text.
const char* parse_manifest(const char* bytes, std::size_t size, Manifest* manifest, int* line);

// A path as the list takes it: relative, "\"-separated, each name one the
// installer would make, at most 259 characters.
bool manifest_path_is_sound(const std::string& path);

// --- For the package maker ---------------------------------------------------

// Every folder and file under `plain_root` (a path of the engine's form,
// read through engine_ports(): lister and copier), in the installer's walk
// order, with each file's size and CRC-32. False, with the reason, when the
// tree cannot be read or holds a name the installer would refuse.
bool manifest_from_tree(const char* plain_root, Manifest* manifest, std::string* why);

// The env file's lines (read as the installer reads it: CR LF as LF) and the
// groups that section 0 of the inf creates (each line up to its first ',').
// False, with the reason, for an env the installer would not take (a zero
// byte, a format error).
bool manifest_settings(const std::string& env_bytes, const std::string& inf_bytes, Manifest* manifest,
                       std::string* why);

// Adds a file given by its bytes (uninstall.exe, which is not in the tree).
void manifest_add_file(Manifest* manifest, const std::string& path, const std::string& bytes);

// All of it in one call: the tree, then uninstall.exe at its root, the env
// and the inf. False, with the reason, also when the tree already holds
// uninstall.exe or uninstall.lst at its root.
bool package_manifest(const char* plain_root, const std::string& uninstaller_bytes,
                      const std::string& env_bytes, const std::string& inf_bytes, std::string* text,
                      std::string* why);
