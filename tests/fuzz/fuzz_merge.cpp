// merge_value_list on any two lists, against a merge written out here from
// the rules: the new value unchanged, then ';' and each existing item that
// equals no new item (ASCII letters without case), in its order; nothing
// else. The result must also fit the size callers give it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "integration/environment.h"

namespace {

// The texts between the ';'s; an empty text has none, and a ';' at the
// very end starts no item.
std::vector<std::string> items_of(const std::string& list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    items.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return items;
}

bool same_item(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  if (split == std::string::npos) return 0;
  std::string existing = input.substr(0, split);
  std::string fresh = input.substr(split + 1);
  fresh = fresh.substr(0, std::strlen(fresh.c_str()));
  // Exactly the size promised to callers, so AddressSanitizer sees any overrun.
  std::vector<char> merged(existing.size() + fresh.size() + 2);
  merge_value_list(existing.c_str(), fresh.c_str(), merged.data());

  std::string expected = fresh;
  std::vector<std::string> fresh_items = items_of(fresh);
  for (const std::string& item : items_of(existing)) {
    bool dropped = false;
    for (const std::string& f : fresh_items) dropped = dropped || same_item(item, f);
    if (!dropped) expected += ";" + item;
  }
  if (std::string(merged.data()) != expected) std::abort();

  // Item ends step by two over each separator and never report past the end.
  for (int32_t start = 0; start <= static_cast<int32_t>(existing.size()) + 1;) {
    int32_t end = list_item_end(existing.c_str(), start);
    if (end == kNoListItem) break;
    if (end < start - 1 || end >= static_cast<int32_t>(existing.size())) std::abort();
    start = end + 2;
  }
  return 0;
}
