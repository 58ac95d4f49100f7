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

// compress, expand or copy SOURCE into DESTINATION: 0; 1 after a failure
// or a refusal (nothing is made for a refusal); 2 for an empty operand;
// 130 or 143 after SIGINT or SIGTERM, once the files under way are removed.
int run_tree(CopyMode mode, const char* source, const char* destination, const Options& options);
// Every package file one whole bzip2 stream, and with `plain` the same tree.
int run_verify(const char* package, const char* plain, const Options& options);
// What the installer would do with the package's env and inf for `folder`.
int run_check(const char* package_dir, const char* folder);
// All three: 1 when all was well but the report could not be written.

// Something in a tree that harms the run or the package: with its path as
// the platform writes it. A warning does not fail the run.
struct Finding {
  std::string path, what;
  bool warning = false;
  bool about_name = false;  // else the entry cannot be walked safely
};
struct AuditRules {
  bool windows_names = false;  // case twins, endings Windows drops, refused names
  std::string keep_out;        // resolved destination: a followed link must not reach it
};
// Looks at every entry of the tree the engine's walk would take, and
// returns the number of files. Natively a link to a file counts as the
// file; a link to a folder is followed unless it leads back up or into
// keep_out; a link that leads nowhere, a FIFO, socket or device is a finding.
std::size_t audit_tree(const char* root, const AuditRules& rules, std::vector<Finding>* findings);
// The folder as the system resolves it (links, "." and ".."), also when it
// does not exist yet; and whether one of two such paths holds the other.
std::string resolved_path(const char* engine_path);
bool paths_overlap(const std::string& a, const std::string& b);
// ASCII letters in lower case: names as Windows compares them.
std::string folded(std::string text);

// Shared ends of the verbs. False, with the reason, for an empty operand.
bool operand_given(const char* role, const char* text);
// `status`, or 1 with the reason when standard output lost some of it.
int report_written(int status);
// Standard input, output and error kept open (a closed one is held by a
// read-only stand-in), so that no file the run opens can take their place.
void guard_standard_streams();
// The signal that stopped run_tree (SIGINT, SIGTERM), 0 while none did.
int run_interrupted();

// package [--setup FILE] [--folder F] PLAIN ENV INF OUT: the four steps into
// a staging folder, moved into OUT when all passed; 0, 1, 2 (usage) or 128+N.
int run_package(int count, char** args, const Options& options, const char* default_folder);
#ifdef _WIN32
// On Windows `package` runs its steps in this program started again with a
// verb the usage does not name: PLAIN SOURCE STAGE FOLDER.
constexpr char kStepsVerb[] = "package-steps";
int run_package_steps(int count, char** args, const Options& options);
#endif

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
