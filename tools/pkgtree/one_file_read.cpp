// Reading a one file as the unpacker reads it, with the unpacker's own
// reader: the archive after the program, checked whole, then every entry
// copied with its CRC-32 checked. check and verify read the package it
// holds as they read a folder, from a temporary folder of their own.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "common/unpack_budget.h"
#include "platform/platform.h"
#include "pkgtree.h"
#include "unpacker/archive.h"

namespace fs = std::filesystem;

namespace {

class FileSource : public unpack::ByteSource {
 public:
  explicit FileSource(std::FILE* file) : file_(file) {}
  uint64_t size() override {
    if (!seek(0, SEEK_END)) return 0;
#ifdef _WIN32
    int64_t end = _ftelli64(file_);
#else
    int64_t end = ftello(file_);
#endif
    return end < 0 ? 0 : static_cast<uint64_t>(end);
  }
  std::size_t read_at(uint64_t offset, void* buffer, std::size_t size) override {
    if (offset > static_cast<uint64_t>(INT64_MAX) || !seek(static_cast<int64_t>(offset), SEEK_SET)) return 0;
    return std::fread(buffer, 1, size, file_);
  }

 private:
  bool seek(int64_t at, int whence) {
#ifdef _WIN32
    return _fseeki64(file_, at, whence) == 0;
#else
    return fseeko(file_, static_cast<off_t>(at), whence) == 0;
#endif
  }
  std::FILE* file_;
};

class FileSink : public unpack::ByteSink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {}
  bool write(const void* data, std::size_t size) override {
    return file_ == nullptr || std::fwrite(data, 1, size, file_) == size;
  }

 private:
  std::FILE* file_;  // none: the bytes are only counted into the CRC-32
};

// Reads the archive of `file` and copies every entry into `into` (the
// platform's form), or only checks each one when `into` is empty.
bool read_one_file(const std::string& file, const fs::path& into, std::size_t* entries, std::string* why) {
  std::FILE* in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) {
    *why = std::string("cannot be read: ") + std::strerror(errno);
    return false;
  }
  FileSource source(in);
  unpack::Archive archive;
  bool ok = unpack::read_archive(source, unpack_budget::folder_chars, archive, *why);
  for (const char* name : {"setup.exe", "env", "inf", "source"})
    if (ok && archive.find(name) == nullptr) {
      *why = std::string("the archive holds no ") + name + ": it is not a package";
      ok = false;
    }
  for (std::size_t i = 0; ok && i < archive.entries.size(); ++i) {
    const unpack::Entry& e = archive.entries[i];
    fs::path target = into.empty() ? fs::path() : into / fs::path(e.name).make_preferred();
    std::error_code ec;
    if (e.folder) {
      if (!into.empty() && !fs::create_directory(target, ec)) {
        *why = target.string() + ": cannot be made";
        ok = false;
      }
      continue;
    }
    std::FILE* out = nullptr;
    if (!into.empty() && (out = std::fopen(target.string().c_str(), "wb")) == nullptr) {
      *why = target.string() + ": cannot be written: " + std::strerror(errno);
      ok = false;
      break;
    }
    FileSink sink(out);
    unpack::Copied copied = unpack::copy_entry(source, e, sink, *why);
    if (out != nullptr && std::fclose(out) != 0 && copied == unpack::Copied::Done) {
      *why = target.string() + ": cannot be written";
      ok = false;
    }
    if (copied == unpack::Copied::Stopped) *why = target.string() + ": cannot be written";
    if (copied != unpack::Copied::Done) ok = false;
  }
  std::fclose(in);
  *entries = archive.entries.size();
  return ok;
}

// A new folder of its own under the system's temporary folder.
fs::path new_temporary_folder(std::string* why) {
  std::error_code ec;
  fs::path base = fs::temp_directory_path(ec);
  if (ec) {
    *why = "no temporary folder: " + ec.message();
    return fs::path();
  }
  std::random_device random;
  for (int n = 0; n < 100; ++n) {
    char name[32];
    std::snprintf(name, sizeof name, "pkgtree-read-%08x", static_cast<unsigned>(random()));
    if (fs::create_directory(base / name, ec)) return base / name;
    if (ec) break;
  }
  *why = base.string() + ": no folder of its own can be made in it";
  return fs::path();
}

// The one file unpacked for `read`, whose status is returned; the folder is
// removed afterwards. A damaged archive is a problem on standard output.
template <class Read>
int with_unpacked(const char* file, const char* verb, Read read) {
  std::string why;
  std::printf("%s: one file %s, read with the unpacker's rules\n", verb, file);
  std::string kind = not_a_32bit_windows_program(file);
  if (!kind.empty()) {
    std::printf("problem: %s: %s: the user's 32-bit Windows cannot start it\n", file, kind.c_str());
    return report_written(1);
  }
  std::string signature = unsigned_because(file);
  std::printf("  %s: a 32-bit Windows program, %s\n", file, signature.empty() ? "signed" : "not signed");
  fs::path folder = new_temporary_folder(&why);
  if (folder.empty()) {
    std::fprintf(stderr, "pkgtree: %s\n", why.c_str());
    return 1;
  }
  std::size_t entries = 0;
  std::fflush(stdout);
  int status = 0;
  if (!read_one_file(file, folder, &entries, &why)) {
    std::printf("problem: %s: %s\n%s: the one file is damaged: download or make it again\n", file, why.c_str(), verb);
    status = report_written(1);
  } else {
    std::printf("  archive: %zu entries, each one's CRC-32 as stored\n", entries);
    status = read(folder.string());
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  return status;
}

}  // namespace

bool read_back_one_file(const std::string& native_path, std::string* why) {
  std::size_t entries = 0;
  return read_one_file(native_path, fs::path(), &entries, why);
}

int run_check_one_file(const char* file, const char* folder) {
  guard_standard_streams();
  if (!operand_given("FOLDER", folder)) return 2;
  engine_ports() = platform_engine_ports();
  return with_unpacked(file, "check", [&](const std::string& unpacked) {
    return run_check_as(unpacked.c_str(), file, folder, false, true);
  });
}

int run_verify_one_file(const char* file, const char* plain, const Options& options) {
  guard_standard_streams();
  engine_ports() = platform_engine_ports();
  return with_unpacked(file, "verify", [&](const std::string& unpacked) {
    return run_verify((unpacked + "\\source").c_str(), plain, options);
  });
}
