// What "the same folder" means to pkgtree, in one place: compress, expand,
// copy, package and the link audit all compare folders this way. A path is
// resolved as the system resolves it (the current folder, links, "." and
// ".."), also when its end does not exist yet; names compare as the
// platform compares them, so on Windows "C:\Gcc" and "c:\gcc" are one.
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include "platform/win32/pkgtree_win32.h"
#else
#include <unistd.h>
#endif

#include "pkgtree.h"

namespace {

#ifdef _WIN32
bool is_separator(char c) { return c == '\\' || c == '/'; }
#else
bool is_separator(char c) { return c == '/'; }

std::string real_of(const std::string& native) {
  char* real = realpath(native.c_str(), nullptr);
  if (real == nullptr) return std::string();
  std::string out = real;
  std::free(real);
  return out;
}
#endif

}  // namespace

std::string folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool same_name(const std::string& a, const std::string& b) {
#ifdef _WIN32
  return folded(a) == folded(b);
#else
  return a == b;
#endif
}

std::string resolved_path(const char* engine_path) {
  std::string native = shown_path(engine_path);
#ifdef _WIN32
  char* full = _fullpath(nullptr, native.c_str(), 0);
  if (full == nullptr) return native;
  std::string whole = full;
  std::free(full);
  // The part that exists as the system resolves it (junctions, links, short
  // names); the rest as written.
  std::string head = whole, rest;
  for (;;) {
    std::string real = final_path_of(head);
    if (!real.empty()) {
      if (real.back() == '\\' && !rest.empty()) real.pop_back();
      whole = real + rest;
      break;
    }
    std::size_t slash = head.find_last_of('\\');
    if (slash == std::string::npos || slash + 1 >= head.size() || slash < 2) break;
    rest = head.substr(slash) + rest;
    head.resize(head[slash - 1] == ':' ? slash + 1 : slash);
  }
  // "C:\" keeps its separator; any other folder loses its last one.
  while (whole.size() > 3 && whole.back() == '\\') whole.pop_back();
  return whole;
#else
  if (native.empty() || native[0] != '/') {
    char* here = getcwd(nullptr, 0);
    native = std::string(here != nullptr ? here : ".") + "/" + native;
    std::free(here);
  }
  // The part that exists, as the system resolves it; the rest as written.
  std::vector<std::string> rest;
  std::string head = native, real;
  for (;;) {
    real = real_of(head);
    if (!real.empty() || head.empty()) break;
    std::size_t slash = head.find_last_of('/');
    if (slash == std::string::npos) break;
    rest.push_back(head.substr(slash + 1));
    head = head.substr(0, slash);
    if (head.empty()) head = "/";
    if (head == "/" && real_of(head).empty()) break;
  }
  if (real.empty()) real = "/";
  for (auto part = rest.rbegin(); part != rest.rend(); ++part) {
    if (part->empty() || *part == ".") continue;
    if (*part == "..") {
      std::size_t slash = real.find_last_of('/');
      real = slash == 0 ? "/" : real.substr(0, slash);
    } else {
      real += (real == "/" ? "" : "/") + *part;
    }
  }
  return real;
#endif
}

bool lies_within(const std::string& inner, const std::string& outer) {
  if (outer.empty() || inner.size() < outer.size() || !same_name(inner.substr(0, outer.size()), outer)) return false;
  return inner.size() == outer.size() || is_separator(outer.back()) || is_separator(inner[outer.size()]);
}

bool paths_overlap(const std::string& a, const std::string& b) { return lies_within(a, b) || lies_within(b, a); }

bool names_root(const std::string& resolved) {
  std::size_t start = resolved.size() >= 2 && resolved[1] == ':' ? 2 : 0;
  for (std::size_t i = start; i < resolved.size(); ++i)
    if (!is_separator(resolved[i])) return false;
  return true;
}
