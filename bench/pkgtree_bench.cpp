// pkgtree on one core against all of them: compress and expand with -j 1
// and -j N (the packages must be identical), and verify against the pure
// libbzip2 decode of the same files on the same number of threads.
//
//   pkgtree_bench PKGTREE PLAIN_TREE PACKAGE_TREE SCRATCH_FOLDER [RUNS]
//
// Each measurement is a child process, timed from fork to exit; the runs of
// each pair alternate so that neither gains from the order.
#include <bzlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

double run_child(const std::vector<std::string>& argv) {
  auto start = std::chrono::steady_clock::now();
  std::fflush(stdout);  // a child would print what is still buffered again
  pid_t child = fork();
  if (child == 0) {
    // The programs' own summaries would only interleave with the figures.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::_Exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    std::_Exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "pkgtree_bench: %s %s failed\n", argv[0].c_str(), argv[1].c_str());
    std::exit(1);
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<fs::path> files_of(const fs::path& root) {
  std::vector<fs::path> files;
  for (auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root));
  std::sort(files.begin(), files.end());
  return files;
}

bool same_file(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  return std::equal(std::istreambuf_iterator<char>(x), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(y), std::istreambuf_iterator<char>());
}

bool same_tree(const fs::path& a, const fs::path& b) {
  std::vector<fs::path> fa = files_of(a), fb = files_of(b);
  if (fa != fb) return false;
  for (const fs::path& f : fa)
    if (fs::file_size(a / f) != fs::file_size(b / f) || !same_file(a / f, b / f)) return false;
  return true;
}

// Every file decoded by BZ2_bzread into memory, files shared out to `threads`.
double pure_decode(const fs::path& package, unsigned threads) {
  std::vector<fs::path> files = files_of(package);
  auto start = std::chrono::steady_clock::now();
  std::fflush(stdout);  // a child would print what is still buffered again
  pid_t child = fork();
  if (child == 0) {
    std::atomic<std::size_t> next{0};
    std::atomic<unsigned long long> total{0};
    auto work = [&] {
      static thread_local char buffer[4096];
      for (std::size_t i; (i = next.fetch_add(1)) < files.size();) {
        BZFILE* in = BZ2_bzopen((package / files[i]).c_str(), "rb");
        if (in == nullptr) std::_Exit(2);
        int n;
        while ((n = BZ2_bzread(in, buffer, sizeof buffer)) > 0) total += static_cast<unsigned>(n);
        BZ2_bzclose(in);
      }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) pool.emplace_back(work);
    for (std::thread& t : pool) t.join();
    std::_Exit(total > 0 ? 0 : 3);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::exit(1);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: pkgtree_bench PKGTREE PLAIN_TREE PACKAGE_TREE SCRATCH_FOLDER [RUNS]\n");
    return 2;
  }
  std::string pkgtree = argv[1], plain = argv[2], package = argv[3], scratch = argv[4];
  int runs = argc > 5 ? std::atoi(argv[5]) : 3;
  unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  std::string all = std::to_string(cores);
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  std::printf("pkgtree -j 1 against -j %u (all cores), %d runs each, alternated, medians:\n", cores, runs);

  std::vector<double> c1, cn, e1, en, verify, decode;
  bool identical = true;
  for (int i = 0; i < runs; ++i) {
    std::string r = std::to_string(i);
    c1.push_back(run_child({pkgtree, "-j", "1", "compress", plain, scratch + "/compress-1-" + r}));
    cn.push_back(run_child({pkgtree, "-j", all, "compress", plain, scratch + "/compress-n-" + r}));
    identical = identical && same_tree(scratch + "/compress-1-" + r, scratch + "/compress-n-" + r) &&
                same_tree(scratch + "/compress-1-" + r, package);
  }
  for (int i = 0; i < runs; ++i) {
    std::string r = std::to_string(i);
    e1.push_back(run_child({pkgtree, "-j", "1", "expand", package, scratch + "/expand-1-" + r}));
    en.push_back(run_child({pkgtree, "-j", all, "expand", package, scratch + "/expand-n-" + r}));
  }
  for (int i = 0; i < runs; ++i) {
    verify.push_back(run_child({pkgtree, "-q", "-j", all, "verify", package}));
    decode.push_back(pure_decode(package, cores));
  }
  bool expanded = same_tree(scratch + "/expand-n-0", plain);
  fs::remove_all(scratch);

  double mc1 = median(c1), mcn = median(cn), me1 = median(e1), men = median(en);
  double mv = median(verify), md = median(decode);
  std::printf("  compress: %s -j 1|%u compress %s SCRATCH/compress-J-N\n", pkgtree.c_str(), cores, plain.c_str());
  std::printf("    -j 1 median %.3f s, -j %u median %.3f s: %.2f x (target >= 1.8); packages identical to each other and to the bench package: %s\n",
              mc1, cores, mcn, mc1 / mcn, identical ? "yes" : "NO");
  std::printf("  expand: %s -j 1|%u expand %s SCRATCH/expand-J-N\n", pkgtree.c_str(), cores, package.c_str());
  std::printf("    -j 1 median %.3f s, -j %u median %.3f s: %.2f x (target >= 1.8); tree as the plain one: %s\n", me1,
              cores, men, me1 / men, expanded ? "yes" : "NO");
  std::printf("  verify: %s -q -j %u verify %s, against BZ2_bzread of every file into memory on %u threads\n",
              pkgtree.c_str(), cores, package.c_str(), cores);
  std::printf("    verify median %.3f s, pure decode median %.3f s: ratio %.3f (target <= 1.10)\n", mv, md, mv / md);
  return identical && expanded ? 0 : 1;
}
