// pkgtree: makes and checks package trees with the installer's own engine
// and readers.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "pkgtree.h"

namespace {

const char kUsage[] =
    "usage: pkgtree [-v] [-q] [-j N] compress|expand|copy SOURCE DESTINATION\n"
    "       pkgtree [-q] [-j N] verify PACKAGE_SOURCE [PLAIN_TREE]\n"
    "       pkgtree check PACKAGE_DIR [FOLDER]\n"
    "       pkgtree [-v] [-q] [-j N] package [--setup FILE] [--folder FOLDER] PLAIN ENV INF OUT\n"
    "       pkgtree --help | --version\n";

const char kDefaultFolder[] = "c:\\program files\\gcc";

int usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

bool parse_jobs(const char* text, unsigned* jobs) {
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < 1 || n > 1024) return false;
  *jobs = static_cast<unsigned>(n);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) return std::fputs(kUsage, stdout) < 0;
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) return std::puts("pkgtree " SETUP_VERSION) < 0;
  Options options;
  unsigned cores = std::thread::hardware_concurrency();
  options.jobs = cores > 0 ? cores : 1;
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    const char* option = argv[i];
    if (std::strcmp(option, "-v") == 0) {
      options.verbose = true;
    } else if (std::strcmp(option, "-q") == 0) {
      options.quiet = true;
    } else if (std::strcmp(option, "-j") == 0) {
      if (i + 1 >= argc || !parse_jobs(argv[++i], &options.jobs)) return usage();
    } else if (std::strncmp(option, "-j", 2) == 0) {
      if (!parse_jobs(option + 2, &options.jobs)) return usage();
    } else {
      return usage();
    }
  }
  if (i >= argc) return usage();
  const char* verb = argv[i];
  int operands = argc - i - 1;
  char** operand = argv + i + 1;
  if (std::strcmp(verb, "verify") == 0) {
    if (operands < 1 || operands > 2 || options.verbose) return usage();
    return run_verify(operand[0], operands == 2 ? operand[1] : nullptr, options);
  }
  if (std::strcmp(verb, "check") == 0) {
    if (operands < 1 || operands > 2 || options.verbose) return usage();
    return run_check(operand[0], operands == 2 ? operand[1] : kDefaultFolder);
  }
  if (std::strcmp(verb, "package") == 0) return run_package(operands, operand, options, kDefaultFolder);
  CopyMode mode;
  if (std::strcmp(verb, "compress") == 0) mode = CopyMode::Compress;
  else if (std::strcmp(verb, "expand") == 0) mode = CopyMode::Expand;
  else if (std::strcmp(verb, "copy") == 0) mode = CopyMode::Copy;
  else return usage();
  if (operands != 2) return usage();
  return run_tree(mode, operand[0], operand[1], options);
}
