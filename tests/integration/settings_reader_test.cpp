// The line reader at chunk boundaries, with the files opened in text mode.
#include <string>
#include <vector>

#include "integration/settings_reader.h"
#include "integration_fixture.h"

namespace {

class ReaderTest : public IntegrationTest {
 protected:
  // Every line of the file, read with a buffer of `capacity` bytes.
  std::vector<std::string> lines_of(const std::string& name, int32_t capacity = 1024,
                                    std::vector<int32_t>* lengths = nullptr) {
    std::FILE* file = files_.open_text(name.c_str());
    EXPECT_NE(file, nullptr);
    std::vector<std::string> lines;
    if (file == nullptr) return lines;
    SettingsLineReader reader;
    std::vector<char> out(static_cast<std::size_t>(capacity) + 1, '#');
    for (int32_t length; (length = read_line(reader, file, out.data(), capacity)) != -1;) {
      lines.emplace_back(out.data());
      if (lengths != nullptr) lengths->push_back(length);
      EXPECT_EQ(out[static_cast<std::size_t>(capacity)], '#') << "written past the buffer";
    }
    // The end is found again on every later call.
    EXPECT_EQ(read_line(reader, file, out.data(), capacity), -1);
    std::fclose(file);
    return lines;
  }
};

using Lines = std::vector<std::string>;

TEST_F(ReaderTest, EmptyFileAndLineEnds) {
  write("empty", "");
  EXPECT_EQ(lines_of("empty"), Lines{});
  write("ends", "one\ntwo\n");
  EXPECT_EQ(lines_of("ends"), (Lines{"one", "two"}));
  write("open", "one\ntwo");
  std::vector<int32_t> lengths;
  EXPECT_EQ(lines_of("open", 1024, &lengths), (Lines{"one", "two"}));
  EXPECT_EQ(lengths, (std::vector<int32_t>{3, 3}));
  write("blank", "a\n\n\nb\n");
  EXPECT_EQ(lines_of("blank"), (Lines{"a", "", "", "b"}));
}

TEST_F(ReaderTest, CarriageReturnsOnlyBeforeLineFeedsVanish) {
  write("crlf", "one\r\ntwo\rthree\r\n\r\nlast\r");
  EXPECT_EQ(lines_of("crlf"), (Lines{"one", "two\rthree", "", "last\r"}));
  // A pair split by the chunk boundary is still a pair.
  write("split", std::string(511, 'x') + "\r\nnext\n");
  EXPECT_EQ(lines_of("split"), (Lines{std::string(511, 'x'), "next"}));
}

TEST_F(ReaderTest, LinesAcrossChunkBoundaries) {
  std::string across = std::string(500, 'a') + "\n" + std::string(30, 'b') + "\n";
  write("across", across);
  EXPECT_EQ(lines_of("across"), (Lines{std::string(500, 'a'), std::string(30, 'b')}));
  // A line over several chunks, when the buffer holds it.
  std::string longer(1300, 'l');
  write("long", "x\n" + longer + "\ny\n");
  EXPECT_EQ(lines_of("long", 2048), (Lines{"x", longer, "y"}));
  // A line feed as the first character of the second chunk.
  write("edge", std::string(512, 'e') + "\nz");
  EXPECT_EQ(lines_of("edge"), (Lines{std::string(512, 'e'), "z"}));
}

TEST_F(ReaderTest, FileOfExactlyOneChunk) {
  write("full", std::string(511, 'f') + "\n");
  std::FILE* file = files_.open_text("full");
  ASSERT_NE(file, nullptr);
  SettingsLineReader reader;
  char out[600];
  EXPECT_EQ(read_line(reader, file, out, sizeof out), 511);
  EXPECT_EQ(reader.chunk_length, 512);
  EXPECT_EQ(reader.chunk_position, 512);
  EXPECT_EQ(read_line(reader, file, out, sizeof out), -1);
  EXPECT_EQ(reader.chunk_length, -1);
  EXPECT_EQ(std::string(out), std::string(511, 'f')) << "the end leaves the buffer as it was";
  std::fclose(file);
}

TEST_F(ReaderTest, ZeroByteSkipsTheRestOfItsChunk) {
  // "ab", a zero, junk to the end of the first chunk, then "cd\nef\n".
  std::string bytes = "ab";
  bytes += '\0';
  bytes += std::string(509, 'j');
  bytes += "cd\nef\n";
  write("zero", bytes);
  EXPECT_EQ(lines_of("zero"), (Lines{"abcd", "ef"}));
  // A zero as the very first byte gives an empty chunk, not the end.
  std::string first(1, '\0');
  first += std::string(511, 'j') + "ok\n";
  write("first", first);
  EXPECT_EQ(lines_of("first"), (Lines{"ok"}));
}

TEST_F(ReaderTest, OverlongLineIsCountedButNotStoredPastTheBuffer) {
  write("over", std::string(300, 'o') + "\nshort\n");
  std::vector<int32_t> lengths;
  Lines lines = lines_of("over", 256, &lengths);
  EXPECT_EQ(lengths, (std::vector<int32_t>{300, 5}));
  EXPECT_EQ(lines, (Lines{std::string(255, 'o'), "short"}));
}

TEST_F(ReaderTest, SecondFileStartsFresh) {
  // A first file left early, with a half-read chunk and no LF at its end.
  write("env", "NAME\nREG_SZ\n\\bin\n::\nmore\nlines\nunterminated");
  write("inf", "Group\n::\nItem\n");
  std::FILE* first = files_.open_text("env");
  ASSERT_NE(first, nullptr);
  SettingsLineReader env_reader;
  char out[256];
  ASSERT_EQ(read_line(env_reader, first, out, sizeof out), 4);
  std::fclose(first);
  EXPECT_EQ(lines_of("inf"), (Lines{"Group", "::", "Item"}));
}

}  // namespace
