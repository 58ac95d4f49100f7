// Message composition never runs past its buffer and keeps a path's end.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/text.h"

TEST(ComposeMessage, FitsWholeOrShortensThePathFromItsStart) {
  char out[256];
  compose_message(out, sizeof out, "Open source file ", "C:\\a\\b", ": No such file or directory");
  EXPECT_STREQ(out, "Open source file C:\\a\\b: No such file or directory");

  std::string path = "C:\\" + std::string(300, 'x') + "\\name.txt";
  compose_message(out, sizeof out, "Write to destination file ", path.c_str(), ": Disk full");
  std::string text = out;
  EXPECT_EQ(text.size(), 255u);
  EXPECT_EQ(text.rfind("Write to destination file ...", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 20), "\\name.txt: Disk full");

  char tiny[6];
  compose_message(tiny, sizeof tiny, "Prefix that is long", "path", "suffix");
  EXPECT_STREQ(tiny, "Prefi");
}

TEST(JoinText, RefusesWhatDoesNotFit) {
  char out[8];
  EXPECT_TRUE(join_text(out, sizeof out, "ab", "\\", "cdef"));
  EXPECT_STREQ(out, "ab\\cdef");
  EXPECT_FALSE(join_text(out, sizeof out, "ab", "\\", "cdefg"));
  EXPECT_STREQ(out, "");
}
