// Expands a package tree with the engine and, in the same run, decodes the
// same files with libbzip2 into memory: the engine's cost beyond the decode.
//
//   engine_bench PACKAGE_TREE SCRATCH_FOLDER [RUNS [PKGTREE]]
//
// Each measurement runs in a child process so that its peak memory is its own.
// With PKGTREE, the expand measured is that program's `expand` rather than
// the engine called in the child.
#include <bzlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

class Quiet : public WizardLink {
 public:
  long files = 0;
  void set_current_file(const char*) override { ++files; }
  void send_command(WindowHandle, int32_t) override {}
};

void engine_expand(const std::string& package, const std::string& destination) {
  static MessageBoxFatalReporter fatal;
  static Quiet quiet;
  EnginePorts ports = platform_engine_ports();
  ports.fatal = &fatal;
  ports.wizard = &quiet;
  engine_ports() = ports;
  install_tree(package.c_str(), destination.c_str(), static_cast<int32_t>(CopyMode::Expand), 1);
}

void pure_decode(const std::string& package) {
  static char buffer[4096];
  unsigned long long total = 0;
  for (auto& entry : fs::recursive_directory_iterator(package)) {
    if (!entry.is_regular_file()) continue;
    BZFILE* in = BZ2_bzopen(entry.path().c_str(), "rb");
    if (in == nullptr) std::exit(2);
    int n;
    while ((n = BZ2_bzread(in, buffer, sizeof buffer)) > 0) total += static_cast<unsigned>(n);
    BZ2_bzclose(in);
  }
  if (total == 0) std::exit(3);
}

// The maintainer's tool itself, as a user runs it, on one thread as the
// installer's loader and the decode here.
void program_expand(const std::string& pkgtree, const std::string& package, const std::string& destination) {
  execl(pkgtree.c_str(), pkgtree.c_str(), "-j", "1", "expand", package.c_str(), destination.c_str(),
        static_cast<char*>(nullptr));
  std::_Exit(4);
}

struct Sample {
  double seconds;
  long peak_kib;
};

template <typename F>
Sample measure(F body) {
  auto start = std::chrono::steady_clock::now();
  std::fflush(stdout);  // a child would print what is still buffered again
  pid_t child = fork();
  if (child == 0) {
    body();
    std::_Exit(0);
  }
  int status = 0;
  struct rusage usage {};
  wait4(child, &status, 0, &usage);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "measurement failed\n");
    std::exit(1);
  }
  return {seconds, usage.ru_maxrss};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: engine_bench PACKAGE_TREE SCRATCH_FOLDER [RUNS [PKGTREE]]\n");
    return 2;
  }
  std::string package = argv[1], scratch = argv[2];
  int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  std::string pkgtree = argc > 4 ? argv[4] : "";
  long files = 0;
  unsigned long long packed = 0;
  for (auto& entry : fs::recursive_directory_iterator(package))
    if (entry.is_regular_file()) {
      ++files;
      packed += entry.file_size();
    }
  // Deleting many files slows the making of new ones on ext4 for about a
  // minute (it passes over the freed inodes): nothing is deleted between
  // runs, each expands into a folder of its own, and what an earlier bench
  // left is waited out (SETUP_BENCH_SETTLE seconds, 65 unless set).
  if (fs::remove_all(scratch) > 0) {
    const char* settle = std::getenv("SETUP_BENCH_SETTLE");
    sync();
    sleep(settle != nullptr ? static_cast<unsigned>(std::atoi(settle)) : 65u);
  }
  std::vector<double> engine, decode;
  long engine_peak = 0, decode_peak = 0;
  for (int i = 0; i < runs; ++i) {
    // Alternate the two so that neither gains from the order.
    std::string destination = scratch + "/run-" + std::to_string(i);
    fs::create_directories(scratch);
    Sample e = measure([&] {
      if (pkgtree.empty()) engine_expand(package, destination);
      else program_expand(pkgtree, package, destination);
    });
    Sample d = measure([&] { pure_decode(package); });
    engine.push_back(e.seconds);
    decode.push_back(d.seconds);
    engine_peak = std::max(engine_peak, e.peak_kib);
    decode_peak = std::max(decode_peak, d.peak_kib);
  }
  unsigned long long plain = 0;
  for (auto& entry : fs::recursive_directory_iterator(scratch + "/run-0"))
    if (entry.is_regular_file()) plain += entry.file_size();
  fs::remove_all(scratch);
  double me = median(engine), md = median(decode);
  std::printf("files: %ld, packed %.1f MiB, plain %.1f MiB, runs: %d\n", files, packed / 1048576.0,
              plain / 1048576.0, runs);
  std::string what = pkgtree.empty() ? "engine expand (files written)" : "pkgtree -j 1 expand (written)";
  std::printf("%-31s median %.3f s, %.0f files/s, peak %ld KiB\n", (what + ":").c_str(), me, files / me,
              engine_peak);
  std::printf("%-31s median %.3f s, %.0f files/s, peak %ld KiB\n", "pure decode (into memory):", md,
              files / md, decode_peak);
  std::printf("ratio %s / pure decode: %.3f (target <= 1.10)\n", pkgtree.empty() ? "engine" : "pkgtree", me / md);
  return 0;
}
