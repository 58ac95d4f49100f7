// Writes HEAD followed by an archive of FILE... (under their own names, in a
// folder "tree/") with every classic field's limit lowered to 0, so that
// each size, offset and count takes its zip64 record: the shape a package
// of over 65535 entries or 4 GiB has, which the tests then read with stock
// tools.
//   zip64_archive OUT HEAD FILE...
#include <cstdio>
#include <string>

#include "zip_writer.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: zip64_archive OUT HEAD FILE...\n");
    return 2;
  }
  std::FILE* out = std::fopen(argv[1], "w+b");
  std::FILE* head = std::fopen(argv[2], "rb");
  if (out == nullptr || head == nullptr) return 1;
  char block[4096];
  for (std::size_t n; (n = std::fread(block, 1, sizeof block, head)) > 0;) std::fwrite(block, 1, n, out);
  std::fclose(head);
  StoredZipWriter zip(out, ZipLimits{0, 0});
  std::string why;
  bool ok = zip.add_folder("tree/", 1700000000, &why);
  for (int i = 3; i < argc && ok; ++i) {
    std::string path = argv[i];
    ok = zip.add_file("tree/" + path.substr(path.find_last_of('/') + 1), path, 1700000000, &why);
  }
  ok = ok && zip.finish(&why);
  if (std::fclose(out) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "zip64_archive: %s\n", why.c_str());
  return ok ? 0 : 1;
}
