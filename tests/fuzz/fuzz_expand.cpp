// expand_file on mutated bzip2 streams: it either installs exactly what the
// library decodes from the first stream, or reports the file as damaged.
#include <bzlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/platform.h"

namespace {

struct Failed {};

class Throwing : public FatalReporter {
 public:
  std::string last;
  void fail(const char* text, const char*) override {
    last = text;
    throw Failed{};
  }
};

// The reference: the first stream decoded in memory, or nothing when the
// data holds no complete stream.
bool reference_decode(const uint8_t* data, size_t size, std::string* out) {
  bz_stream s{};
  if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return false;
  s.next_in = const_cast<char*>(reinterpret_cast<const char*>(data));
  s.avail_in = static_cast<unsigned>(size);
  char buffer[65536];
  int rc;
  do {
    s.next_out = buffer;
    s.avail_out = sizeof buffer;
    rc = BZ2_bzDecompress(&s);
    out->append(buffer, sizeof buffer - s.avail_out);
    if (out->size() > (64u << 20)) break;
  } while (rc == BZ_OK && (s.avail_in > 0 || s.avail_out == 0));
  BZ2_bzDecompressEnd(&s);
  return rc == BZ_STREAM_END;
}

std::string read_all(const std::string& path) {
  std::string bytes;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Throwing fatal;
  static std::string folder = [] {
    std::string f = "/tmp/fuzz-expand-" + std::to_string(getpid());
    std::system(("mkdir -p " + f).c_str());
    EnginePorts ports = platform_engine_ports();
    ports.fatal = &fatal;
    engine_ports() = ports;
    return f;
  }();
  std::string in = folder + "/in.bz2", out = folder + "/out";
  FILE* f = std::fopen(in.c_str(), "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  std::string expected;
  bool complete = reference_decode(data, size, &expected);
  if (expected.size() > (64u << 20)) return 0;  // too slow to compare; not a finding
  bool failed = false;
  try {
    expand_file(in.c_str(), out.c_str());
  } catch (const Failed&) {
    failed = true;
  }
  if (complete) {
    if (failed || read_all(out) != expected) std::abort();
  } else if (!failed || fatal.last.rfind("Damaged package file ", 0) != 0) {
    std::abort();
  }
  return 0;
}
