// The bzip2 stream actions: round trips, damaged data, open and write failures.
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "engine_fixture.h"

namespace fs = std::filesystem;

TEST_F(EngineTest, CompressThenExpandGivesBackTheSameTree) {
  write("plain/bin/gcc.exe", pattern_bytes(70000));
  write("plain/empty.txt", "");
  write("plain/.hidden", "dot file");
  write("plain/big.bin", std::string(2000000, 'a') + pattern_bytes(5000));
  make_dir("plain/lib/nothing");
  install_tree(at("plain").c_str(), at("pkg").c_str(), 1, 0);
  install_tree(at("pkg").c_str(), at("out").c_str(), 2, 0);
  int files = 0;
  for (auto& entry : fs::recursive_directory_iterator(native("plain"))) {
    std::string rel = fs::relative(entry.path(), native("plain")).string();
    if (entry.is_directory()) {
      EXPECT_TRUE(fs::is_directory(native("out/" + rel))) << rel;
      continue;
    }
    ++files;
    EXPECT_EQ(read("out/" + rel), read("plain/" + rel)) << rel;
    EXPECT_NE(read("pkg/" + rel), read("plain/" + rel)) << rel << " is stored compressed";
  }
  EXPECT_EQ(files, 4);
}

// The stock tool is a native program.
#ifndef _WIN32
namespace {

int run(const std::string& command) { return std::system(command.c_str()); }

}  // namespace

TEST_F(EngineTest, PackagesAgreeWithTheStockBzip2Tool) {
  write("plain", pattern_bytes(10000) + std::string(10000, 'z'));
  compress_file(at("plain").c_str(), at("ours.bz2").c_str());
  ASSERT_EQ(run("bzip2 -dc '" + native("ours.bz2").string() + "' > '" + native("theirs").string() + "'"), 0);
  EXPECT_EQ(read("theirs"), read("plain"));

  ASSERT_EQ(run("bzip2 -9c '" + native("plain").string() + "' > '" + native("tool.bz2").string() + "'"), 0);
  expand_file(at("tool.bz2").c_str(), at("expanded").c_str());
  EXPECT_EQ(read("expanded"), read("plain"));
}
#endif

TEST_F(EngineTest, OnlyTheFirstOfTwoStreamsIsExpanded) {
  write("a", "first stream");
  write("b", "second stream");
  compress_file(at("a").c_str(), at("a.bz2").c_str());
  compress_file(at("b").c_str(), at("b.bz2").c_str());
  write("both.bz2", read("a.bz2") + read("b.bz2"));
  expand_file(at("both.bz2").c_str(), at("out").c_str());
  EXPECT_EQ(read("out"), "first stream");
}

TEST_F(EngineTest, DamagedPackageFilesAreReportedNotInstalledSilently) {
  write("plain", pattern_bytes(50000));
  compress_file(at("plain").c_str(), at("good.bz2").c_str());
  std::string good = read("good.bz2");
  std::string flipped = good;
  flipped[good.size() / 2] ^= 0x40;
  const std::pair<const char*, std::string> cases[] = {
      {"zero-length", ""},
      {"not bzip2", "just some plain text\n"},
      {"cut short", good.substr(0, good.size() - 30)},
      {"failed check", flipped},
  };
  for (const auto& [what, bytes] : cases) {
    write("bad.bz2", bytes);
    FatalCall call = expect_fatal([&] { expand_file(at("bad.bz2").c_str(), at("out").c_str()); });
    EXPECT_EQ(call.text, "Damaged package file " + at("bad.bz2") + ": it is not a complete bzip2 stream.") << what;
    EXPECT_EQ(call.caption, "Error") << what;
  }
  // Empty plain data is a complete stream and a valid, empty package file.
  write("empty", "");
  compress_file(at("empty").c_str(), at("empty.bz2").c_str());
  EXPECT_GT(read("empty.bz2").size(), 0u);
  expand_file(at("empty.bz2").c_str(), at("empty.out").c_str());
  EXPECT_TRUE(fs::exists(native("empty.out")));
  EXPECT_EQ(read("empty.out"), "");
}

TEST_F(EngineTest, OpenFailuresNameTheFileAndTheReason) {
  FatalCall call = expect_fatal([&] { expand_file(at("missing.bz2").c_str(), at("left").c_str()); });
  EXPECT_EQ(call.text, "Open source file " + at("missing.bz2") + ": No such file or directory");
  EXPECT_EQ(call.caption, "Error");
  EXPECT_TRUE(fs::exists(native("left"))) << "the destination is created first and stays, empty";

  write("plain", "data");
  write("blocker", "a file where a folder should be");
  call = expect_fatal([&] { compress_file(at("plain").c_str(), at("blocker\\x.bz2").c_str()); });
#ifdef _WIN32
  const char* not_a_folder = ": No such file or directory";  // Windows finds no such path
#else
  const char* not_a_folder = ": Not a directory";
#endif
  EXPECT_EQ(call.text, "Write to destination file " + at("blocker\\x.bz2") + not_a_folder);

  call = expect_fatal([&] { compress_file(at("missing").c_str(), at("x.bz2").c_str()); });
  EXPECT_EQ(call.text, "Open source file " + at("missing") + ": No such file or directory");

  compress_file(at("plain").c_str(), at("p.bz2").c_str());
  write("readonly", "old");
  fs::permissions(native("readonly"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  call = expect_fatal([&] { expand_file(at("p.bz2").c_str(), at("readonly").c_str()); });
  EXPECT_EQ(call.text, "Write to destination file " + at("readonly") + ": Permission denied");
  EXPECT_EQ(read("readonly"), "old");
}

// A read error made by a stream of the C library's own (glibc), natively.
#ifndef _WIN32
namespace {

// The real source's first bytes, then a read error; removal of the package
// file may be refused.
class FailingReadStreams : public StreamOpener {
 public:
  StreamOpener* real = nullptr;
  bool refuse_removal = false;
  std::FILE* open_plain(const char* path, const char* mode) override {
    std::FILE* file = real->open_plain(path, mode);
    if (file == nullptr || std::strcmp(mode, "rb") != 0) return file;
    cookie_io_functions_t io = {read_a_little, nullptr, nullptr, close_real};
    return fopencookie(new Cookie{file, 10}, "rb", io);
  }
  void* open_compressed(const char* path, const char* mode) override { return real->open_compressed(path, mode); }
  bool remove_file(const char* path) override {
    if (!refuse_removal) return real->remove_file(path);
    errno = EACCES;
    return false;
  }

 private:
  struct Cookie {
    std::FILE* file;
    std::size_t left;
  };
  static ssize_t read_a_little(void* c, char* buffer, std::size_t size) {
    Cookie* cookie = static_cast<Cookie*>(c);
    if (cookie->left == 0) {
      errno = EIO;
      return -1;
    }
    std::size_t n = std::fread(buffer, 1, std::min(size, cookie->left), cookie->file);
    cookie->left -= n;
    return static_cast<ssize_t>(n);
  }
  static int close_real(void* c) {
    Cookie* cookie = static_cast<Cookie*>(c);
    std::fclose(cookie->file);
    delete cookie;
    return 0;
  }
};

}  // namespace

TEST_F(EngineTest, CompressLeavesNoPackageFileAfterAReadError) {
  FailingReadStreams streams;
  streams.real = engine_ports().streams;
  engine_ports().streams = &streams;
  write("plain", pattern_bytes(10000));
  FatalCall call = expect_fatal([&] { compress_file(at("plain").c_str(), at("plain.bz2").c_str()); });
  EXPECT_EQ(call.text, "Read source file " + at("plain") + ": Input/output error");
  EXPECT_EQ(call.caption, "Error");
  EXPECT_FALSE(fs::exists(native("plain.bz2")));

  // When the file cannot go, the message says so and names both files,
  // however long their paths.
  streams.refuse_removal = true;
  std::string source = std::string(200, 's') + "/plain", package = std::string(200, 'p') + "/plain.bz2";
  write(source, pattern_bytes(10000));
  make_dir(std::string(200, 'p'));
  call = expect_fatal([&] { compress_file(at(source).c_str(), at(package).c_str()); });
  EXPECT_LE(call.text.size(), 255u);
  EXPECT_EQ(call.text.rfind("Read source file ...", 0), 0u) << call.text;
  EXPECT_NE(call.text.find("s\\plain: Input/output error; could not remove the incomplete package file ..."),
            std::string::npos)
      << call.text;
  EXPECT_EQ(call.text.substr(call.text.size() - 10), "\\plain.bz2");
}
#endif

// A file size limit exists only natively.
#ifndef _WIN32
// A full disk, made real by a file size limit in a child process. The real
// reporter shows the box (a line on standard error) and ends with status 0.
class FullDiskTest : public EngineTest {
 protected:
  void run_limited(int mode) {
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {100000, 100000};
    setrlimit(RLIMIT_FSIZE, &limit);
    static MessageBoxFatalReporter real;
    engine_ports().fatal = &real;
    install_tree(at("src").c_str(), at("dst").c_str(), mode, 0);
    std::exit(3);  // not reached when the failure is seen
  }
};

TEST_F(FullDiskTest, EveryActionReportsTheWriteThatDidNotFit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  write("src/big", pattern_bytes(300000));
  EXPECT_EXIT(run_limited(0), ::testing::ExitedWithCode(0),
              "\\[Error\\] Write to destination file .*big: File too large");
  EXPECT_EXIT(run_limited(1), ::testing::ExitedWithCode(0),
              "\\[Error\\] Write to destination file .*big: File too large");
  fs::remove_all(native("dst"));
  write("plain/big", pattern_bytes(300000));
  install_tree(at("plain").c_str(), at("src").c_str(), 1, 0);
  EXPECT_EXIT(run_limited(2), ::testing::ExitedWithCode(0),
              "\\[Error\\] Write to destination file .*big: File too large");
}

// Expanded data is gathered before it is written: a file that the disk
// cannot hold but the gathering can must still fail, when it is closed.
TEST_F(FullDiskTest, ExpandReportsAFullDiskFoundOnlyAtTheClose) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  write("plain/medium", pattern_bytes(150000));
  install_tree(at("plain").c_str(), at("src").c_str(), 1, 0);
  EXPECT_EXIT(run_limited(2), ::testing::ExitedWithCode(0),
              "\\[Error\\] Write to destination file .*medium: File too large");
}
#endif
