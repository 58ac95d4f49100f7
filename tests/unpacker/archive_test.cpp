#include "unpacker/archive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/crc32.h"
#include "common/unpack_budget.h"
#include "zip_maker.h"

namespace {

using zip_maker::Item;

const std::vector<Item> kPackage = {
    {"setup.exe", "MZ the installer"}, {"env", "PATH=%s\\bin\n"}, {"inf", "sh.exe\n"},
    {"source/", ""}, {"source/bin/", ""}, {"source/bin/gcc.exe", std::string(70000, 'g') + "end"},
    {"source/empty", ""}};

std::string read_all(const std::string& file, std::size_t folder, std::string& why, unpack::Archive& archive) {
  zip_maker::Bytes bytes(file);
  if (!unpack::read_archive(bytes, folder, archive, why)) return "refused";
  std::vector<std::string> lines;
  for (const unpack::Entry& entry : archive.entries) {
    zip_maker::Text text;
    if (!entry.folder && unpack::copy_entry(bytes, entry, text, why) != unpack::Copied::Done) return "damaged";
    lines.push_back(entry.name + (entry.folder ? "/" : "") + "=" + text.text + ";");
  }
  std::sort(lines.begin(), lines.end());
  std::string listing;
  for (const std::string& line : lines) listing += line;
  return listing;
}

std::string expected_listing() {
  std::vector<std::string> lines;
  for (const Item& item : kPackage) lines.push_back(item.name + "=" + item.data + ";");
  std::sort(lines.begin(), lines.end());
  std::string listing;
  for (const std::string& line : lines) listing += line;
  return listing;
}

// The check value of CRC-32, and the same sum however the bytes are split:
// the eight-byte steps and the byte-wise tail must agree at every length.
TEST(Crc32, CheckValueAndAnySplit) {
  EXPECT_EQ(crc32_update(0, "123456789", 9), 0xCBF43926u);
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += static_cast<char>(i * 131 + (i >> 3));
  for (std::size_t cut = 0; cut <= bytes.size(); cut += 7)
    EXPECT_EQ(crc32_update(crc32_update(0, bytes.data(), cut), bytes.data() + cut, bytes.size() - cut),
              crc32_update(0, bytes.data(), bytes.size()))
        << "split at " << cut;
  EXPECT_EQ(crc32_update(0, bytes.data() + 1, 8), crc32_update(crc32_update(0, bytes.data() + 1, 3), bytes.data() + 4, 5));
}

// Plain and zip64, signed and not: the same entries come back, and a
// signature appended after the archive moves nothing.
TEST(Archive, ReadsEveryLayoutOfThePackage) {
  for (bool zip64 : {false, true})
    for (bool signed_file : {false, true}) {
      std::string file = zip_maker::archive(kPackage, zip64);
      if (signed_file) file = zip_maker::sign(file);
      std::string why;
      unpack::Archive archive;
      EXPECT_EQ(read_all(file, unpack_budget::folder_chars, why, archive), expected_listing())
          << "zip64 " << zip64 << " signed " << signed_file << ": " << why;
      EXPECT_EQ(archive.file_bytes, 70003u + 16 + 12 + 7);
      ASSERT_NE(archive.find("setup.exe"), nullptr);
      EXPECT_FALSE(archive.find("setup.exe")->folder);
      EXPECT_EQ(archive.start, 512u);
    }
}

// Any cut of the file, and a flipped byte in a file's data, is refused; the
// data's damage is found by the copy, as it is written.
TEST(Archive, RefusesTruncatedAndDamagedFiles) {
  std::string whole = zip_maker::archive(kPackage);
  std::vector<std::size_t> cuts = {0, 1, 511, 512, 1000, 50000};
  for (std::size_t cut = whole.size() - 400; cut < whole.size(); ++cut) cuts.push_back(cut);
  for (std::size_t cut : cuts) {
    std::string why;
    unpack::Archive archive;
    EXPECT_EQ(read_all(whole.substr(0, cut), unpack_budget::folder_chars, why, archive), "refused") << cut;
    EXPECT_NE(why.find("damaged"), std::string::npos) << why;
  }
  std::string flipped = whole;
  std::size_t in_gcc = flipped.find("gggg") + 1234;
  flipped[in_gcc] ^= 0x20;
  std::string why;
  unpack::Archive archive;
  EXPECT_EQ(read_all(flipped, unpack_budget::folder_chars, why, archive), "damaged");
  EXPECT_NE(why.find("\"source/bin/gcc.exe\" fails its CRC-32 check"), std::string::npos) << why;
}

// Names the installer would refuse, or that would reach outside the folder
// or collide there, refuse the whole archive before anything is written.
TEST(Archive, RefusesHostileAndCollidingNames) {
  const std::vector<std::vector<Item>> hostile = {
      {{"../evil", "x"}},
      {{"source/", ""}, {"source/../../evil", "x"}},
      {{"/evil", "x"}},
      {{"C:evil", "x"}},
      {{"a\\..\\evil", "x"}},
      {{"con.txt", "x"}},
      {{"bad\x01name", "x"}},
      {{"trailing.", "x"}},
      {{"source/", ""}, {"source//x", "x"}},
      {{std::string("nul\0byte", 8), "x"}},
      {{"source/x", "x"}},                     // no folder entry for its folder
      {{"setup.exe", "x"}, {"setup.exe/x", "x"}},  // a file used as a folder
      {{"Setup.exe", "x"}, {"setup.EXE", "y"}},    // one file on Windows
      {{"f/", "x"}},                               // a folder with data
      {{std::string(260 - unpack_budget::folder_chars - 1, 'n'), "x"}},
  };
  for (const auto& items : hostile) {
    std::string why;
    unpack::Archive archive;
    EXPECT_EQ(read_all(zip_maker::archive(items), unpack_budget::folder_chars, why, archive), "refused")
        << items.back().name;
  }
  // The longest file name that fits, exactly.
  std::string why;
  unpack::Archive archive;
  std::string longest(259 - unpack_budget::folder_chars - 1, 'n');
  EXPECT_EQ(read_all(zip_maker::archive({{longest, "x"}}), unpack_budget::folder_chars, why, archive), longest + "=x;")
      << why;
}

// What the stock tool writes, put after the stub and its offsets fixed up
// by `zip -A`, is read as the same package.
TEST(Archive, ReadsWhatTheStockZipToolWrites) {
  char folder[] = "/tmp/archive_test_XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  std::string root = folder;
  ASSERT_EQ(std::system(("mkdir -p " + root + "/pkg/source/bin").c_str()), 0);
  for (const Item& item : kPackage)
    if (item.name.back() != '/') std::ofstream(root + "/pkg/" + item.name, std::ios::binary) << item.data;
  std::ofstream(root + "/f.exe", std::ios::binary) << zip_maker::program_stub();
  std::string make = "cd " + root + "/pkg && zip -q -0 -r ../a.zip setup.exe env inf source && cat ../a.zip >> ../f.exe && zip -q -A ../f.exe";
  ASSERT_EQ(std::system(make.c_str()), 0) << "zip (Debian's package zip) is needed: " << make;
  std::ifstream in(root + "/f.exe", std::ios::binary);
  std::stringstream file;
  file << in.rdbuf();
  std::system(("rm -rf " + root).c_str());
  std::string why;
  unpack::Archive archive;
  EXPECT_EQ(read_all(file.str(), unpack_budget::folder_chars, why, archive), expected_listing()) << why;
}

}  // namespace
