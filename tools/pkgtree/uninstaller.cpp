// package --uninstaller: uninstall.exe from beside setup.exe and its list of
// what the package installs go into the package's source, compressed like
// every file, and the copy of the inf in the package gains the item that
// starts it. The maker's tree and inf stay as they are.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "integration/progman.h"
#include "pkgtree.h"
#include "uninstall/manifest.h"

namespace fs = std::filesystem;

namespace {

const char kItemStart[] = "$\\uninstall.exe,Uninstall ";

// The inf's lines as the installer's reader takes them: up to each LF, a CR
// before it dropped; a last line without LF counts.
struct InfLine {
  std::size_t start = 0;  // its first byte in the file
  std::string text;
};

std::vector<InfLine> inf_lines(const std::string& inf) {
  std::vector<InfLine> lines;
  for (std::size_t at = 0; at < inf.size();) {
    std::size_t lf = inf.find('\n', at);
    InfLine line{at, inf.substr(at, lf == std::string::npos ? std::string::npos : lf - at)};
    if (lf != std::string::npos && !line.text.empty() && line.text.back() == '\r') line.text.pop_back();
    lines.push_back(line);
    at = lf == std::string::npos ? inf.size() : lf + 1;
  }
  return lines;
}

bool write_whole(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

// `inf` with `item` last among its items (section 1), made when missing.
std::string inf_with_item(const std::string& inf, const std::string& item) {
  const std::string eol = inf.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  int separators = 0;
  for (const InfLine& line : inf_lines(inf)) {
    if (line.text != "::") continue;
    // The end of the items: the new one goes last among them.
    if (++separators == 2) return inf.substr(0, line.start) + item + eol + inf.substr(line.start);
  }
  std::string out = inf;
  if (!out.empty() && out.back() != '\n') out += eol;
  if (separators == 0) out += "::" + eol;
  return out + item + eol;
}

// uninstall.exe and, once the steps have made it, its list, before both go
// compressed into the package's source.
fs::path extra_plain(const fs::path& stage) { return stage / ".uninstaller" / "plain"; }

}  // namespace

bool prepare_uninstaller(const fs::path& setup, const std::string& env_bytes, const std::string& inf_bytes,
                         bool any_program, UninstallerPart* part, std::string* why) {
  fs::path program = setup.parent_path() / kUninstallerName;
  if (!read_whole(program, &part->program)) {
    *why = std::string("no ") + kUninstallerName + " beside setup.exe: looked for " + program.string();
    return false;
  }
  std::string kind = not_a_32bit_windows_program(program.string());
  if (!kind.empty() && !any_program) {
    *why = program.string() + ": " + kind + "; the package needs a 32-bit Windows program";
    return false;
  }
  if (!kind.empty())
    std::fprintf(stderr, "pkgtree: warning: %s: %s, taken as --any-setup asks: a package to test, not to ship\n",
                 program.string().c_str(), kind.c_str());
  // The installer's reader skips the rest of a chunk after a zero byte, so
  // such an inf would not read as the lines it is made of.
  if (inf_bytes.find('\0') != std::string::npos) {
    *why = "INF holds a zero byte: the item that starts the uninstaller cannot be placed in it";
    return false;
  }
  Manifest settings;
  if (!manifest_settings(env_bytes, inf_bytes, &settings, why)) {
    *why = "ENV: " + *why;
    return false;
  }
  if (settings.groups.empty()) {
    *why = "INF creates no program group: the uninstaller's item would belong to none";
    return false;
  }
  // Items go into the group created last.
  part->group = settings.groups.back();
  std::string item = kItemStart + part->group;
  const std::size_t limit = kGroupLineBufferSize - 1;
  if (item.size() > limit) {
    *why = "the group name " + part->group + " makes the item \"" + item + "\" " + std::to_string(item.size()) +
           " characters long, over the inf's " + std::to_string(limit) + " (a group name of up to " +
           std::to_string(limit - (sizeof kItemStart - 1)) + " fits)";
    return false;
  }
  part->inf = inf_with_item(inf_bytes, item);
  return true;
}

fs::path staged_uninstaller(const fs::path& stage) { return extra_plain(stage) / kUninstallerName; }

bool stage_uninstaller(const fs::path& stage, const UninstallerPart& part) {
  std::error_code ec;
  fs::create_directories(extra_plain(stage), ec);
  return !ec && write_whole(staged_uninstaller(stage), part.program);
}

int add_uninstaller(const std::string& plain, const std::string& stage, const Options& options) {
  fs::path extra = extra_plain(stage), packed = fs::path(stage) / ".uninstaller" / "packed";
  fs::path source = fs::path(stage) / "source";
  std::printf("== uninstaller: %s and %s into %s\n", kUninstallerName, kManifestName, source.string().c_str());
  std::fflush(stdout);
  // The staging folder's env is the maker's as given; its inf has the item,
  // which changes no group.
  std::string program, env, inf, list, why;
  if (!read_whole(extra / kUninstallerName, &program) || !read_whole(fs::path(stage) / "env", &env) ||
      !read_whole(fs::path(stage) / "inf", &inf)) {
    std::fprintf(stderr, "pkgtree: %s: uninstall.exe, env or inf cannot be read back\n", stage.c_str());
    return 1;
  }
  if (!package_manifest(plain.c_str(), program, env, inf, &list, &why)) {
    std::fprintf(stderr, "pkgtree: the uninstaller's list: %s\n", why.c_str());
    return 1;
  }
  if (!write_whole(extra / kManifestName, list)) {
    std::fprintf(stderr, "pkgtree: %s: the uninstaller's list cannot be written into it\n", extra.string().c_str());
    return 1;
  }
  // Two files: one job; their paths in the staging folder are not the package's.
  Options two_files = options;
  two_files.jobs = 1;
  two_files.verbose = false;
  int status = run_tree(CopyMode::Compress, extra.string().c_str(), packed.string().c_str(), two_files);
  if (status == 0) status = run_verify(packed.string().c_str(), extra.string().c_str(), two_files);
  if (status != 0) return status;
  for (const char* name : {kUninstallerName, kManifestName}) {
    std::error_code ec;
    fs::rename(packed / name, source / name, ec);
    if (ec) {
      std::fprintf(stderr, "pkgtree: %s cannot be moved into the package's source: %s\n", name, ec.message().c_str());
      return 1;
    }
  }
  std::error_code ec;
  fs::remove_all(fs::path(stage) / ".uninstaller", ec);
  return 0;
}
