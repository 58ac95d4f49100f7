// merge_value_list on any two lists: the result fits the size callers give
// it, starts with the new value, and keeps every existing item it drops an
// equal of nowhere else.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "integration/environment.h"

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
  std::string result = merged.data();
  if (result.compare(0, fresh.size(), fresh) != 0) std::abort();
  if (result.size() > existing.size() + fresh.size() + 1) std::abort();

  // Item ends step by two over each separator and never report past the end.
  for (int32_t start = 0; start <= static_cast<int32_t>(existing.size()) + 1;) {
    int32_t end = list_item_end(existing.c_str(), start);
    if (end == kNoListItem) break;
    if (end < start - 1 || end >= static_cast<int32_t>(existing.size())) std::abort();
    start = end + 2;
  }
  return 0;
}
