// pkgtree's parts: the tree actions on every core, verify, check, and the
// helpers they share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/install_state.h"

// The longest paths Windows takes: a file's 259 characters, a folder's 247
// (CreateDirectoryA keeps room for an 8.3 name below it).
constexpr std::size_t kLongestFile = kPathBufferSize - 1, kLongestFolder = kPathBufferSize - 13;
// Where a user installs unless they choose otherwise.
constexpr char kDefaultFolder[] = "c:\\program files\\gcc";

struct Options {
  bool verbose = false;  // -v: each destination path on standard output
  bool quiet = false;    // -q: no progress line
  unsigned jobs = 1;     // -j: threads that write files
  // compress: every path below the package root must fit under this folder.
  std::string install_folder = kDefaultFolder;
};

// compress, expand or copy SOURCE into DESTINATION: 0; 1 after a failure
// or a refusal (nothing is made for a refusal); 2 for an empty operand;
// 130, 143 or 129 after SIGINT, SIGTERM or SIGHUP, once the files under way
// are removed.
int run_tree(CopyMode mode, const char* source, const char* destination, const Options& options);
// What compress, expand or copy refuse before they make anything, each
// finding on its own line on standard error: the operands, then the tree's
// entries, and for compress every path too long to install under the
// options' folder. True when the run may go on; `files` is the count.
bool sound_tree(CopyMode mode, const char* source, const char* destination, const Options& options,
                std::size_t* files);
// Every package file one whole bzip2 stream, and with `plain` the same tree.
int run_verify(const char* package, const char* plain, const Options& options);
// What the installer would do with the package's env and inf for `folder`.
// A setup.exe that 32-bit Windows cannot start is a problem, or with
// `any_setup` a warning.
int run_check(const char* package_dir, const char* folder, bool any_setup);
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
  // When set: every path below the root must still fit, as a file or a
  // folder, when the tree is installed under this folder.
  std::string install_folder;
};
// Looks at every entry of the tree the engine's walk would take, and
// returns the number of files. Natively a link to a file counts as the
// file; a link to a folder is followed unless it leads into a folder the
// walk is in (or one above it) or into keep_out; a link that cannot be
// followed (with the reason), a FIFO, socket or device is a finding.
std::size_t audit_tree(const char* root, const AuditRules& rules, std::vector<Finding>* findings);
// "The same folder", one meaning for every verb: a path as the system
// resolves it (the current folder, links, "." and ".."), also when its end
// does not exist yet, in the platform's own form; names compared as the
// platform compares them (on Windows ASCII letters in either case).
std::string resolved_path(const char* engine_path);
bool same_name(const std::string& a, const std::string& b);
// Of two resolved paths: `inner` is `outer` or lies below it; one of the
// two holds the other; the path names a root ("/", "C:").
bool lies_within(const std::string& inner, const std::string& outer);
bool paths_overlap(const std::string& a, const std::string& b);
bool names_root(const std::string& resolved);
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

// package [OPTIONS] PLAIN ENV INF OUT: the steps into a staging folder,
// moved into OUT when all passed; 0, 1, 2 (usage) or 128+N.
int run_package(int count, char** args, const Options& options);

// What is wrong with the command line, then the usage, on standard error;
// returns 2.
int usage_error(const std::string& why);

// Why the file at `native_path` is not a program 32-bit Windows starts (a
// PE image for the i386 machine, 0x14c, that is not a DLL); empty when it is.
std::string not_a_32bit_windows_program(const std::string& native_path);
// Why the file at `native_path` carries no signature: no certificate table,
// or one that does not lie within the file; empty when it carries one.
std::string unsigned_because(const std::string& native_path);
#ifdef _WIN32
// On Windows `package` runs its steps in this program started again with a
// verb the usage does not name: PLAIN SOURCE STAGE FOLDER ANY_SETUP UNINSTALLER
// [SIGN_COMMAND].
constexpr char kStepsVerb[] = "package-steps";
int run_package_steps(int count, char** args, const Options& options);
#endif

// package --uninstaller, before anything is made: uninstall.exe from beside
// `setup` and the package's inf with the item that starts it. False, with
// the reason, when there is no uninstall.exe (or, unless `any_program`, it
// is no 32-bit Windows program), env is one the installer would not take, or
// inf makes no group or one whose name makes the item longer than an inf line.
struct UninstallerPart {
  std::string program, inf, group;
};
bool prepare_uninstaller(const std::filesystem::path& setup, const std::string& env_bytes,
                         const std::string& inf_bytes, bool any_program, UninstallerPart* part, std::string* why);
// uninstall.exe into the staging folder, where the steps find it; false
// when it cannot be written.
bool stage_uninstaller(const std::filesystem::path& stage, const UninstallerPart& part);
// Where it waits there, to be signed and listed.
std::filesystem::path staged_uninstaller(const std::filesystem::path& stage);
// A step after the package's source is verified: the list of `plain`,
// uninstall.exe and STAGE's env and inf, then both files compressed,
// verified and moved into STAGE/source; 0, else the failing step's status.
int add_uninstaller(const std::string& plain, const std::string& stage, const Options& options);

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
  // Both in the walk's order: which of the two, and the index in it.
  struct Step {
    bool folder;
    std::size_t index;
  };
  std::vector<Step> order;
};
bool list_tree(const char* root, TreeListing* listing, bool with_sizes);

// The longest folder a package whose source lists as `listing` may be
// unpacked in (check's figure), and why a one file cannot hold it when that
// is under the unpacker's folder.
long unpack_folder_budget(const TreeListing& listing);
// The same for a one file, whose unpacker makes each folder too.
long one_file_budget(const TreeListing& listing);
std::string one_file_shortfall(long unpack);
// The user whose temporary folder the one file's budget is counted for.
constexpr int kUserNameChars = 20;

// The one file: the unpacker, then the package folder's setup.exe, env, inf
// and source as a zip archive of stored entries. Written into a staging file
// beside `file`, signed last with `sign` (after the unpacker, signed alone,
// lost its own certificate table: a program holds one, at its end), read
// back whole, then renamed over `file`. 0, else 1 (or 128+N when stopped)
// with the reason on standard error and `file` as it was.
struct OneFileJob {
  std::string package;   // the package folder, the engine's form
  std::string unpacker;  // the platform's form
  std::string file;      // the platform's form
  std::string sign;      // the maker's command, empty for none
  bool any_program = false;  // an unpacker 32-bit Windows cannot start is taken
};
int write_one_file(const OneFileJob& job);
// bundle [--sign COMMAND] [--unpacker FILE] [--folder FOLDER] [--any-setup] PACKAGE_DIR FILE.
int run_bundle(int count, char** args);
// Where pkgtree's data folder keeps setup.exe (and uninstall.exe and
// unpacker.exe beside it).
std::filesystem::path installed_setup();
constexpr char kUnpackerName[] = "unpacker.exe";
// Is `path` a file (not a folder): a one file to read, for check and verify.
bool names_a_file(const char* path);
// check and verify of a one file: its archive read whole, every entry's
// CRC-32 checked, unpacked into a new temporary folder that is removed after.
int run_check_one_file(const char* file, const char* folder);
// The one file at `native_path` read as the unpacker reads it: the archive
// found after the program, every entry's name, path and CRC-32; false with
// the reason.
bool read_back_one_file(const std::string& native_path, std::string* why);
int run_verify_one_file(const char* file, const char* plain, const Options& options);
// check of a package folder shown as `shown_as`; `one_file`: the one file's
// budget is a problem when missed.
int run_check_as(const char* package_dir, const char* shown_as, const char* folder, bool any_setup, bool one_file);

// A stop asked for by a signal or the console (128+N), 0 while none was;
// catch_stops() makes SIGINT, SIGTERM and SIGHUP (Ctrl-C) ask for one.
int stop_requested();
void catch_stops();
// A file read whole; false when it is no plain file or cannot be read.
bool read_whole(const std::filesystem::path& path, std::string* bytes);
// A rename over an existing file, tried again while a scanner holds it.
bool replace_file(const std::filesystem::path& from, const std::filesystem::path& to, std::string* why);
