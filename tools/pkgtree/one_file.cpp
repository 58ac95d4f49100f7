// The one file: the unpacker followed by the package as a zip archive of
// stored entries, made like every package: in a staging file beside FILE,
// renamed over it only when every step (signing and a read-back among them)
// has passed, so that a failure leaves an earlier FILE as it was.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "common/pe_headers.h"
#include "common/unpack_budget.h"
#include "platform/platform.h"
#include "pkgtree.h"
#include "progress.h"
#include "sign.h"
#include "zip_writer.h"

namespace fs = std::filesystem;

namespace {

int problem(const std::string& text) {
  std::fprintf(stderr, "pkgtree: %s\n", text.c_str());
  return 1;
}

// A file made anew, never one that was there: the staging names are tried
// in turn until one is free.
std::FILE* create_new(const fs::path& path) {
#ifdef _WIN32
  int fd = _wopen(path.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY, _S_IREAD | _S_IWRITE);
  return fd < 0 ? nullptr : _fdopen(fd, "w+b");
#else
  int fd = open(path.c_str(), O_CREAT | O_EXCL | O_RDWR, 0644);
  return fd < 0 ? nullptr : fdopen(fd, "w+b");
#endif
}

std::FILE* new_staging_file(const fs::path& file, fs::path* staging, std::string* why) {
  for (int n = 0; n < 1000; ++n) {
    fs::path candidate = file.parent_path() / (file.filename().string() + ".pkgtree-" + std::to_string(n));
    std::FILE* out = create_new(candidate);
    if (out != nullptr) {
      *staging = candidate;
      return out;
    }
    if (errno != EEXIST) {
      *why = candidate.string() + ": cannot be made: " + std::strerror(errno);
      return nullptr;
    }
  }
  *why = "no free name for a staging file beside " + file.string();
  return nullptr;
}

// The unpacker as the head of the one file: a certificate table it carries
// is dropped (the bytes from its start on, and the header's entry for it),
// the image otherwise as it was. The one file's own signature, made last,
// covers these bytes too; a second table inside the file would be a program
// whose signature is not at its end, which no signing tool or reader takes.
std::string unsigned_head(std::string image) {
  auto read_at = [&image](uint64_t offset, unsigned char* out, std::size_t count) -> std::size_t {
    if (offset >= image.size()) return 0;
    std::size_t n = std::min<uint64_t>(count, image.size() - offset);
    std::memcpy(out, image.data() + offset, n);
    return n;
  };
  pe::Headers h = pe::read_headers(read_at);
  if (h.shape != pe::Shape::Pe || (h.certificates_at == 0 && h.certificates_size == 0)) return image;
  if (pe::has_certificate_table(h, image.size())) image.resize(h.certificates_at);
  std::size_t entry = h.header_at + pe::kFileHeader +
                      (h.magic == pe::kOptionalPe32Plus ? pe::kDirectoriesPe32Plus : pe::kDirectoriesPe32) +
                      8 * pe::kCertificateEntry;
  if (entry + 8 <= image.size()) std::memset(&image[entry], 0, 8);
  return image;
}

int64_t seconds_of(const fs::path& path) {
  std::error_code ec;
  fs::file_time_type stamp = fs::last_write_time(path, ec);
  if (ec) return 0;
  auto system = std::chrono::file_clock::to_sys(stamp);
  return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

// The archive: setup.exe, env, inf, then source and its tree in the
// installer's walk order, names with "/".
bool write_archive(std::FILE* out, const std::string& package, std::string* why) {
  StoredZipWriter zip(out, ZipLimits{}, [] { return stop_requested() != 0; });
  auto native = [&package](const std::string& relative) { return shown_path((package + "\\" + relative).c_str()); };
  for (const char* name : {"setup.exe", "env", "inf"})
    if (!zip.add_file(name, native(name), seconds_of(native(name)), why)) return false;
  TreeListing listing;
  std::string source = package + "\\source";
  if (!list_tree(source.c_str(), &listing, false)) {
    *why = shown_path(source.c_str()) + ": cannot be listed";
    return false;
  }
  if (!zip.add_folder("source/", seconds_of(native("source")), why)) return false;
  for (const TreeListing::Step& step : listing.order) {
    std::string relative = (step.folder ? listing.folders : listing.files)[step.index];
    std::string name = "source/" + relative;
    for (char& c : name)
      if (c == '\\') c = '/';
    std::string path = native("source\\" + relative);
    bool ok = step.folder ? zip.add_folder(name + "/", seconds_of(path), why)
                          : zip.add_file(name, path, seconds_of(path), why);
    if (!ok) return false;
  }
  if (!zip.finish(why)) return false;
  std::printf("archive: %zu entries, %.1f MiB\n", zip.entries(), static_cast<double>(zip.data_bytes()) / 1048576.0);
  return true;
}

// The steps, each stopping the run at its first problem; the staging files
// are the caller's to remove. `out` is closed before the one file is signed:
// on Windows a command cannot replace a file that is held open.
int one_file_steps(const OneFileJob& job, const fs::path& staging, std::FILE*& out, fs::path* signed_copy) {
  std::string image, why;
  if (!read_whole(job.unpacker, &image))
    return problem(std::string("no ") + kUnpackerName + ": looked for " + job.unpacker);
  if (!job.sign.empty()) {
    std::FILE* copy = new_staging_file(job.file, signed_copy, &why);
    if (copy == nullptr) return problem(why);
    bool written = std::fwrite(image.data(), 1, image.size(), copy) == image.size();
    if (std::fclose(copy) != 0 || !written) return problem(signed_copy->string() + ": cannot be written");
    if (!sign_in_place(job.sign, signed_copy->string(), kUnpackerName, &why)) return problem(why);
    if (!read_whole(*signed_copy, &image)) return problem(signed_copy->string() + ": cannot be read back");
  }
  std::string head = unsigned_head(image);
  std::printf("== one file: %s (%s and the package)\n", job.file.c_str(), kUnpackerName);
  std::fflush(stdout);
  double started = seconds_now();
  if (std::fwrite(head.data(), 1, head.size(), out) != head.size())
    return problem(staging.string() + ": cannot be written: " + std::strerror(errno));
  bool archived = write_archive(out, job.package, &why);
  if (int stop = stop_requested()) return stop;
  if (!archived) return problem(staging.string() + ": " + why);
  int closed = std::fclose(out);
  out = nullptr;
  if (closed != 0) return problem(staging.string() + ": cannot be written: " + std::strerror(errno));
  std::printf("written in %.1f s\n", seconds_now() - started);
  std::fflush(stdout);
  if (!job.sign.empty() && !sign_in_place(job.sign, staging.string(), fs::path(job.file).filename().string(), &why))
    return problem(why);
  // Read back as the user's copy will be read: a program Windows starts,
  // signed when it was to be, and an archive the unpacker takes whole.
  std::string kind = not_a_32bit_windows_program(staging.string());
  if (!kind.empty() && !job.any_program)
    return problem(job.file + ": " + kind + "; it must be a 32-bit Windows program");
  if (!read_back_one_file(staging.string(), &why)) return problem(job.file + ": read back: " + why);
  return stop_requested();
}

}  // namespace

int write_one_file(const OneFileJob& job) {
  fs::path file = job.file, staging, signed_copy;
  std::string why;
  std::FILE* out = new_staging_file(file, &staging, &why);
  if (out == nullptr) return problem(why);
  int status = one_file_steps(job, staging, out, &signed_copy);
  if (out != nullptr) std::fclose(out);
  if (status == 0 && !replace_file(staging, file, &why)) status = problem("cannot move the one file into place: " + why);
  std::error_code ec;
  if (status != 0) fs::remove(staging, ec);
  if (!signed_copy.empty()) fs::remove(signed_copy, ec);
  return status;
}

bool names_a_file(const char* path) {
  std::error_code ec;
  return path != nullptr && *path != '\0' && fs::is_regular_file(shown_path(path), ec);
}

namespace {

struct BundleArguments {
  std::string sign, unpacker, folder = kDefaultFolder;
  bool any_setup = false;
  const char* package = nullptr;
  const char* file = nullptr;
};

std::string parse_bundle(int count, char** args, BundleArguments* a) {
  int i = 0;
  for (; i < count && args[i][0] == '-'; ++i) {
    std::string option = args[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (option == "--any-setup") {
      a->any_setup = true;
      continue;
    }
    std::string* field = option == "--sign" ? &a->sign : option == "--unpacker" ? &a->unpacker
                                                       : option == "--folder"   ? &a->folder : nullptr;
    if (field == nullptr) return "unknown option of bundle \"" + option + "\"";
    if (i + 1 >= count || args[i + 1][0] == '\0')
      return option + " needs a " + (option == "--sign" ? "COMMAND" : option == "--unpacker" ? "FILE" : "FOLDER");
    *field = args[++i];
  }
  if (count - i != 2) return "bundle takes 2 operands, PACKAGE_DIR FILE, not " + std::to_string(count - i);
  a->package = args[i];
  a->file = args[i + 1];
  return std::string();
}

}  // namespace

int run_bundle(int count, char** args) {
  BundleArguments a;
  std::string why = parse_bundle(count, args, &a);
  if (!why.empty()) return usage_error(why);
  if (!a.sign.empty() && !names_the_file(a.sign))
    return usage_error("--sign's COMMAND holds no {} to stand for the file to sign");
  if (!operand_given("PACKAGE_DIR", a.package) || !operand_given("FILE", a.file)) return 2;
  engine_ports() = platform_engine_ports();
  std::error_code ec;
  if (!fs::is_directory(shown_path(a.package), ec)) return problem(std::string("PACKAGE_DIR ") + a.package + ": not a folder");
  std::string package_real = resolved_path(a.package), file_real = resolved_path(a.file);
  if (fs::is_directory(file_real, ec)) return problem(std::string("FILE ") + a.file + ": a folder, not a program to write");
  // The four names are read while the one file is written beside FILE.
  for (const char* name : {"source", "setup.exe", "env", "inf"})
    if (lies_within(file_real, (fs::path(package_real) / name).string()))
      return problem(std::string("FILE ") + a.file + " would be part of the package it is made of");
  fs::path unpacker = a.unpacker.empty() ? installed_setup().parent_path() / kUnpackerName : fs::path(a.unpacker);
  if (!fs::is_regular_file(unpacker, ec))
    return problem(std::string("no ") + kUnpackerName + ": looked for " + unpacker.string() +
                   (a.unpacker.empty() ? " (give one with --unpacker FILE)" : ""));
  std::string kind = not_a_32bit_windows_program(unpacker.string());
  if (!kind.empty() && !a.any_setup)
    return problem(unpacker.string() + ": " + kind + "; the one file needs a 32-bit Windows program");
  if (same_name(resolved_path(unpacker.string().c_str()), file_real))
    return problem(std::string("FILE ") + a.file + " is the unpacker the one file is made of");
  std::printf("== check %s\n", a.package);
  std::fflush(stdout);
  if (run_check(a.package, a.folder.c_str(), a.any_setup) != 0)
    return problem(std::string("PACKAGE_DIR ") + a.package + ": check finds it unfit to ship (above): no one file is made");
  TreeListing listing;
  std::string source = std::string(a.package) + "\\source";
  if (!list_tree(source.c_str(), &listing, false)) return problem(shown_path(source.c_str()) + ": cannot be listed");
  long unpack = one_file_budget(listing);
  if (unpack < unpack_budget::folder_chars) return problem(std::string("PACKAGE_DIR ") + a.package + ": " + one_file_shortfall(unpack));
  catch_stops();
  OneFileJob job;
  job.package = a.package;
  job.unpacker = unpacker.string();
  job.file = file_real;
  job.sign = a.sign;
  job.any_program = a.any_setup;
  int status = write_one_file(job);
  std::fflush(stdout);
  if (status != 0) {
    std::fprintf(stderr, "pkgtree: nothing replaced: %s is as it was\n", a.file);
    return status;
  }
  std::printf("== ready to ship: %s (one file)\n", file_real.c_str());
  return report_written(0);
}
