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
    "       pkgtree [-q] [-j N] verify PACKAGE_SOURCE [PLAIN_TREE]\n"
    "       pkgtree check PACKAGE_DIR [FOLDER]\n"
    "       pkgtree [-v] [-q] [-j N] package [--setup FILE] [--folder FOLDER] PLAIN ENV INF OUT\n"
    "       pkgtree --help | --version\n";

const char kDefaultFolder[] = "c:\\program files\\gcc";

// What is wrong, then the usage; status 2.
int usage(const std::string& what) {
  std::fprintf(stderr, "pkgtree: %s\n%s", what.c_str(), kUsage);
  return 2;
}

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
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return std::fputs(kUsage, stdout) < 0;
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
    } else if (std::strcmp(option, "-v") == 0) {
      options.verbose = true;
    } else if (std::strcmp(option, "-q") == 0) {
      options.quiet = true;
    } else if (std::strcmp(option, "-j") == 0) {
      if (i + 1 >= argc) return usage("-j needs a number of jobs");
      if (!parse_jobs(argv[++i], &options.jobs)) return usage("-j takes a number of jobs from 1 to 1024, not " + quoted(argv[i]));
    } else if (std::strncmp(option, "-j", 2) == 0) {
      if (!parse_jobs(option + 2, &options.jobs)) return usage("-j takes a number of jobs from 1 to 1024, not " + quoted(option + 2));
    } else {
      return usage("unknown option " + quoted(option));
    }
  }
  if (i >= argc) return usage("no verb given");
  const char* verb = argv[i];
  int operands = argc - i - 1;
  char** operand = argv + i + 1;
  std::string why;
  bool read_only = std::strcmp(verb, "verify") == 0 || std::strcmp(verb, "check") == 0;
  if (read_only && options.verbose) return usage(std::string("-v does not apply to ") + verb);
  if (std::strcmp(verb, "verify") == 0) {
    if (!operands_fit(verb, operands, operand, 1, 2, ended, &why)) return usage(why);
    return run_verify(operand[0], operands == 2 ? operand[1] : nullptr, options);
  }
  if (std::strcmp(verb, "check") == 0) {
    if (!operands_fit(verb, operands, operand, 1, 2, ended, &why)) return usage(why);
    return run_check(operand[0], operands == 2 ? operand[1] : kDefaultFolder);
  }
  if (std::strcmp(verb, "package") == 0) return run_package(operands, operand, options, kDefaultFolder);
#ifdef _WIN32
  if (std::strcmp(verb, kStepsVerb) == 0) return run_package_steps(operands, operand, options);
#endif
  CopyMode mode;
  if (std::strcmp(verb, "compress") == 0) mode = CopyMode::Compress;
  else if (std::strcmp(verb, "expand") == 0) mode = CopyMode::Expand;
  else if (std::strcmp(verb, "copy") == 0) mode = CopyMode::Copy;
  else return usage("unknown verb " + quoted(verb));
  if (!operands_fit(verb, operands, operand, 2, 2, ended, &why)) return usage(why);
  return run_tree(mode, operand[0], operand[1], options);
}
