// pkgtree's parts: the tree actions on every core, verify, check, and the
// helpers they share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/install_state.h"

struct Options {
  bool verbose = false;  // -v: each destination path on standard output
  bool quiet = false;    // -q: no progress line
  unsigned jobs = 1;     // -j: threads that write files
};

// compress, expand or copy SOURCE into DESTINATION: 0, or 1 after a failure.
int run_tree(CopyMode mode, const char* source, const char* destination, const Options& options);
// Every package file one whole bzip2 stream, and with `plain` the same tree.
int run_verify(const char* package, const char* plain, const Options& options);
// What the installer would do with the package's env and inf for `folder`.
int run_check(const char* package_dir, const char* folder);

// package [--setup FILE] [--folder F] PLAIN ENV INF OUT: the four steps into
// a staging folder, moved into OUT when all passed; 0, 1, 2 (usage) or 128+N.
int run_package(int count, char** args, const Options& options, const char* default_folder);

// The engine's "\"-separated path as this platform writes it.
std::string shown_path(const char* engine_path);

// True when `path` (the engine's form) names something; its size and
// whether it is a folder.
struct Entry {
  bool exists = false, folder = false;
  uint64_t size = 0, change_stamp = 0, identity = 0;
};
Entry look_up(const char* path);

// The files and folders of a tree in the engine's own walk order ("." and
// ".." left out), as paths relative to its root ("\"-separated, no leading
// separator). False when the root cannot be listed.
struct TreeListing {
  std::vector<std::string> folders, files;
  uint64_t bytes = 0;
};
bool list_tree(const char* root, TreeListing* listing, bool with_sizes);
