// A NoticeSurface that records what the pane asks of the platform.
#pragma once

#include <string>
#include <vector>

#include "notice/notice_pane.h"

struct DrawnRow {
  int x;
  int y;
  std::string text;
  const char* source;  // where the pane handed the text from
};

class RecordingSurface : public NoticeSurface {
 public:
  // What the platform answers.
  int height = 290;
  bool font_fails = false;
  int bar_position = 0;
  // Set to hold the thumb lower than asked, as a bar with a page does.
  int bar_limit = 1 << 30;

  // What the pane did.
  int fonts_created = 0;
  NoticeFontSpec font_spec = {};
  int paints = 0;
  NoticeFont paint_font = nullptr;
  uint32_t paint_background = 0, paint_text = 0;
  std::vector<DrawnRow> drawn;  // of the last paint
  bool in_paint = false;
  bool drew_outside_paint = false;
  int scroll_infos = 0;
  int bar_minimum = -1, bar_maximum = -1, bar_page = -1;
  std::vector<int> positions_set;
  int repaints = 0;

  int client_height() override { return height; }

  NoticeFont create_font(const NoticeFontSpec& spec) override {
    font_spec = spec;
    if (font_fails) return nullptr;
    ++fonts_created;
    return &fonts_created;
  }

  void begin_paint(NoticeFont font, uint32_t background, uint32_t text) override {
    ++paints;
    in_paint = true;
    paint_font = font;
    paint_background = background;
    paint_text = text;
    drawn.clear();
  }

  void draw_text(int x, int y, const char* text, int length) override {
    if (!in_paint) drew_outside_paint = true;
    drawn.push_back({x, y, std::string(text, static_cast<size_t>(length)), text});
  }

  void end_paint() override { in_paint = false; }

  void set_scroll_info(int minimum, int maximum, int page, int position) override {
    ++scroll_infos;
    bar_minimum = minimum;
    bar_maximum = maximum;
    bar_page = page;
    bar_position = position < bar_limit ? position : bar_limit;
  }

  int scroll_position() override { return bar_position; }

  void set_scroll_position(int position) override {
    positions_set.push_back(position);
    bar_position = position < bar_limit ? position : bar_limit;
  }

  void repaint_now() override { ++repaints; }
};
