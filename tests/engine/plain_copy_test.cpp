// The plain copy: byte identity, attributes and times, and its failures.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <cerrno>
#include <filesystem>

#include "engine_fixture.h"

namespace fs = std::filesystem;

TEST_F(EngineTest, PlainCopyIsByteIdenticalAcrossBlockBoundaries) {
  for (std::size_t size : {0u, 1u, 259u, 260u, 261u, 520u, 100000u}) {
    std::string name = "f" + std::to_string(size);
    write("src/" + name, pattern_bytes(size, static_cast<unsigned>(size)));
    copy_file_plain(at("src\\" + name).c_str(), at("dst_" + name).c_str());
    EXPECT_EQ(read("dst_" + name), read("src/" + name)) << size;
  }
}

// POSIX attributes and times; the Windows build checks its own in tests/win32.
#ifndef _WIN32
TEST_F(EngineTest, PlainCopyKeepsReadOnlyAndTimesAndThenRefusesToOverwrite) {
  write("src/ro", "read only");
  write("src/zero", "");
  struct timespec times[2] = {{1000000000, 123456700}, {1200000000, 987654300}};
  ASSERT_EQ(utimensat(AT_FDCWD, native("src/ro").c_str(), times, 0), 0);
  ASSERT_EQ(utimensat(AT_FDCWD, native("src/zero").c_str(), times, 0), 0);
  fs::permissions(native("src/ro"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);

  install_tree(at("src").c_str(), at("dst").c_str(), 0, 1);
  for (const char* name : {"ro", "zero"}) {
    struct stat st;
    ASSERT_EQ(stat(native(std::string("dst/") + name).c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_atim.tv_nsec, 123456700);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 987654300);
  }
  EXPECT_EQ(fs::status(native("dst/ro")).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_NE(fs::status(native("dst/zero")).permissions() & fs::perms::owner_write, fs::perms::none);
  EXPECT_EQ(read("dst/zero"), "");

  // The read-only copy now stands in the way of a second plain copy.
  FatalCall call = expect_fatal([&] { install_tree(at("src").c_str(), at("dst").c_str(), 0, 1); });
  EXPECT_EQ(call.text, "Error: cannot open new destination file to install.");
  EXPECT_EQ(call.caption, "Error");
}
#endif

TEST_F(EngineTest, PlainCopyOfAMissingSourceIsReported) {
  FatalCall call = expect_fatal([&] { copy_file_plain(at("gone").c_str(), at("dst").c_str()); });
  EXPECT_EQ(call.text, "Error: cannot access file on installation disk.");
  EXPECT_EQ(call.caption, "Error");
}

namespace {

// Wraps the real copier and fails chosen calls, recording the calls that
// end a copy in their order.
class FaultyCopier : public FileCopier {
 public:
  FileCopier* real = nullptr;
  bool fail_read = false;
  std::vector<uint32_t> write_counts;  // counts to grant, in turn; 0 writes nothing
  std::vector<std::string> calls;      // attributes, times and closes
  FileHandle source = nullptr, destination = nullptr;

  FileHandle open_source(const char* p) override { return source = real->open_source(p); }
  FileHandle create_destination(const char* p) override { return destination = real->create_destination(p); }
  bool read_information(FileHandle f, FileInformation* i) override { return real->read_information(f, i); }
  bool read(FileHandle f, void* b, uint32_t s, uint32_t* c) override {
    if (fail_read) return false;
    return real->read(f, b, s, c);
  }
  bool write(FileHandle f, const void* b, uint32_t s, uint32_t* c) override {
    if (write_counts.empty()) return real->write(f, b, s, c);
    uint32_t grant = std::min(write_counts.front(), s);
    write_counts.erase(write_counts.begin());
    if (grant == 0) {
      errno = ENOSPC;
      *c = 0;
      return true;
    }
    return real->write(f, b, grant, c);
  }
  void set_attributes(const char* p, uint32_t a) override {
    calls.push_back("attributes by name");
    real->set_attributes(p, a);
  }
  void set_times(FileHandle f, const FileInformation& t) override {
    calls.push_back(f == destination ? "times of the destination" : "times of the source");
    real->set_times(f, t);
  }
  void close(FileHandle f) override {
    calls.push_back(f == source ? "close source" : f == destination ? "close destination" : "close other");
    real->close(f);
  }
};

}  // namespace

TEST_F(EngineTest, PlainCopyWritesTheRestOfABlockThenAttributesTimesAndCloses) {
  FaultyCopier copier;
  copier.real = engine_ports().copier;
  copier.write_counts = {1, 7, 100, 3};
  engine_ports().copier = &copier;
  write("src", pattern_bytes(1000));
  copy_file_plain(at("src").c_str(), at("dst").c_str());
  EXPECT_EQ(read("dst"), read("src"));
  // The attributes go by name while the destination is open, then the times
  // through its handle, before either file is closed.
  EXPECT_EQ(copier.calls, (std::vector<std::string>{"attributes by name", "times of the destination", "close source",
                                                    "close destination"}));
}

TEST_F(EngineTest, PlainCopyFailuresCloseSourceThenDestination) {
  FaultyCopier copier;
  copier.real = engine_ports().copier;
  engine_ports().copier = &copier;
  write("src", pattern_bytes(1000));

  copier.fail_read = true;
  FatalCall call = expect_fatal([&] { copy_file_plain(at("src").c_str(), at("dst").c_str()); });
  EXPECT_EQ(call.text, "Error: cannot read from installation disk.");
  const std::vector<std::string> closes = {"close source", "close destination"};
  EXPECT_EQ(copier.calls, closes);

  // A write that moves nothing ends the copy instead of repeating for ever.
  copier.fail_read = false;
  copier.calls.clear();
  copier.write_counts = {260, 0};
  call = expect_fatal([&] { copy_file_plain(at("src").c_str(), at("dst").c_str()); });
  EXPECT_EQ(call.text, "Write to destination file " + at("dst") + ": No space left on device");
  EXPECT_EQ(call.caption, "Error");
  EXPECT_EQ(copier.calls, closes);
}
