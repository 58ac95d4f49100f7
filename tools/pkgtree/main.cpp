// pkgtree: makes and checks package trees with the installer's own engine
// and readers.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "pkgtree.h"

namespace {

const char kUsage[] =
    "usage: pkgtree [-v] [-q] [-j N] compress|expand|copy SOURCE DESTINATION\n"
    "       pkgtree [-q] [-j N] verify PACKAGE_SOURCE|FILE.exe [PLAIN_TREE]\n"
    "       pkgtree check PACKAGE_DIR|FILE.exe [FOLDER]\n"
    "       pkgtree [-v] [-q] [-j N] package [--setup FILE] [--folder FOLDER] [--any-setup]\n"
    "           [--uninstaller] [--sign COMMAND] [--one-file] [--unpacker FILE] PLAIN ENV INF OUT\n"
    "       pkgtree bundle [--sign COMMAND] [--unpacker FILE] [--folder FOLDER] [--any-setup]\n"
    "                      PACKAGE FILE.exe\n"
    "       pkgtree -h | --help | --version\n";

// One screen: what a maker needs without the manual page, which Windows
// users do not have.
const char kHelp[] =
    "\n"
    "Makes and checks packages for the GCC setup program for Windows. A package is a\n"
    "folder holding setup.exe, source (the tree to install, each file one bzip2 stream),\n"
    "env and inf; the user starts setup.exe in it.\n"
    "\n"
    "Verbs:\n"
    "  package PLAIN ENV INF OUT   all of it: compress PLAIN into OUT/source, setup.exe, ENV\n"
    "        and INF beside it, verify, check; made beside OUT, moved in when all passed\n"
    "    --setup FILE    the setup.exe to ship (default: the one installed with pkgtree)\n"
    "    --folder FOLDER the installation folder to hold paths to and check for\n"
    "    --any-setup     take a setup.exe that is no 32-bit Windows program (tests only)\n"
    "    --uninstaller   add uninstall.exe from beside setup.exe, its list of what the\n"
    "                    package installs, and the inf item \"Uninstall GROUP\"\n"
    "    --sign COMMAND  sign the copies of setup.exe and uninstall.exe in place: the shell\n"
    "                    runs COMMAND, each {} the quoted file (\"osslsigncode sign ... -in {}\n"
    "                    -out {}.signed && mv {}.signed {}\"); COMMAND is never printed\n"
    "    --one-file      OUT is one program: unpacker.exe, then the package as a zip archive\n"
    "  bundle PACKAGE FILE.exe  that one file from a package folder that check passes\n"
    "  compress PLAIN PACKAGE/source  each file one bzip2 stream; refuses names Windows\n"
    "        breaks and paths too long to install under c:\\program files\\gcc\n"
    "  expand PACKAGE/source DEST     what the installer does\n"
    "  copy SOURCE DEST               a plain copy keeping attributes and times\n"
    "  verify PACKAGE/source [PLAIN]  every file one whole bzip2 stream; with PLAIN, the\n"
    "        same folders, files and bytes (of a one file FILE.exe: its archive read whole)\n"
    "  check PACKAGE [FOLDER]         what the installer does with env and inf for FOLDER\n"
    "        (default c:\\program files\\gcc), setup.exe, and every path budget: the\n"
    "        longest folder to unpack the package in, the longest FOLDER (also of FILE.exe)\n"
    "\n"
    "Options, before the verb:\n"
    "  -v          print each destination path    -q  no progress line on the terminal\n"
    "  -j N        threads that write files, 1 to 1024 (default: every core)\n"
    "  --          ends the options\n"
    "  -h, --help  this text      --version  the version\n"
    "\n"
    "ENV: blocks of a variable, its type and its value, each closed by \"::\";\n"
    "a line starting with \"#\" is a comment:\n"
    "    PATH            the variable\n"
    "    REG_EXPAND_SZ   its type, or REG_SZ\n"
    "    \\bin;\\lib       folders below the installation folder, \";\"-separated\n"
    "    ::\n"
    "INF: the program group, \"::\", one item a line, \"::\", the group to show:\n"
    "    GCC\n"
    "    ::\n"
    "    $\\bin\\gcc.exe,GCC Compiler   \"$\" stands for the installation folder\n"
    "    ::\n"
    "    GCC\n"
    "\n"
    "Exit status: 0 all well; 1 a failure, a refusal or a problem found; 2 bad\n"
    "arguments; 130, 143 or 129 when stopped by SIGINT, SIGTERM or SIGHUP (the files\n"
    "under way are removed).\n"
    "\n"
    "More in man pkgtree (on Windows, in docs\\making-packages.md beside pkgtree.exe).\n";

}  // namespace

int usage_error(const std::string& why) {
  std::fprintf(stderr, "pkgtree: %s\n%s", why.c_str(), kUsage);
  return 2;
}

namespace {

bool parse_jobs(const char* text, unsigned* jobs) {
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < 1 || n > 1024) return false;
  *jobs = static_cast<unsigned>(n);
  return true;
}

std::string quoted(const char* text) { return std::string("\"") + text + "\""; }

// The operands of `verb`, between `least` and `most` of them; an option
// after the verb is named as such.
bool operands_fit(const char* verb, int count, char** operand, int least, int most, bool ended, std::string* why) {
  if (count >= least && count <= most) return true;
  for (int k = 0; k < count && !ended; ++k)
    if (operand[k][0] == '-') {
      *why = "options stand before the verb: " + quoted(operand[k]);
      return false;
    }
  *why = std::string(verb) + " takes " + (least == most ? std::to_string(least) : std::to_string(least) + " or " + std::to_string(most)) +
         " operands, not " + std::to_string(count);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  restrict_library_search();
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return std::puts("pkgtree " SETUP_VERSION) < 0;
  Options options;
  unsigned cores = std::thread::hardware_concurrency();
  options.jobs = cores > 0 ? cores : 1;
  int i = 1;
  bool ended = false;  // "--": what follows is the verb and its operands
  for (; i < argc && argv[i][0] == '-' && !ended; ++i) {
    const char* option = argv[i];
    if (std::strcmp(option, "--") == 0) {
      ended = true;
    } else if (std::strcmp(option, "-h") == 0 || std::strcmp(option, "--help") == 0) {
      return std::fputs(kUsage, stdout) < 0 || std::fputs(kHelp, stdout) < 0 || std::fflush(stdout) != 0;
    } else if (std::strcmp(option, "-v") == 0) {
      options.verbose = true;
    } else if (std::strcmp(option, "-q") == 0) {
      options.quiet = true;
    } else if (std::strcmp(option, "-j") == 0) {
      if (i + 1 >= argc) return usage_error("-j needs a number of jobs");
      if (!parse_jobs(argv[++i], &options.jobs)) return usage_error("-j takes a number of jobs from 1 to 1024, not " + quoted(argv[i]));
    } else if (std::strncmp(option, "-j", 2) == 0) {
      if (!parse_jobs(option + 2, &options.jobs)) return usage_error("-j takes a number of jobs from 1 to 1024, not " + quoted(option + 2));
    } else {
      return usage_error("unknown option " + quoted(option));
    }
  }
  if (i >= argc) return usage_error("no verb given");
  const char* verb = argv[i];
  int operands = argc - i - 1;
  char** operand = argv + i + 1;
  std::string why;
  bool read_only = std::strcmp(verb, "verify") == 0 || std::strcmp(verb, "check") == 0;
  if (read_only && options.verbose) return usage_error(std::string("-v does not apply to ") + verb);
  if (std::strcmp(verb, "verify") == 0) {
    if (!operands_fit(verb, operands, operand, 1, 2, ended, &why)) return usage_error(why);
    if (names_a_file(operand[0])) return run_verify_one_file(operand[0], operands == 2 ? operand[1] : nullptr, options);
    return run_verify(operand[0], operands == 2 ? operand[1] : nullptr, options);
  }
  if (std::strcmp(verb, "check") == 0) {
    if (!operands_fit(verb, operands, operand, 1, 2, ended, &why)) return usage_error(why);
    if (names_a_file(operand[0])) return run_check_one_file(operand[0], operands == 2 ? operand[1] : kDefaultFolder);
    return run_check(operand[0], operands == 2 ? operand[1] : kDefaultFolder, false);
  }
  if (std::strcmp(verb, "package") == 0) return run_package(operands, operand, options);
  if (std::strcmp(verb, "bundle") == 0) return run_bundle(operands, operand);
#ifdef _WIN32
  if (std::strcmp(verb, kStepsVerb) == 0) return run_package_steps(operands, operand, options);
#endif
  CopyMode mode;
  if (std::strcmp(verb, "compress") == 0) mode = CopyMode::Compress;
  else if (std::strcmp(verb, "expand") == 0) mode = CopyMode::Expand;
  else if (std::strcmp(verb, "copy") == 0) mode = CopyMode::Copy;
  else return usage_error("unknown verb " + quoted(verb));
  if (!operands_fit(verb, operands, operand, 2, 2, ended, &why)) return usage_error(why);
  return run_tree(mode, operand[0], operand[1], options);
}
