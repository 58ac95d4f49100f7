// verify: every package file is one whole bzip2 stream with nothing after
// it, and, given the plain tree, the same folders and files with the same
// bytes. The files are decoded on every core, each once, in large reads.
#include <bzlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine_ports.h"
#include "platform/platform.h"
#include "pkgtree.h"
#include "progress.h"

namespace {

constexpr std::size_t kBlock = 1 << 20;

struct FileResult {
  std::string problem;  // empty when the file is well
  uint64_t packed = 0, plain = 0;
};

std::string join(const char* root, const std::string& relative) {
  return std::string(root) + "\\" + relative;
}

struct Buffers {
  std::unique_ptr<char[]> in{new char[kBlock]}, out{new char[kBlock]}, plain{new char[kBlock]};
};

// Reads up to `size` bytes; fewer only at the end of the file.
std::size_t read_full(std::FILE* file, char* buffer, std::size_t size) {
  std::size_t total = 0;
  while (total < size) {
    std::size_t n = std::fread(buffer + total, 1, size - total, file);
    if (n == 0) break;
    total += n;
  }
  return total;
}

std::string with_number(const char* before, unsigned long long n, const char* after) {
  char text[160];
  std::snprintf(text, sizeof text, "%s%llu%s", before, n, after);
  return text;
}

FileResult check_file(const std::string& packed_path, const std::string* plain_path, Buffers& b) {
  FileResult result;
  std::FILE* packed = std::fopen(shown_path(packed_path.c_str()).c_str(), "rb");
  if (packed == nullptr) {
    result.problem = std::string("cannot be read: ") + std::strerror(errno);
    return result;
  }
  std::FILE* plain = nullptr;
  if (plain_path != nullptr) {
    plain = std::fopen(shown_path(plain_path->c_str()).c_str(), "rb");
    if (plain == nullptr) {
      std::fclose(packed);
      result.problem = std::string("its plain file cannot be read: ") + std::strerror(errno);
      return result;
    }
  }
  bz_stream stream;
  std::memset(&stream, 0, sizeof stream);
  BZ2_bzDecompressInit(&stream, 0, 0);
  bool ended = false, differs = false;
  uint64_t differs_at = 0;
  int code = BZ_OK;
  while (!ended) {
    if (stream.avail_in == 0) {
      std::size_t n = read_full(packed, b.in.get(), kBlock);
      result.packed += n;
      if (n == 0) break;
      stream.next_in = b.in.get();
      stream.avail_in = static_cast<unsigned>(n);
    }
    stream.next_out = b.out.get();
    stream.avail_out = static_cast<unsigned>(kBlock);
    code = BZ2_bzDecompress(&stream);
    std::size_t produced = kBlock - stream.avail_out;
    if (plain != nullptr && !differs && produced > 0) {
      std::size_t got = read_full(plain, b.plain.get(), produced);
      if (got != produced || std::memcmp(b.plain.get(), b.out.get(), produced) != 0) {
        std::size_t i = 0;
        while (i < got && b.plain.get()[i] == b.out.get()[i]) ++i;
        differs = true;
        differs_at = result.plain + i;
      }
    }
    result.plain += produced;
    if (code == BZ_STREAM_END) ended = true;
    else if (code != BZ_OK) break;
  }
  uint64_t after = 0;
  if (ended) {
    after = stream.avail_in;
    while (std::size_t n = read_full(packed, b.in.get(), kBlock)) {
      after += n;
      result.packed += n;
    }
  }
  if (ended && plain != nullptr && !differs && read_full(plain, b.plain.get(), 1) != 0) {
    differs = true;
    differs_at = result.plain;
  }
  bool read_error = std::ferror(packed) != 0;
  BZ2_bzDecompressEnd(&stream);
  std::fclose(packed);
  if (plain != nullptr) std::fclose(plain);

  if (read_error) result.problem = "cannot be read to its end";
  else if (code == BZ_DATA_ERROR_MAGIC || (result.packed == 0)) result.problem = result.packed == 0 ? "empty: not a bzip2 stream" : "not bzip2 data";
  else if (code == BZ_DATA_ERROR) result.problem = "damaged: its bzip2 data fails the check";
  else if (code != BZ_OK && code != BZ_STREAM_END) result.problem = with_number("cannot be decoded (library error ", static_cast<unsigned long long>(-code), ")");
  else if (!ended) result.problem = "cut short: the bzip2 stream does not end";
  else if (after > 0) result.problem = with_number("", after, after == 1 ? " byte after the bzip2 stream, which the installer ignores" : " bytes after the bzip2 stream, which the installer ignores");
  else if (differs) result.problem = with_number("differs from the plain file from byte ", differs_at, "");
  return result;
}

std::set<std::string> as_set(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

void say_problem(const std::string& path, const std::string& what) {
  std::printf("%s: %s\n", shown_path(path.c_str()).c_str(), what.c_str());
}

}  // namespace

int run_verify(const char* package, const char* plain, const Options& options) {
  guard_standard_streams();
  if (!operand_given("PACKAGE_SOURCE", package) || (plain != nullptr && !operand_given("PLAIN_TREE", plain)))
    return 2;
  EnginePorts ports = platform_engine_ports();
  engine_ports() = ports;
  // What Windows would make of the package's names; links and FIFOs, in
  // either tree, before anything is opened in it.
  std::vector<Finding> findings;
  AuditRules rules;
  rules.windows_names = true;
  if (look_up(package).folder) audit_tree(package, rules, &findings);
  if (plain != nullptr && look_up(plain).folder) audit_tree(plain, AuditRules(), &findings);
  long problems = 0;
  bool walkable = true;
  for (const Finding& f : findings) {
    std::printf("%s%s: %s\n", f.warning ? "warning: " : "", f.path.c_str(), f.what.c_str());
    if (!f.warning) ++problems;
    walkable = walkable && (f.warning || f.about_name);
  }
  if (!walkable) {
    std::printf("verify: %ld problem%s; the trees were not read further\n", problems, problems == 1 ? "" : "s");
    return report_written(1);
  }
  TreeListing packed, original;
  if (!list_tree(package, &packed, false)) {
    std::fprintf(stderr, "pkgtree: %s: not a folder that can be listed\n", shown_path(package).c_str());
    return 1;
  }
  if (plain != nullptr && !list_tree(plain, &original, false)) {
    std::fprintf(stderr, "pkgtree: %s: not a folder that can be listed\n", shown_path(plain).c_str());
    return 1;
  }
  std::set<std::string> plain_files = as_set(original.files);
  if (plain != nullptr) {
    // Folders and files on one side only, in each tree's walk order.
    std::set<std::string> packed_folders = as_set(packed.folders), packed_files = as_set(packed.files);
    std::set<std::string> plain_folders = as_set(original.folders);
    for (const std::string& f : original.folders)
      if (!packed_folders.count(f)) {
        say_problem(join(plain, f), packed_files.count(f) ? "a folder, but a file in the package" : "folder missing from the package");
        ++problems;
      }
    for (const std::string& f : original.files)
      if (!packed_files.count(f)) {
        say_problem(join(plain, f), packed_folders.count(f) ? "a file, but a folder in the package" : "missing from the package");
        ++problems;
      }
    for (const std::string& f : packed.folders)
      if (!plain_folders.count(f) && !plain_files.count(f)) {
        say_problem(join(package, f), "folder not in the plain tree");
        ++problems;
      }
    for (const std::string& f : packed.files)
      if (!plain_files.count(f) && !plain_folders.count(f)) {
        say_problem(join(package, f), "not in the plain tree");
        ++problems;
      }
  }

  std::vector<FileResult> results(packed.files.size());
  Progress progress(!options.quiet);
  if (progress.shown()) {
    uint64_t bytes = 0;
    for (const std::string& f : packed.files) bytes += look_up(join(package, f).c_str()).size;
    progress.start(packed.files.size(), bytes);
  }
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    Buffers buffers;
    for (std::size_t i; (i = next.fetch_add(1)) < packed.files.size();) {
      const std::string& f = packed.files[i];
      std::string plain_path = plain != nullptr ? join(plain, f) : std::string();
      bool compare = plain != nullptr && plain_files.count(f) != 0;
      results[i] = check_file(join(package, f), compare ? &plain_path : nullptr, buffers);
      progress.add(1, results[i].packed);
    }
  };
  unsigned threads = std::max(1u, std::min<unsigned>(options.jobs, static_cast<unsigned>(packed.files.size())));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();
  progress.finish(true);

  uint64_t packed_bytes = 0, plain_bytes = 0;
  for (std::size_t i = 0; i < results.size(); ++i) {
    packed_bytes += results[i].packed;
    plain_bytes += results[i].plain;
    if (!results[i].problem.empty()) {
      say_problem(join(package, packed.files[i]), results[i].problem);
      ++problems;
    }
  }
  double ratio = plain_bytes > 0 ? 100.0 * static_cast<double>(packed_bytes) / static_cast<double>(plain_bytes) : 0;
  std::printf("%s: %zu folders, %zu files, %llu bytes plain (%.1f MiB), %llu bytes packed (%.1f MiB), %.1f %% of plain%s\n",
              shown_path(package).c_str(), packed.folders.size(), packed.files.size(),
              static_cast<unsigned long long>(plain_bytes), static_cast<double>(plain_bytes) / 1048576.0,
              static_cast<unsigned long long>(packed_bytes), static_cast<double>(packed_bytes) / 1048576.0, ratio,
              plain != nullptr ? ", compared with the plain tree" : "");
  if (problems == 0) std::printf("verify: all well\n");
  else std::printf("verify: %ld problem%s\n", problems, problems == 1 ? "" : "s");
  return report_written(problems == 0 ? 0 : 1);
}
