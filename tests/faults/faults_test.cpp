// Faults around whole runs of the native programs: a full disk under expand
// and plain copy, a store killed in the middle of its rewrite, and a package
// file that disappears while the walk is under way. Every wait is bounded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/test_files.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Text that compresses well, so packages stay small while files are large.
std::string header_text(std::size_t size, char tag) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) text += "#define NAME_" + std::string(1, tag) + std::to_string(i) + " 1\n";
  text.resize(size);
  return text;
}

struct Launch {
  std::vector<std::string> argv;  // argv[0] is looked up on PATH
  fs::path cwd;
  std::string input;
  std::vector<std::pair<std::string, std::string>> env;
  long long file_size_limit = -1;  // RLIMIT_FSIZE in bytes, none when negative
  bool pipe_output = false;        // standard output through a pipe, else a file
  bool hold_input = false;         // standard input a pipe left open until the end
};

struct Outcome {
  int status = -1;  // the exit status; -1 when a signal ended the process
  int signal = 0;
  std::string out, err;
  std::vector<std::string> lines;  // of standard error
  bool has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
  int count(const std::string& prefix) const {
    int n = 0;
    for (const std::string& l : lines) n += l.rfind(prefix, 0) == 0;
    return n;
  }
};

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() / ("setup-faults-" + std::to_string(getpid()) + "-" + info->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    package_ = root_ / "package";
    fs::create_directories(package_);
    write_file(package_ / "env", "PATH\nREG_EXPAND_SZ\n\\bin\n::\nLIBRARY_PATH\nREG_SZ\n\\lib\n::\n");
    write_file(package_ / "inf", "Tools\n::\n$\\bin\\gcc.exe,Compiler\n::\nTools\n");
  }
  void TearDown() override {
    if (!HasFailure()) fs::remove_all(root_);
  }

  // The plain tree, made into the package's source tree by the maintainers' tool.
  void make_package(const std::map<std::string, std::string>& files) {
    for (const auto& [name, text] : files) write_file(root_ / "plain" / name, text);
    Outcome made = run(pkgtree("compress", root_ / "plain", package_ / "source"));
    ASSERT_EQ(made.status, 0) << made.err;
  }

  // Starts the program; *output is the read end of its standard output
  // when the launch asks for a pipe.
  pid_t start(const Launch& launch, int* output = nullptr) {
    ++launches_;
    fs::path input = root_ / "input.txt";
    out_ = root_ / ("out-" + std::to_string(launches_) + ".txt");
    err_ = root_ / ("err-" + std::to_string(launches_) + ".txt");
    write_file(input, launch.input);
    int pipe_ends[2] = {-1, -1}, input_ends[2] = {-1, -1};
    if (launch.pipe_output && pipe(pipe_ends) != 0) return -1;
    if (launch.hold_input && pipe(input_ends) != 0) return -1;
    pid_t child = fork();
    if (child == 0) {
      if (!launch.cwd.empty() && chdir(launch.cwd.c_str()) != 0) _exit(120);
      if (launch.hold_input) {
        dup2(input_ends[0], 0);
        close(input_ends[0]);
        close(input_ends[1]);
      } else if (!freopen(input.c_str(), "r", stdin)) {
        _exit(121);
      }
      if (!freopen(err_.c_str(), "w", stderr)) _exit(121);
      if (launch.pipe_output) {
        dup2(pipe_ends[1], 1);
        close(pipe_ends[0]);
        close(pipe_ends[1]);
      } else if (!freopen(out_.c_str(), "w", stdout)) {
        _exit(121);
      }
      setenv("SETUP_MACHINE_REGISTRY", (root_ / "machine.reg").c_str(), 1);
      setenv("SETUP_USER_REGISTRY", (root_ / "user.reg").c_str(), 1);
      unsetenv("SETUP_PROGMAN");
      for (const auto& [name, value] : launch.env) setenv(name.c_str(), value.c_str(), 1);
      if (launch.file_size_limit >= 0) {
        // A write past the limit then fails with EFBIG instead of ending the process.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {static_cast<rlim_t>(launch.file_size_limit),
                               static_cast<rlim_t>(launch.file_size_limit)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(123);
      }
      std::vector<char*> argv;
      for (const std::string& a : launch.argv) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(122);
    }
    if (launch.hold_input) {
      close(input_ends[0]);
      if (write(input_ends[1], launch.input.data(), launch.input.size()) !=
          static_cast<ssize_t>(launch.input.size()))
        ADD_FAILURE() << "the script did not go through";
      held_input_ = input_ends[1];
    }
    if (launch.pipe_output) {
      close(pipe_ends[1]);
      if (output != nullptr) *output = pipe_ends[0];
      else close(pipe_ends[0]);
    }
    return child;
  }

  // Waits for the end, killing the process when it overstays.
  Outcome finish(pid_t child, std::chrono::seconds limit = std::chrono::seconds(60)) {
    Outcome result;
    auto deadline = Clock::now() + limit;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
        ADD_FAILURE() << "the run did not end";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (held_input_ >= 0) close(held_input_);
    held_input_ = -1;
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.out = read_file(out_);
    result.err = read_file(err_);
    std::istringstream lines(result.err);
    for (std::string line; std::getline(lines, line);) result.lines.push_back(line);
    return result;
  }

  Outcome run(const Launch& launch) { return finish(start(launch)); }

  Launch setup(const fs::path& destination) const {
    Launch launch;
    launch.argv = {SETUP_PATH};
    launch.cwd = package_;
    launch.input = "click 1\ntype " + destination.string() + "\nclick 5\nclick 7\n";
    return launch;
  }

  Launch pkgtree(const std::string& action, const fs::path& source, const fs::path& destination) const {
    Launch launch;
    launch.argv = {PKGTREE_PATH, action, source.string(), destination.string()};
    return launch;
  }

  fs::path root_, package_, out_, err_;
  int launches_ = 0;
  int held_input_ = -1;
};

// --- A full disk ------------------------------------------------------------

constexpr long long kFileSizeLimit = 64 * 1024;
const std::string kBigFile = header_text(300000, 'b');

TEST_F(FaultTest, AFullDiskStopsTheInstallerBeforeTheClosingPage) {
  make_package({{"bin/gcc.exe", "compiler bytes\n"}, {"lib/libbig.a", kBigFile}});
  fs::path destination = root_ / "dest";
  Launch launch = setup(destination);
  launch.file_size_limit = kFileSizeLimit;
  Outcome r = run(launch);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.has("[Error] Write to destination file " + destination.string() + "\\lib\\libbig.a: File too large"))
      << r.err;
  EXPECT_EQ(r.count("paint 5"), 0);
  EXPECT_EQ(r.count("create 7 "), 0);
  EXPECT_EQ(r.count("execute "), 0);
  EXPECT_FALSE(fs::exists(root_ / "machine.reg"));
  EXPECT_FALSE(fs::exists(root_ / "user.reg"));
}

TEST_F(FaultTest, AFullDiskFailsPkgtreeUnderPlainCopyAndExpand) {
  make_package({{"bin/gcc.exe", "compiler bytes\n"}, {"lib/libbig.a", kBigFile}});
  struct Case {
    const char* action;
    fs::path source;
  } cases[] = {{"copy", root_ / "plain"}, {"expand", package_ / "source"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    fs::path destination = root_ / (std::string(c.action) + "-out");
    Launch launch = pkgtree(c.action, c.source, destination);
    launch.file_size_limit = kFileSizeLimit;
    Outcome r = run(launch);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pkgtree: Write to destination file " + destination.string() +
                         "/lib/libbig.a: File too large\n");
    // What the full disk cut short is not left to pass for the file.
    EXPECT_FALSE(fs::exists(destination / "lib" / "libbig.a"));
  }
}

// A real full disk: a small in-memory file system, mounted in a mount
// namespace of the program's own so that nothing outlives it. Needs the
// right to make namespaces and mount (root in CI).
TEST_F(FaultTest, NoSpaceLeftOnASmallFileSystem) {
  fs::path mount_point = root_ / "small";
  fs::create_directories(mount_point);
  const std::string mount = "mount -t tmpfs -o size=128k none \"$1\" || exit 125; shift; exec \"$@\"";
  Launch probe;
  probe.argv = {"unshare", "-m", "sh", "-c", mount, "sh", mount_point.string(), "true"};
  Outcome probed = run(probe);
  if (probed.status != 0) GTEST_SKIP() << "no small file system can be mounted here: " << probed.err;

  make_package({{"bin/gcc.exe", "compiler bytes\n"}, {"lib/libbig.a", kBigFile}});
  fs::path destination = mount_point / "gcc";
  Launch installer = setup(destination);
  installer.argv = {"unshare", "-m", "sh", "-c", mount, "sh", mount_point.string(), SETUP_PATH};
  Outcome r = run(installer);
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.has("[Error] Write to destination file " + destination.string() +
                    "\\lib\\libbig.a: No space left on device"))
      << r.err;
  EXPECT_EQ(r.count("paint 5"), 0);
  EXPECT_EQ(r.count("create 7 "), 0);

  Launch copy = pkgtree("copy", root_ / "plain", mount_point / "copy");
  // One job: with two, the small file may be the one that meets the full disk.
  copy.argv.insert(copy.argv.begin() + 1, {"-j", "1"});
  copy.argv.insert(copy.argv.begin(), {"unshare", "-m", "sh", "-c", mount, "sh", mount_point.string()});
  Outcome c = run(copy);
  EXPECT_EQ(c.status, 1);
  EXPECT_EQ(c.err, "pkgtree: Write to destination file " + (mount_point / "copy").string() +
                       "/lib/libbig.a: No space left on device\n");
}

// --- An input that stays open -------------------------------------------------

// Driven from a pipe or a terminal that stays open, the program still ends
// when a button ends it: the script reader's wait for a line holds nothing
// the end needs.
TEST_F(FaultTest, TheProgramEndsWhileItsInputStaysOpen) {
  make_package({{"bin/gcc.exe", "compiler bytes\n"}});
  const std::string install = setup(root_ / "dest").input;
  for (const std::string& script : {install, std::string("click 2\n"), std::string("click 1\nclick 6\n")}) {
    SCOPED_TRACE(script);
    Launch launch = setup(root_ / "dest");
    launch.input = script;
    launch.hold_input = true;
    Outcome r = finish(start(launch), std::chrono::seconds(20));
    EXPECT_EQ(r.status, 0);
  }
  EXPECT_TRUE(fs::exists(root_ / "dest" / "bin" / "gcc.exe"));
}

// --- A store killed in the middle of its rewrite ----------------------------

// An existing PATH of a few kilobytes, as hex(2) bytes, among other values
// and keys that must come through untouched.
std::string machine_store_before(std::size_t path_size = 3000) {
  std::string path;
  for (int i = 0; path.size() < path_size; ++i) path += "C:\\Program Files\\Tool " + std::to_string(i) + "\\bin;";
  path += "C:\\Windows";
  std::string hex;
  for (unsigned char c : path + std::string(1, '\0')) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x,", c);
    hex += byte;
  }
  hex.pop_back();
  return "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Before]\n\"Kept\"=\"as it was\"\n\n"
         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment]\n"
         "\"OS\"=\"Windows_NT\"\n\"PATH\"=hex(2):" + hex + "\n\"TEMP\"=\"C:\\\\Temp\"\n\n"
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\After]\n\"Also\"=dword:00000001\n";
}

// The store's rewrite meets a full disk: it stays as it was, and the user's
// key takes the settings, as when the machine key cannot be written.
TEST_F(FaultTest, AFullDiskDuringTheStoreRewriteLeavesItAsItWas) {
  make_package({{"bin/gcc.exe", "compiler bytes\n"}});
  const std::string before = machine_store_before(12000);
  ASSERT_GT(before.size(), 32000u);
  write_file(root_ / "machine.reg", before);
  Launch launch = setup(root_ / "dest");
  launch.file_size_limit = 24 * 1024;
  Outcome r = run(launch);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(root_ / "machine.reg"), before);
  for (const fs::directory_entry& e : fs::directory_iterator(root_))
    EXPECT_EQ(e.path().filename().string().find(".tmp."), std::string::npos) << e.path();
  EXPECT_NE(read_file(root_ / "user.reg").find("\"LIBRARY_PATH\"=\"" + (root_ / "dest").string() + "\\\\lib\""),
            std::string::npos);
  struct passwd* user = getpwuid(getuid());
  ASSERT_NE(user, nullptr);
  EXPECT_TRUE(r.has("text 35 232 GCC have been configured for the user, " + std::string(user->pw_name) + "."))
      << r.err;
}

// The env writer alone, 200 times from the moment its write starts; then the
// whole installer, 40 times anywhere in its run.
TEST_F(FaultTest, AStoreKilledMidWriteIsWholeBeforeOrAfterEachChange) {
  make_package({{"bin/gcc.exe", "compiler bytes\n"}});
  write_file(package_ / "env",
             "PATH\nREG_EXPAND_SZ\n\\bin;\\libexec;\\mingw\\bin\n::\n"
             "LIBRARY_PATH\nREG_SZ\n\\lib;\\lib\\gcc\n::\n"
             "C_INCLUDE_PATH\nREG_SZ\n\\include\n::\n"
             "INFOPATH\nREG_EXPAND_SZ\n\\share\\info\n::\n"
             "GCC_ROOT\nREG_SZ\n\\\n::\n");
  const std::string folder = (root_ / "dest").string();  // as the installer is given it too
  const fs::path store = root_ / "machine.reg";
  // Two starting points: a store with other keys and a long PATH, and none.
  struct Start {
    bool exists;
    std::string text;
    std::vector<std::string> states;  // every whole state of an uninterrupted run
    long long microseconds = 0;       // the longest uninterrupted write
  } starts[] = {{true, machine_store_before(), {}, 0}, {false, "", {}, 0}};

  auto reset = [&](const Start& s) {
    for (const fs::directory_entry& e : fs::directory_iterator(root_))
      if (e.path().filename().string().rfind("machine.reg.tmp.", 0) == 0) fs::remove(e.path());
    fs::remove(store);
    if (s.exists) write_file(store, s.text);
  };
  auto store_state = [&]() { return fs::exists(store) ? read_file(store) : std::string("(none)"); };

  for (Start& s : starts) {
    reset(s);
    fs::path snapshots = root_ / "snapshots";
    fs::remove_all(snapshots);
    fs::create_directories(snapshots);
    s.states.push_back(store_state());
    Launch launch;
    launch.argv = {ENV_WRITER_PATH, folder, snapshots.string()};
    launch.cwd = package_;
    Outcome r = run(launch);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(r.out.rfind("ready\nresult 1 ", 0), 0u) << r.out;
    for (int i = 0; fs::exists(snapshots / (std::to_string(i) + ".reg")); ++i)
      s.states.push_back(read_file(snapshots / (std::to_string(i) + ".reg")));
    // The key's opening (which writes a new store) and each of the five variables.
    ASSERT_EQ(s.states.size(), 7u);
    EXPECT_NE(s.states.back().find("\"GCC_ROOT\"=\"" + folder + "\\\\\""), std::string::npos);
    if (s.exists) {
      EXPECT_NE(s.states.back().find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\After]\n\"Also\"=dword:00000001\n"),
                std::string::npos);
    }
    launch.argv = {ENV_WRITER_PATH, folder};
    for (int i = 0; i < 3; ++i) {
      reset(s);
      Outcome plain = run(launch);
      ASSERT_EQ(plain.status, 0);
      ASSERT_EQ(plain.out.rfind("ready\nresult 1 ", 0), 0u) << plain.out;
      s.microseconds = std::max(s.microseconds, std::atoll(plain.out.c_str() + 15));
      ASSERT_TRUE(store_state() == s.states.back());
    }
  }

  // Kills at random moments over the whole write, with a fixed seed.
  std::mt19937 random(20261208);
  int killed = 0, finished = 0, left_temporary = 0;
  std::map<std::size_t, int> landed;  // index of the state found -> runs
  auto started = Clock::now();
  for (int run_number = 0; run_number < 200; ++run_number) {
    const Start& s = starts[run_number % 2];
    reset(s);
    Launch launch;
    launch.argv = {ENV_WRITER_PATH, folder};
    launch.cwd = package_;
    launch.pipe_output = true;
    int output = -1;
    pid_t child = start(launch, &output);
    ASSERT_GT(child, 0);
    // The write starts when the program says "ready".
    std::string said;
    auto deadline = Clock::now() + std::chrono::seconds(20);
    while (said.find('\n') == std::string::npos && Clock::now() < deadline) {
      struct pollfd p = {output, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buffer[64];
      ssize_t n = read(output, buffer, sizeof buffer);
      if (n <= 0) break;
      said.append(buffer, static_cast<std::size_t>(n));
    }
    ASSERT_EQ(said.rfind("ready\n", 0), 0u) << said;
    std::uniform_int_distribution<long long> delay(0, s.microseconds + s.microseconds / 4);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    kill(child, SIGKILL);
    close(output);
    Outcome r = finish(child);
    if (r.signal == SIGKILL) ++killed;
    else ++finished;
    for (const fs::directory_entry& e : fs::directory_iterator(root_))
      left_temporary += e.path().filename().string().rfind("machine.reg.tmp.", 0) == 0;

    std::string state = store_state();
    auto found = std::find(s.states.begin(), s.states.end(), state);
    ASSERT_NE(found, s.states.end()) << "run " << run_number << " left a damaged store:\n" << state;
    ++landed[static_cast<std::size_t>(found - s.states.begin())];
    ASSERT_FALSE(fs::exists(root_ / "user.reg"));
  }
  // The installer itself, killed anywhere in its whole run.
  const Start& s = starts[0];
  long long whole_run = 0;  // microseconds
  for (int i = 0; i < 2; ++i) {
    reset(s);
    auto begun = Clock::now();
    Outcome r = run(setup(folder));
    whole_run = std::max<long long>(
        whole_run, std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begun).count());
    ASSERT_EQ(r.status, 0);
    ASSERT_TRUE(store_state() == s.states.back()) << r.err;
  }
  int installers_killed = 0;
  for (int run_number = 0; run_number < 40; ++run_number) {
    reset(s);
    pid_t child = start(setup(folder));
    ASSERT_GT(child, 0);
    std::uniform_int_distribution<long long> delay(0, whole_run);
    std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    kill(child, SIGKILL);
    installers_killed += finish(child).signal == SIGKILL;
    std::string state = store_state();
    auto found = std::find(s.states.begin(), s.states.end(), state);
    ASSERT_NE(found, s.states.end()) << "installer run " << run_number << " left a damaged store:\n" << state;
    ++landed[static_cast<std::size_t>(found - s.states.begin())];
    ASSERT_FALSE(fs::exists(root_ / "user.reg"));
  }

  auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
  std::ostringstream summary;
  summary << killed << " killed, " << finished << " finished first, " << left_temporary
          << " left a temporary file; state reached (0 = before):";
  for (const auto& [index, runs] : landed) summary << " " << index << "x" << runs;
  summary << "; " << installers_killed << " of 40 installers killed; " << spent.count()
          << " ms; longest writes " << starts[0].microseconds << " and " << starts[1].microseconds
          << " us, whole installer run " << whole_run << " us";
  std::cout << summary.str() << "\n";
  RecordProperty("kills", summary.str());
  // Runs that were all over before the kill would have tested nothing.
  EXPECT_GT(killed, 50) << summary.str();
}

// --- A package file gone during the walk -------------------------------------

// Every destination file is a FIFO: the program's first file blocks once the
// pipe is full, while this test holds the other end unread. A later file of
// the same folder (already listed) is then removed from the package, and its
// FIFO, so that the program meets the name without the file.
struct Removal {
  std::string victim;      // the removed file's name
  Outcome outcome;
  bool destination_empty = false;  // the victim's destination, a plain empty file
};

class RemovalTest : public FaultTest {
 protected:
  Removal remove_during_walk(Launch launch, const fs::path& destination) {
    Removal removal;
    const std::vector<std::string> names = {"a.h", "b.h", "c.h", "d.h", "e.h"};
    std::map<std::string, std::string> files;
    for (const std::string& n : names) files["include/" + n] = header_text(200000, n[0]);
    make_package(files);
    fs::create_directories(destination / "include");
    for (const std::string& n : names) mkfifo((destination / "include" / n).c_str(), 0644);

    pid_t child = start(launch);
    std::map<std::string, int> readers;
    for (const std::string& n : names)
      readers[n] = open((destination / "include" / n).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);

    // The first file written is the one whose FIFO holds data.
    std::string first;
    auto deadline = Clock::now() + std::chrono::seconds(30);
    while (first.empty() && Clock::now() < deadline) {
      for (const auto& [name, fd] : readers) {
        struct pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, 0) > 0 && (p.revents & POLLIN)) first = name;
      }
      if (first.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (first.empty()) {
      ADD_FAILURE() << "no file was ever written";
    } else {
      removal.victim = first == names.back() ? names.front() : names.back();
      fs::remove(package_ / "source" / "include" / removal.victim);
      close(readers[removal.victim]);
      readers.erase(removal.victim);
      fs::remove(destination / "include" / removal.victim);
    }
    // Drains what the program writes until it ends (left unreaped for finish()).
    deadline = Clock::now() + std::chrono::seconds(60);
    auto running = [child] {
      siginfo_t info = {};
      return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
    };
    while (running() && Clock::now() < deadline) {
      for (auto it = readers.begin(); it != readers.end();) {
        char buffer[65536];
        ssize_t n = read(it->second, buffer, sizeof buffer);
        struct pollfd p = {it->second, POLLIN, 0};
        bool hung_up = n == 0 && poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
        if (hung_up) {
          close(it->second);
          it = readers.erase(it);
        } else {
          ++it;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (const auto& [name, fd] : readers) close(fd);
    removal.outcome = finish(child);
    fs::path victim_destination = destination / "include" / removal.victim;
    removal.destination_empty = fs::is_regular_file(victim_destination) && fs::file_size(victim_destination) == 0;
    return removal;
  }
};

TEST_F(RemovalTest, TheInstallerNamesAPackageFileRemovedDuringTheWalk) {
  fs::path destination = root_ / "dest";
  Removal removal = remove_during_walk(setup(destination), destination);
  const Outcome& r = removal.outcome;
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(r.has("[Error] Open source file .\\source\\include\\" + removal.victim +
                    ": No such file or directory"))
      << r.err;
  EXPECT_TRUE(removal.destination_empty);
  EXPECT_EQ(r.count("paint 5"), 0);
  EXPECT_FALSE(fs::exists(root_ / "machine.reg"));
}

TEST_F(RemovalTest, PkgtreeNamesAPackageFileRemovedDuringTheWalk) {
  fs::path destination = root_ / "out";
  // One job: the files are written one after the other, as the installer does.
  Launch launch = pkgtree("expand", package_ / "source", destination);
  launch.argv.insert(launch.argv.begin() + 1, {"-j", "1"});
  Removal removal = remove_during_walk(launch, destination);
  EXPECT_EQ(removal.outcome.status, 1);
  EXPECT_EQ(removal.outcome.err, "pkgtree: Open source file " + (package_ / "source").string() +
                                     "/include/" + removal.victim + ": No such file or directory\n");
  // Unlike the installer, pkgtree removes the empty file it made for it.
  EXPECT_FALSE(fs::exists(destination / "include" / removal.victim));
}

}  // namespace
