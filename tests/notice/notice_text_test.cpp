// The notice's content: the package's own rows, the layout of the licence
// text (blocks, paragraphs, indents, widths) and its words.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "notice/notice_pane.h"

namespace {

const char* row(int r) { return notice_state().notice_lines[r]; }

bool is_blank(const char* text) { return std::strspn(text, " ") == std::strlen(text); }

int indent_of(const char* text) { return static_cast<int>(std::strspn(text, " ")); }

void rebuild() {
  notice_state() = {};
  build_notice();
}

// A paragraph: its row count and the leading spaces of each row, the last
// value standing for all further rows.
struct Paragraph {
  int rows;
  std::vector<int> indents;
};
struct Block {
  int first, last;
  std::vector<Paragraph> paragraphs;
};

Paragraph body(int rows) { return {rows, {2, 0}}; }
Paragraph item(int rows) { return {rows, {4, 7}}; }
Paragraph flush(int rows) { return {rows, {0}}; }
Paragraph sample(int rows) { return {rows, {2}}; }
Paragraph heading(int spaces) { return {1, {spaces}}; }

const std::vector<Block>& licence_blocks() {
  static const std::vector<Block> blocks = {
      {13, 14, {{2, {20, 30}}}},
      {16, 19, {flush(4)}},
      {21, 21, {heading(38)}},
      {23, 71, {body(9), body(7), body(4), body(5), body(3), body(6), body(6), body(2)}},
      {73, 75, {{3, {20, 16, 18}}}},
      {77, 95, {body(10), body(1), body(6)}},
      {97, 107, {body(7), body(3)}},
      {109, 154, {body(5), {2, {4, 8}}, item(4), item(11), body(10), body(4), body(4)}},
      {156, 194, {body(4), item(4), item(6), item(5), body(10), body(5)}},
      {196, 202, {body(7)}},
      {204, 211, {body(8)}},
      {213, 219, {body(7)}},
      {221, 251, {body(13), body(4), body(12)}},
      {253, 260, {body(8)}},
      {262, 274, {body(4), body(8)}},
      {276, 283, {body(8)}},
      {285, 285, {heading(25)}},
      {287, 300, {body(14)}},
      {302, 315, {body(14)}},
      {317, 317, {heading(14)}},
      {319, 319, {heading(7)}},
      {321, 384, {body(4), body(5), sample(3), sample(5), sample(4), sample(5),
                  {8, {0, 0, 0, 2}}, flush(5), flush(3), sample(3), sample(2), flush(6)}},
  };
  return blocks;
}

std::vector<std::string> words_of(std::istream& in) {
  std::vector<std::string> words;
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

TEST(NoticeText, PackageNoticeRows) {
  rebuild();
  EXPECT_STREQ(row(0), "");
  EXPECT_STREQ(row(1), "  This package contains free software under the terms set forth in");
  EXPECT_STREQ(row(2), "GNU GENERAL PUBLIC LICENSE, which is allowed to copy");
  EXPECT_STREQ(row(3), "and distribute.");
  EXPECT_TRUE(is_blank(row(4)));
  EXPECT_TRUE(is_blank(row(10)));
  EXPECT_TRUE(is_blank(row(12)));
  EXPECT_EQ(std::string(row(11)), std::string(79, '-'));

  // The library paragraph: five rows, the first indented 2, naming its maker.
  EXPECT_EQ(indent_of(row(5)), 2);
  std::string paragraph;
  for (int r = 5; r <= 9; ++r) {
    EXPECT_FALSE(is_blank(row(r))) << r;
    if (r > 5) {
      EXPECT_EQ(indent_of(row(r)), 0) << r;
    }
    paragraph += std::string(row(r)) + " ";
  }
  EXPECT_NE(paragraph.find("Norvexa"), std::string::npos);
  EXPECT_NE(paragraph.find("three proprietary"), std::string::npos);
  EXPECT_EQ(notice_state().library_paragraph_first, 5);
  EXPECT_EQ(notice_state().library_paragraph_last, 10);
}

TEST(NoticeText, EveryRowFitsItsSlotAndIsPrintable) {
  rebuild();
  for (int r = 0; r < kNoticeRowCount; ++r) {
    const size_t length = std::strlen(row(r));
    EXPECT_LE(length, 79u) << r;
    for (size_t i = 0; i < length; ++i)
      EXPECT_TRUE(row(r)[i] >= 32 && row(r)[i] < 127) << "row " << r << " column " << i;
  }
  for (int r = 13; r < kNoticeRowCount; ++r) EXPECT_LE(std::strlen(row(r)), 71u) << r;
  for (int r = 287; r <= 315; ++r) EXPECT_LE(std::strlen(row(r)), 47u) << r;
}

TEST(NoticeText, LicenceBlocksParagraphsAndIndents) {
  rebuild();
  const int gaps[] = {15,  20,  22,  72,  76,  96,  108, 155, 195, 203, 212,
                      220, 252, 261, 275, 284, 286, 301, 316, 318, 320};
  for (int r : gaps) EXPECT_TRUE(is_blank(row(r))) << r;

  int expected_first = 13;
  for (const Block& block : licence_blocks()) {
    EXPECT_EQ(block.first, expected_first);
    int r = block.first;
    for (size_t p = 0; p < block.paragraphs.size(); ++p) {
      if (p > 0) {
        EXPECT_TRUE(is_blank(row(r))) << "blank row expected at " << r;
        ++r;
      }
      const Paragraph& para = block.paragraphs[p];
      for (int i = 0; i < para.rows; ++i, ++r) {
        const int want = para.indents[std::min<size_t>(i, para.indents.size() - 1)];
        EXPECT_FALSE(is_blank(row(r))) << "text expected at " << r;
        EXPECT_EQ(indent_of(row(r)), want) << "row " << r << ": " << row(r);
      }
    }
    EXPECT_EQ(r - 1, block.last) << "block starting at " << block.first;
    expected_first = block.last + 2;  // one blank row between blocks
  }
  EXPECT_EQ(expected_first, kNoticeRowCount + 1);
}

TEST(NoticeText, LicenceWordsMatchThePublishedText) {
  std::ifstream published("/usr/share/common-licenses/GPL-2");
  if (!published) GTEST_SKIP() << "no copy of the licence on this machine";
  rebuild();
  std::stringstream ours;
  for (int r = 13; r < kNoticeRowCount; ++r) ours << row(r) << '\n';
  const std::vector<std::string> want = words_of(published);
  const std::vector<std::string> got = words_of(ours);
  size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
  EXPECT_EQ(got.size(), want.size());
  if (i < want.size() || i < got.size())
    ADD_FAILURE() << "first difference at word " << i << ": published \""
                  << (i < want.size() ? want[i] : "") << "\", ours \""
                  << (i < got.size() ? got[i] : "") << "\"";
}

TEST(NoticeText, BuiltOncePerProcess) {
  rebuild();
  std::strcpy(notice_state().notice_lines[0], "kept");
  build_notice();
  EXPECT_STREQ(row(0), "kept");
  EXPECT_EQ(notice_state().notice_built, 1);
}

}  // namespace
