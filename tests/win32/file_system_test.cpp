// The engine on a real Win32 file system: what only Windows keeps and refuses.
#include <windows.h>

#include <cerrno>
#include <filesystem>

#include "engine_fixture.h"

namespace fs = std::filesystem;

namespace {

struct Times {
  FILETIME creation, access, write;
};

FILETIME file_time(uint64_t value) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(value);
  t.dwHighDateTime = static_cast<DWORD>(value >> 32);
  return t;
}

uint64_t value_of(const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

// Three distinct times per file, years apart, with sub-second parts.
Times times_for(int n) {
  const uint64_t day = 864000000000ULL;
  uint64_t base = 127000000000000000ULL + static_cast<uint64_t>(n) * 400 * day + 1234567;
  return {file_time(base), file_time(base + 900 * day + 7654321), file_time(base + 300 * day + 1111111)};
}

void set_times(const std::string& path, const Times& t) {
  HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
  ASSERT_TRUE(SetFileTime(h, &t.creation, &t.access, &t.write)) << path;
  CloseHandle(h);
}

Times get_times(const std::string& path) {
  Times t{};
  HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
  if (h == INVALID_HANDLE_VALUE) return t;
  EXPECT_TRUE(GetFileTime(h, &t.creation, &t.access, &t.write)) << path;
  CloseHandle(h);
  return t;
}

}  // namespace

TEST_F(EngineTest, PlainCopyKeepsEveryAttributeAndAllThreeTimes) {
  struct Case {
    const char* name;
    DWORD attributes;
    std::string bytes;
  };
  // Wine run by an ordinary user cannot add hidden or system to a file it has
  // just made read-only, so read-only is not combined with them here.
  const Case cases[] = {
      {"ro.txt", FILE_ATTRIBUTE_READONLY, "read only"},
      {"hidden.txt", FILE_ATTRIBUTE_HIDDEN, pattern_bytes(1000)},
      {"system.sys", FILE_ATTRIBUTE_SYSTEM, "system"},
      {"archive.txt", FILE_ATTRIBUTE_ARCHIVE, "archive"},
      {"hsa.bin", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE, pattern_bytes(261)},
      {"empty", FILE_ATTRIBUTE_HIDDEN, ""},
      {"empty-ro", FILE_ATTRIBUTE_READONLY, ""},
      {"plain.txt", FILE_ATTRIBUTE_NORMAL, "no attribute at all"},
  };
  const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  // A hidden, system folder is walked like any other.
  make_dir("src/secret");
  write("src/secret/inside.txt", "inside");
  int n = 0;
  for (const Case& c : cases) {
    write(std::string("src/") + c.name, c.bytes);
    set_times(at(std::string("src\\") + c.name), times_for(++n));
    ASSERT_TRUE(SetFileAttributesA(at(std::string("src\\") + c.name).c_str(), c.attributes)) << c.name;
  }
  ASSERT_TRUE(SetFileAttributesA(at("src\\secret").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

  install_tree(at("src").c_str(), at("dst").c_str(), static_cast<int32_t>(CopyMode::Copy), 1);

  n = 0;
  for (const Case& c : cases) {
    std::string source = at(std::string("src\\") + c.name), copy = at(std::string("dst\\") + c.name);
    DWORD attributes = GetFileAttributesA(copy.c_str());
    EXPECT_EQ(attributes, GetFileAttributesA(source.c_str())) << c.name;
    EXPECT_EQ(attributes & kept, c.attributes & kept) << c.name;
    Times want = times_for(++n), got = get_times(copy);
    // A file system without creation times (Wine's on Linux) reports one of
    // its own; the copy must report the same as its source.
    EXPECT_EQ(value_of(got.creation), value_of(get_times(source).creation)) << c.name << " creation";
    EXPECT_EQ(value_of(got.access), value_of(want.access)) << c.name << " last access";
    EXPECT_EQ(value_of(got.write), value_of(want.write)) << c.name << " last write";
    EXPECT_EQ(read(std::string("dst/") + c.name), c.bytes) << c.name;
  }
  EXPECT_EQ(read("dst/secret/inside.txt"), "inside");
  EXPECT_EQ(wizard_.files.size(), std::size(cases) + 1);
}

// Where the file system keeps creation times, the copy gets the source's.
TEST_F(EngineTest, PlainCopyKeepsTheCreationTimeWhereTheFileSystemHasOne) {
  write("src.txt", "created long ago");
  Times want = times_for(7);
  set_times(at("src.txt"), want);
  if (value_of(get_times(at("src.txt")).creation) != value_of(want.creation))
    GTEST_SKIP() << "this file system does not keep a creation time that is set";
  copy_file_plain(at("src.txt").c_str(), at("copy.txt").c_str());
  EXPECT_EQ(value_of(get_times(at("copy.txt")).creation), value_of(want.creation));
}

TEST_F(EngineTest, ReadOnlyDestinationIsRefusedAndTheSourceIsReleased) {
  write("src/f.txt", "new");
  write("dst/f.txt", "old");
  ASSERT_TRUE(SetFileAttributesA(at("dst\\f.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  FatalCall call = expect_fatal([&] { copy_file_plain(at("src\\f.txt").c_str(), at("dst\\f.txt").c_str()); });
  EXPECT_EQ(call.text, "Error: cannot open new destination file to install.");
  EXPECT_EQ(call.caption, "Error");
  EXPECT_EQ(read("dst/f.txt"), "old");
  // The source was closed before the message: nothing holds it any more.
  EXPECT_TRUE(DeleteFileA(at("src\\f.txt").c_str())) << GetLastError();

  // The stream action refuses it as well, naming the reason.
  write("src/g.bz2", "");
  compress_file(at("dst\\f.txt").c_str(), at("src\\g.bz2").c_str());
  call = expect_fatal([&] { expand_file(at("src\\g.bz2").c_str(), at("dst\\f.txt").c_str()); });
  EXPECT_EQ(call.text, "Write to destination file " + at("dst\\f.txt") + ": Permission denied");
  EXPECT_EQ(read("dst/f.txt"), "old");
}

TEST_F(EngineTest, SourceIsOpenedSharedForReadingOnly) {
  write("src.txt", "shared");
  // Another reader that lets others read does not stop the copy...
  HANDLE reader = CreateFileA(at("src.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  copy_file_plain(at("src.txt").c_str(), at("copy.txt").c_str());
  CloseHandle(reader);
  EXPECT_EQ(read("copy.txt"), "shared");

  // ...a writer does, since the copy shares the source for reading only.
  HANDLE writer = CreateFileA(at("src.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  FatalCall call = expect_fatal([&] { copy_file_plain(at("src.txt").c_str(), at("copy2.txt").c_str()); });
  CloseHandle(writer);
  EXPECT_EQ(call.text, "Error: cannot access file on installation disk.");
  EXPECT_FALSE(fs::exists(native("copy2.txt")));
}

TEST_F(EngineTest, NameInTheWayOfAFolderIsReportedWithThatName) {
  write("src/sub/f", "x");
  write("dst/sub", "a file where the folder goes");
  FatalCall call = expect_fatal([&] { install_tree(at("src").c_str(), at("dst").c_str(), 0, 1); });
  EXPECT_EQ(call.text, "Error: Cannot create subdirectory to install.");
  EXPECT_EQ(call.caption, at("dst\\sub"));
  EXPECT_EQ(read("dst/sub"), "a file where the folder goes");

  // Only the last level is ever created.
  call = expect_fatal([&] { install_tree(at("src").c_str(), at("none\\deeper").c_str(), 0, 1); });
  EXPECT_EQ(call.caption, at("none\\deeper"));
  EXPECT_FALSE(fs::exists(native("none")));
}

TEST_F(EngineTest, FailedWriteLeavesAReasonInErrno) {
  write("f.txt", "data");
  FileCopier& copier = *engine_ports().copier;
  // A handle opened for reading cannot be written through.
  FileHandle file = copier.open_source(at("f.txt").c_str());
  ASSERT_NE(file, nullptr);
  uint32_t count = 99;
  errno = 0;
  EXPECT_FALSE(copier.write(file, "x", 1, &count));
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(errno, EIO);
  copier.close(file);
  EXPECT_EQ(read("f.txt"), "data");
}
