// package: from a plain tree, env and inf to a package ready to ship in one
// call (compress, setup.exe, env and inf beside it, verify, check). The
// package is made in a staging folder beside OUT and moved into place only
// when every step has passed, so a failed or interrupted run leaves OUT as it
// was, and the maker's own files (the tree, env, inf, an earlier package) are
// never the ones replaced.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#else
#include <atomic>

#include "platform/win32/pkgtree_win32.h"
#endif

#include "common/unpack_budget.h"
#include "platform/platform.h"
#include "pkgtree.h"
#include "progress.h"
#include "sign.h"

namespace fs = std::filesystem;

namespace {

// The only names of OUT a run replaces.
const char* const kNames[] = {"source", "setup.exe", "env", "inf"};

int problem(const std::string& text) {
  std::fprintf(stderr, "pkgtree: %s\n", text.c_str());
  return 1;
}

bool write_whole(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

// package's own options, after the verb. A new option is one row below.
struct Arguments {
  std::string setup, folder = kDefaultFolder, sign, unpacker;
  bool any_setup = false, uninstaller = false, one_file = false;
  const char* plain = nullptr;
  const char* env = nullptr;
  const char* inf = nullptr;
  const char* out = nullptr;
};

struct ValueOption {
  const char* name;
  const char* value;  // what it names, for the message when it is missing
  std::string Arguments::*field;
};
const ValueOption kValueOptions[] = {
    {"--setup", "FILE", &Arguments::setup},
    {"--folder", "FOLDER", &Arguments::folder},
    {"--sign", "COMMAND", &Arguments::sign},
    {"--unpacker", "FILE", &Arguments::unpacker},
};
struct FlagOption {
  const char* name;
  bool Arguments::*field;
};
const FlagOption kFlagOptions[] = {
    {"--any-setup", &Arguments::any_setup},
    {"--uninstaller", &Arguments::uninstaller},
    {"--one-file", &Arguments::one_file},
};

// Empty when the arguments are taken, else what is wrong with them.
std::string parse(int count, char** args, Arguments* a) {
  int i = 0;
  bool ended = false;
  while (i < count && args[i][0] == '-' && !ended) {
    std::string option = args[i];
    ++i;
    if (option == "--") {
      ended = true;
      continue;
    }
    bool known = false;
    for (const ValueOption& o : kValueOptions)
      if (option == o.name) {
        if (i >= count || args[i][0] == '\0') return option + " needs a " + o.value;
        a->*o.field = args[i++];
        known = true;
      }
    for (const FlagOption& o : kFlagOptions)
      if (option == o.name) a->*o.field = known = true;
    if (known) continue;
    if (option == "-v" || option == "-q" || option.compare(0, 2, "-j") == 0)
      return "options stand before the verb: \"" + option + "\"";
    return "unknown option of package \"" + option + "\"";
  }
  if (count - i != 4) {
    for (int k = i; k < count && !ended; ++k)
      if (args[k][0] == '-') return "package's options stand before its operands: \"" + std::string(args[k]) + "\"";
    return "package takes 4 operands, PLAIN ENV INF OUT, not " + std::to_string(count - i);
  }
  a->plain = args[i];
  a->env = args[i + 1];
  a->inf = args[i + 2];
  a->out = args[i + 3];
  return std::string();
}

struct Steps {
  std::string plain, source, stage, folder;
  std::string sign;  // --sign: the maker's command, empty for none
  bool any_setup = false;  // a setup.exe 32-bit Windows cannot start is only a warning
  bool uninstaller = false;  // --uninstaller: its files wait in the staging folder
  Options options;
};

// The package's own steps, each stopping the run at its first problem.
int run_steps(const Steps& s) {
  // The staging folder's copies are signed before uninstall.exe is listed
  // and compressed, so that its list holds the signed file's CRC.
  std::string why;
  if (!s.sign.empty() && !sign_in_place(s.sign, (fs::path(s.stage) / "setup.exe").string(), "setup.exe", &why))
    return problem(why);
  if (!s.sign.empty() && s.uninstaller &&
      !sign_in_place(s.sign, staged_uninstaller(s.stage).string(), "uninstall.exe", &why))
    return problem(why);
  std::printf("== compressing %s into %s (%u jobs)\n", s.plain.c_str(), s.source.c_str(), s.options.jobs);
  std::fflush(stdout);
  double started = seconds_now();
  int status = run_tree(CopyMode::Compress, s.plain.c_str(), s.source.c_str(), s.options);
  if (status != 0) return status;
  std::printf("compressed in %.1f s\n== verify %s against %s\n", seconds_now() - started, s.source.c_str(),
              s.plain.c_str());
  std::fflush(stdout);
  if ((status = run_verify(s.source.c_str(), s.plain.c_str(), s.options)) != 0) return status;
  if (s.uninstaller && (status = add_uninstaller(s.plain, s.stage, s.options)) != 0) return status;
  std::printf("== check %s\n", s.stage.c_str());
  std::fflush(stdout);
  return run_check(s.stage.c_str(), s.folder.c_str(), s.any_setup);
}

#ifndef _WIN32
volatile sig_atomic_t g_signal = 0;
volatile pid_t g_child = 0;

void on_signal(int number) {
  g_signal = number;
  if (g_child > 0) kill(g_child, number);
}

// The steps run in a child process: whatever ends it (a failure, which ends
// the process at once, a signal, a crash), this process is left to remove
// the staging folder. An interrupt is passed on and counted as 128 + signal.
int in_child(const Steps& steps) {
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  for (int number : signals) sigaction(number, &action, nullptr);
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t child = fork();
  if (child < 0) return problem(std::string("cannot start the steps: ") + std::strerror(errno));
  if (child == 0) {
    action.sa_handler = SIG_DFL;
    for (int number : signals) sigaction(number, &action, nullptr);
    if (g_signal != 0) _exit(128 + g_signal);
    int status = run_steps(steps);
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
  }
  g_child = child;
  if (g_signal != 0) kill(child, g_signal);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  g_child = 0;
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  int code = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  return code == 0 && g_signal != 0 ? 128 + g_signal : code;
}
#else
std::atomic<bool> g_interrupted{false};

void on_interrupt(bool) { g_interrupted.store(true); }

// The steps run in this program started again with the hidden verb: whatever
// ends that process (a failure, which ends it at once, Ctrl-C, a crash),
// this one is left to remove the staging folder. Ctrl-C and Ctrl-Break reach
// both through the console: the child removes its files under way, this one
// waits for it and counts the stop as 130. The handler stays to the end, so
// that a late Ctrl-C cannot cut the move into place short.
int in_child(const Steps& steps) {
  catch_console_interrupts(on_interrupt);
  std::vector<std::string> arguments;
  if (steps.options.verbose) arguments.push_back("-v");
  if (steps.options.quiet) arguments.push_back("-q");
  arguments.insert(arguments.end(), {"-j", std::to_string(steps.options.jobs), kStepsVerb, steps.plain, steps.source,
                                     steps.stage, steps.folder, steps.any_setup ? "1" : "0",
                                     steps.uninstaller ? "1" : "0"});
  if (!steps.sign.empty()) arguments.push_back(steps.sign);
  if (g_interrupted.load()) return 130;
  unsigned long code = 1;
  std::string why;
  if (!run_own_program(arguments, &code, &why)) return problem("cannot start the steps: " + why);
  if (code == kEndedByConsoleInterrupt) return 130;
  if (code > 255) {
    char text[64];
    std::snprintf(text, sizeof text, "the steps ended abnormally (code 0x%08lX)", code);
    return problem(text);
  }
  return code == 0 && g_interrupted.load() ? 130 : static_cast<int>(code);
}

// What Windows says for a failed rename, as an error code's message.
class WindowsErrors : public std::error_category {
 public:
  const char* name() const noexcept override { return "windows"; }
  std::string message(int code) const override { return error_text(static_cast<unsigned long>(code)); }
};
#endif

// A rename of the package's own names. On Windows a virus scanner may hold a
// new file for a moment: that refusal is tried again for a few seconds.
void rename_entry(const fs::path& from, const fs::path& to, std::error_code& ec) {
#ifdef _WIN32
  static WindowsErrors windows_errors;
  unsigned long error = 0;
  if (rename_path(from.c_str(), to.c_str(), &error)) ec.clear();
  else ec.assign(static_cast<int>(error), windows_errors);
#else
  fs::rename(from, to, ec);
#endif
}

// OUT's four names replaced by the staging folder's; on any failure the
// ones already moved go back, so OUT is either the old package or the new.
bool move_into_place(const fs::path& stage, const fs::path& out, std::string* why) {
  std::error_code ec;
  if (!fs::exists(out, ec)) {
    rename_entry(stage, out, ec);
    if (ec) *why = ec.message();
    return !ec;
  }
  fs::path old = stage / ".replaced";
  fs::create_directory(old, ec);
  int moved_old[4] = {}, moved_new[4] = {};
  for (int i = 0; i < 4 && !ec; ++i) {
    if (fs::symlink_status(out / kNames[i], ec).type() != fs::file_type::not_found) {
      rename_entry(out / kNames[i], old / kNames[i], ec);
      if (ec) break;
      moved_old[i] = 1;
    }
    ec.clear();
    rename_entry(stage / kNames[i], out / kNames[i], ec);
    if (!ec) moved_new[i] = 1;
  }
  if (!ec) return true;
  *why = ec.message();
  for (int i = 3; i >= 0; --i) {
    std::error_code back;
    if (moved_new[i]) rename_entry(out / kNames[i], stage / kNames[i], back);
    if (moved_old[i]) rename_entry(old / kNames[i], out / kNames[i], back);
  }
  return false;
}

}  // namespace

bool read_whole(const fs::path& path, std::string* bytes) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.is_open() && !in.bad();
}


// setup.exe of the data folder pkgtree was installed with: beside
// pkgtree.exe on Windows, ../share/gcc-setup/ of its bin folder elsewhere.
fs::path installed_setup() {
  fs::path program = own_program_path();
  if (program.empty()) return fs::path("setup.exe");
#ifdef _WIN32
  return program.parent_path() / "setup.exe";
#else
  return program.parent_path().parent_path() / "share" / "gcc-setup" / "setup.exe";
#endif
}

#ifndef _WIN32
int stop_requested() { return g_signal != 0 ? 128 + g_signal : 0; }

void catch_stops() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
}

bool replace_file(const fs::path& from, const fs::path& to, std::string* why) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (ec) *why = ec.message();
  return !ec;
}
#else
int stop_requested() { return g_interrupted.load() ? 130 : 0; }

void catch_stops() { catch_console_interrupts(on_interrupt); }

bool replace_file(const fs::path& from, const fs::path& to, std::string* why) {
  unsigned long error = 0;
  if (rename_path(from.c_str(), to.c_str(), &error, 5000, true)) return true;
  *why = error_text(error);
  return false;
}
#endif

#ifdef _WIN32
int run_package_steps(int count, char** args, const Options& options) {
  if (count != 6 && count != 7) {
    std::fprintf(stderr, "pkgtree: %s takes 6 or 7 operands, not %d\n", kStepsVerb, count);
    return 2;
  }
  Steps steps;
  steps.plain = args[0];
  steps.source = args[1];
  steps.stage = args[2];
  steps.folder = args[3];
  steps.any_setup = std::strcmp(args[4], "1") == 0;
  steps.uninstaller = std::strcmp(args[5], "1") == 0;
  if (count == 7) steps.sign = args[6];
  steps.options = options;
  steps.options.install_folder = steps.folder;
  int status = run_steps(steps);
  std::fflush(stdout);
  std::fflush(stderr);
  return status;
}
#endif

int run_package(int count, char** args, const Options& options) {
  Arguments a;
  std::string why = parse(count, args, &a);
  if (!why.empty()) return usage_error(why);
  if (!a.sign.empty() && !names_the_file(a.sign)) return usage_error("--sign's COMMAND holds no {} to stand for the file to sign");
  if (!operand_given("PLAIN", a.plain) || !operand_given("OUT", a.out)) return 2;
  if (*a.env == '\0' || *a.inf == '\0') {
    std::fprintf(stderr, "pkgtree: the %s is empty: it names no file\n", *a.env == '\0' ? "ENV" : "INF");
    return 2;
  }
  Steps steps;
  steps.options = options;
  steps.options.install_folder = steps.folder = a.folder;
  steps.any_setup = a.any_setup;
  steps.sign = a.sign;
  const char* plain = a.plain;
  const char* env = a.env;
  const char* inf = a.inf;
  const char* out_arg = a.out;
  engine_ports() = platform_engine_ports();

  // Everything is checked and read before anything is made.
  std::error_code ec;
  if (!fs::is_directory(plain, ec)) return problem(std::string("PLAIN ") + plain + ": not a folder");
  TreeListing listing;
  if (!list_tree(plain, &listing, false)) return problem(std::string("PLAIN ") + plain + ": cannot be listed");
  if (listing.files.empty()) return problem(std::string("PLAIN ") + plain + " holds no file: the package would install nothing");
  std::string plain_real = resolved_path(plain), out_real = resolved_path(out_arg);
  if (names_root(out_real)) return problem(std::string("OUT ") + out_arg + ": a root cannot be the package folder");
  if (lies_within(plain_real, out_real))
    return problem(std::string("PLAIN ") + plain + " lies inside OUT " + out_arg + ": making the package would replace it");
  if (lies_within(out_real, plain_real))
    return problem(std::string("OUT ") + out_arg + " lies inside PLAIN " + plain + ": the package would be part of its own tree");
  fs::path out = out_real;
  if (!a.one_file && fs::exists(out, ec) && !fs::is_directory(out, ec))
    return problem(std::string("OUT ") + out_arg + ": not a folder");
  if (a.one_file && fs::is_directory(out, ec))
    return problem(std::string("OUT ") + out_arg + ": a folder; with --one-file OUT names the program to write");
  if (a.one_file) {
    // The unpacker's budget, from the tree as the package will hold it.
    TreeListing held = listing;
    if (a.uninstaller) held.files.insert(held.files.end(), {"uninstall.exe", "uninstall.lst"});
    long unpack = one_file_budget(held);
    if (unpack < unpack_budget::folder_chars) return problem(std::string("PLAIN ") + plain + ": " + one_file_shortfall(unpack));
  }
  // What compress would refuse (names, links, paths too long for FOLDER),
  // found before there is a staging folder to remove.
  std::size_t files = 0;
  if (!sound_tree(CopyMode::Compress, plain, out_arg, steps.options, &files)) return 1;
  std::string env_bytes, inf_bytes, setup_bytes;
  if (!read_whole(env, &env_bytes)) return problem(std::string("ENV ") + env + ": not a file that can be read");
  if (!read_whole(inf, &inf_bytes)) return problem(std::string("INF ") + inf + ": not a file that can be read");
  fs::path setup = a.setup.empty() ? installed_setup() : fs::path(a.setup);
  if (!read_whole(setup, &setup_bytes))
    return problem("no setup.exe: looked for " + setup.string() + (a.setup.empty() ? " (give one with --setup FILE)" : ""));
  std::string kind = not_a_32bit_windows_program(setup.string());
  if (!kind.empty() && !a.any_setup)
    return problem("setup.exe " + setup.string() + ": " + kind + "; the package needs a 32-bit Windows program");
  if (!kind.empty())
    std::fprintf(stderr, "pkgtree: warning: setup.exe %s: %s, taken as --any-setup asks: a package to test, not to ship\n",
                 setup.string().c_str(), kind.c_str());
  fs::path unpacker = a.unpacker.empty() ? setup.parent_path() / kUnpackerName : fs::path(a.unpacker);
  if (a.one_file) {
    std::error_code missing;
    if (!fs::is_regular_file(unpacker, missing))
      return problem(std::string("no ") + kUnpackerName + ": looked for " + unpacker.string() +
                     (a.unpacker.empty() ? " (beside setup.exe; give one with --unpacker FILE)" : ""));
    std::string unpacker_kind = not_a_32bit_windows_program(unpacker.string());
    if (!unpacker_kind.empty() && !a.any_setup)
      return problem(unpacker.string() + ": " + unpacker_kind + "; the one file needs a 32-bit Windows program");
    // The one file replaces OUT whole: never one of the files it is made of.
    for (const std::string& input : {std::string(env), std::string(inf), setup.string(), unpacker.string()})
      if (same_name(resolved_path(input.c_str()), out_real))
        return problem(std::string("OUT ") + out_arg + " is " + input + ", which the one file is made of");
  }
  UninstallerPart uninstaller;
  if (a.uninstaller && !prepare_uninstaller(setup, env_bytes, inf_bytes, a.any_setup, &uninstaller, &why))
    return problem(why);
  steps.uninstaller = a.uninstaller;

  fs::path parent = out.parent_path();
  fs::create_directories(parent, ec);
  if (ec) return problem(parent.string() + ": cannot be made: " + ec.message());
  fs::path stage;
  for (int n = 0; n < 1000 && stage.empty(); ++n) {
    fs::path candidate = parent / (out.filename().string() + ".pkgtree-" + std::to_string(n));
    if (fs::create_directory(candidate, ec)) stage = candidate;
    else if (ec) return problem(candidate.string() + ": cannot be made: " + ec.message());
  }
  if (stage.empty()) return problem("no free name for a staging folder beside " + out.string());
  steps.plain = plain;
  steps.stage = stage.string();
  steps.source = (stage / "source").string();

  int status = 0;
  if (!write_whole(stage / "setup.exe", setup_bytes) || !write_whole(stage / "env", env_bytes) ||
      !write_whole(stage / "inf", a.uninstaller ? uninstaller.inf : inf_bytes)) {
    status = problem(stage.string() + ": cannot write setup.exe, env and inf into it");
  } else if (a.uninstaller && !stage_uninstaller(stage, uninstaller)) {
    status = problem(stage.string() + ": cannot write uninstall.exe into it");
  } else {
    status = in_child(steps);
  }
  why.clear();
  if (status == 0 && a.one_file) {
    OneFileJob job;
    job.package = stage.string();
    job.unpacker = unpacker.string();
    job.file = out.string();
    job.sign = a.sign;
    job.any_program = a.any_setup;
    status = write_one_file(job);
  } else if (status == 0 && !move_into_place(stage, out, &why)) {
    status = problem("cannot move the package into " + out.string() + ": " + why);
  }
  fs::remove_all(stage, ec);
  std::fflush(stdout);
  if (status != 0) {
    std::fprintf(stderr, "pkgtree: nothing replaced: %s is as it was\n", out_arg);
    return status;
  }
  if (a.one_file)
    std::printf("== ready to ship: %s (one file)\n"
                "The user starts it; it unpacks the package into a folder of its own and starts setup.exe there.\n",
                out.string().c_str());
  else
    std::printf("== ready to ship: %s (setup.exe, source, env, inf)\n"
                "The user starts setup.exe in that folder; it installs the tree above and sets what check printed.\n",
                out.string().c_str());
  std::fflush(stdout);
  return 0;
}
