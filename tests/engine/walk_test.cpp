// The tree walk: order, what it creates, what it skips, how it fails.
#include <algorithm>
#include <filesystem>

#include "engine_fixture.h"

namespace fs = std::filesystem;

namespace {

// A listing in a fixed order, for what the walk must do with each entry.
class ScriptedLister : public DirectoryLister {
 public:
  struct Entry {
    std::string name;
    bool directory;
  };
  std::vector<std::pair<std::string, std::vector<Entry>>> folders;  // pattern -> entries
  DirectoryLister* real = nullptr;

  // A failure leaves its search open, as the process would end then.
  ~ScriptedLister() override {
    for (void* cursor : open_) delete static_cast<Cursor*>(cursor);
  }
  SearchHandle find_first(const char* pattern, FindRecord* record) override {
    for (auto& folder : folders)
      if (folder.first == pattern) {
        auto* cursor = new Cursor{&folder.second, 0};
        if (!deliver(cursor, record)) {
          find_close(cursor);
          return nullptr;
        }
        return cursor;
      }
    return real->find_first(pattern, record);
  }
  bool find_next(SearchHandle h, FindRecord* record) override {
    if (!is_ours(h)) return real->find_next(h, record);
    return deliver(static_cast<Cursor*>(h), record);
  }
  void find_close(SearchHandle h) override {
    if (!is_ours(h)) return real->find_close(h);
    open_.erase(std::find(open_.begin(), open_.end(), h));
    delete static_cast<Cursor*>(h);
  }

 private:
  struct Cursor {
    std::vector<Entry>* entries;
    std::size_t next;
  };
  std::vector<void*> open_;
  bool is_ours(SearchHandle h) const { return std::find(open_.begin(), open_.end(), h) != open_.end(); }
  bool deliver(Cursor* cursor, FindRecord* record) {
    if (std::find(open_.begin(), open_.end(), cursor) == open_.end()) open_.push_back(cursor);
    if (cursor->next == cursor->entries->size()) return false;
    const Entry& e = (*cursor->entries)[cursor->next++];
    std::snprintf(record->name, sizeof record->name, "%s", e.name.c_str());
    record->attributes = e.directory ? kAttributeDirectory : 0x20;
    return true;
  }
};

}  // namespace

TEST_F(EngineTest, WalkIsPreOrderInTheListingsOwnOrderAndSkipsDotEntries) {
  write("src/b", "");
  write("src/a", "");
  write("src/sub/x", "");
  write("src/c", "");
  ScriptedLister lister;
  lister.real = engine_ports().lister;
  lister.folders = {
      {at("src") + "\\*", {{"b", false}, {".", true}, {"sub", true}, {"..", true}, {"a", false}, {"c", false}}},
      {at("src\\sub") + "\\*", {{"..", true}, {"x", false}, {".", true}}},
  };
  engine_ports().lister = &lister;
  install_tree(at("src").c_str(), at("dst").c_str(), static_cast<int>(CopyMode::Copy), 1);
  std::vector<std::string> expected = {at("dst\\b"), at("dst\\sub\\x"), at("dst\\a"), at("dst\\c")};
  EXPECT_EQ(wizard_.files, expected);
  EXPECT_TRUE(fs::is_regular_file(native("dst/sub/x")));
}

// Natively a file name may hold "\", and every other character Windows
// refuses in a name: joined into a path, such a name would reach outside the
// destination. Each is refused, naming it, before anything is made for it.
TEST_F(EngineTest, NamesThatAreNotOneWindowsEntryAreRefusedBeforeAnythingIsMade) {
  FatalCall call;
#ifndef _WIN32
  write("a/slipped.txt", "the user's own");
  write("src/..\\..\\slipped.txt", "x");
  make_dir("a/b");
  call = expect_fatal([&] { install_tree(at("src").c_str(), at("a\\b\\dst").c_str(), 2, 1); });
  EXPECT_EQ(call.text, "Invalid name in package folder " + at("src") + ": \"..\\..\\slipped.txt\"");
  EXPECT_EQ(call.caption, "Error");
  EXPECT_EQ(read("a/slipped.txt"), "the user's own");
  EXPECT_TRUE(wizard_.files.empty());
#endif
  ScriptedLister lister;
  lister.real = engine_ports().lister;
  engine_ports().lister = &lister;
  const std::pair<std::string, bool> names[] = {
      {"sub\\x", true}, {"a/b", false}, {"<", false}, {">", false}, {"c:x", false}, {"\"", false},
      {"|", false},     {"?", true},     {"*", false}, {"", false},  {"\x1f", false}, {"tab\there", true},
      {"NUL", false},   {"con.h", false}, {"Com1.txt", false}, {"lpt9", true}, {"aux .c", false},
  };
  for (const auto& [name, directory] : names) {
    SCOPED_TRACE(name);
    lister.folders = {{at("pkg") + "\\*", {{".", true}, {"..", true}, {name, directory}}}};
    call = expect_fatal([&] { install_tree(at("pkg").c_str(), at("out").c_str(), 2, 1); });
    std::string shown = name;
    std::replace_if(shown.begin(), shown.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '?');
    EXPECT_EQ(call.text, "Invalid name in package folder " + at("pkg") + ": \"" + shown + "\"");
    EXPECT_TRUE(fs::is_empty(native("out")));
  }
  EXPECT_TRUE(wizard_.files.empty());
  // Names that only begin like a device's are files like any other.
  engine_ports().lister = lister.real;
  for (const char* name : {"console.h", "com0", "lpt10", "nulx", "auxiliary"}) write(std::string("fine/") + name, name);
  install_tree(at("fine").c_str(), at("fine-out").c_str(), 0, 1);
  EXPECT_EQ(wizard_.files.size(), 5u);
  EXPECT_EQ(read("fine-out/com0"), "com0");
}

TEST_F(EngineTest, EmptySourceCreatesDestinationAndLoaderSendsCompletion) {
  make_dir("src/empty/deeper");
  InstallState& state = install_state();
  std::snprintf(state.source_folder, sizeof state.source_folder, "%s", at("src").c_str());
  std::snprintf(state.destination_folder, sizeof state.destination_folder, "%s", at("dst").c_str());
  state.copy_mode = static_cast<int32_t>(CopyMode::Expand);
  state.completion_command = 9;
  state.wizard_window = reinterpret_cast<WindowHandle>(0x1234);
  state.installing.store(1);
  EXPECT_EQ(PackageLoader(&state.copy_mode), 0u);
  EXPECT_TRUE(wizard_.files.empty());
  EXPECT_TRUE(fs::is_directory(native("dst/empty/deeper")));
  ASSERT_EQ(wizard_.commands.size(), 1u);
  EXPECT_EQ(wizard_.commands[0].first, state.wizard_window);
  EXPECT_EQ(wizard_.commands[0].second, 9);
  // The animator runs on while the wizard configures; the flag falls after.
  EXPECT_EQ(wizard_.installing_when_sent, std::vector<int32_t>{1});
  EXPECT_EQ(state.installing.load(), 0);
}

TEST_F(EngineTest, MissingSourceFailsAfterTheDestinationIsMade) {
  FatalCall call = expect_fatal([&] { install_tree(at("nothing").c_str(), at("dst").c_str(), 2, 1); });
  EXPECT_EQ(call.text, "Source directory does not exist.");
  EXPECT_EQ(call.caption, "Error");
  EXPECT_TRUE(fs::is_directory(native("dst")));
}

TEST_F(EngineTest, DestinationThatIsAFileOrHasNoParentNamesItselfAsCaption) {
  write("src/sub/f", "x");
  write("dst/sub", "a file in the way");
  FatalCall call = expect_fatal([&] { install_tree(at("src").c_str(), at("dst").c_str(), 0, 1); });
  EXPECT_EQ(call.text, "Error: Cannot create subdirectory to install.");
  EXPECT_EQ(call.caption, at("dst\\sub"));

  call = expect_fatal([&] { install_tree(at("src").c_str(), at("no\\parent").c_str(), 0, 1); });
  EXPECT_EQ(call.text, "Error: Cannot create subdirectory to install.");
  EXPECT_EQ(call.caption, at("no\\parent"));
}

TEST_F(EngineTest, ExistingDestinationKeepsForeignFilesAndReplacesPackageFiles) {
  write("src/a", "new");
  write("src/.hidden/h", "hidden");
  write("dst/a", "old and longer");
  write("dst/mine", "keep");
  install_tree(at("src").c_str(), at("dst").c_str(), 0, 0);
  EXPECT_EQ(read("dst/a"), "new");
  EXPECT_EQ(read("dst/mine"), "keep");
  EXPECT_EQ(read("dst/.hidden/h"), "hidden");
  EXPECT_TRUE(wizard_.files.empty()) << "report 0 reports nothing";
}

TEST_F(EngineTest, UnknownModeRecreatesTreeAndReportsButWritesNoFile) {
  write("src/d/f", "data");
  write("src/g", "data");
  install_tree(at("src").c_str(), at("dst").c_str(), 7, 1);
  EXPECT_TRUE(fs::is_directory(native("dst/d")));
  EXPECT_FALSE(fs::exists(native("dst/d/f")));
  EXPECT_FALSE(fs::exists(native("dst/g")));
  std::sort(wizard_.files.begin(), wizard_.files.end());
  EXPECT_EQ(wizard_.files, (std::vector<std::string>{at("dst\\d\\f"), at("dst\\g")}));
}

TEST_F(EngineTest, PathsBeyondTheirBufferAreRefusedByName) {
  write("src/file-end.txt", "x");
  // A destination path of exactly 259 characters is installed...
  std::string fits = at("");
  fits += std::string(259 - fits.size() - std::string("\\file-end.txt").size(), 'd');
  install_tree(at("src").c_str(), fits.c_str(), 0, 1);
  ASSERT_EQ(wizard_.files.size(), 1u);
  EXPECT_EQ(wizard_.files[0].size(), 259u);

  // ...one more character is refused with a message that keeps the name.
  std::string too_long = fits + "e";
  FatalCall call = expect_fatal([&] { install_tree(at("src").c_str(), too_long.c_str(), 0, 1); });
  EXPECT_EQ(call.caption, "Error");
  EXPECT_EQ(call.text.rfind("Path too long to install: ", 0), 0u) << call.text;
  EXPECT_LE(call.text.size(), 255u);
  EXPECT_EQ(call.text.substr(call.text.size() - 13), "\\file-end.txt");

  // "." and ".." are never installed, so their longer paths stop nothing:
  // a 257-character folder takes a one-character file.
  write("one/f", "x");
  std::string folder = fits + std::string(257 - fits.size(), 'e');
  install_tree(at("one").c_str(), folder.c_str(), 0, 1);
  ASSERT_EQ(wizard_.files.size(), 2u);
  EXPECT_EQ(wizard_.files[1], folder + "\\f");
}

#ifndef _WIN32
// Below the destination no link is followed, by any of the three actions: a
// folder that is a link is refused as a file in its place is, a file that is
// one (or a hard link to a file elsewhere) as a destination that cannot be
// opened. What each leads to stays byte for byte as it was, the link too.
// The destination itself may be a link. (Under Wine a program cannot make
// the links; the Windows build is tried through pkgtree.exe and setup.exe.)
TEST_F(EngineTest, LinksBelowTheDestinationAreNeverFollowed) {
  write("outside/victim", "victim data");
  write("outside/folder/gcc.exe", "victim data");
  write("plain/bin/gcc.exe", "package");
  install_tree(at("plain").c_str(), at("package").c_str(), 1, 0);
  const auto outside_unchanged = [&] {
    EXPECT_EQ(read("outside/victim"), "victim data");
    EXPECT_EQ(read("outside/folder/gcc.exe"), "victim data");
    EXPECT_FALSE(fs::exists(native("outside/none")));
    EXPECT_EQ(std::distance(fs::directory_iterator(native("outside/folder")), fs::directory_iterator()), 1);
  };
  for (int mode : {0, 1, 2}) {
    SCOPED_TRACE(mode);
    std::string source = at(mode == 2 ? "package" : "plain"), dst = "dst" + std::to_string(mode);
    make_dir(dst);
    fs::create_directory_symlink(native("outside/folder"), native(dst + "/bin"));
    FatalCall call = expect_fatal([&] { install_tree(source.c_str(), at(dst).c_str(), mode, 0); });
    EXPECT_EQ(call.text, "Error: Cannot create subdirectory to install.");
    EXPECT_EQ(call.caption, at(dst + "\\bin"));
    EXPECT_EQ(fs::read_symlink(native(dst + "/bin")), native("outside/folder"));
    outside_unchanged();

    fs::remove(native(dst + "/bin"));
    make_dir(dst + "/bin");
    std::string file = dst + "/bin/gcc.exe";
    std::string refused = mode == 0 ? "Error: cannot open new destination file to install."
                                    : "Write to destination file " + at(file) + ": it is a link, which is never written through";
    for (const char* kind : {"symbolic", "dangling", "hard"}) {
      SCOPED_TRACE(kind);
      fs::remove(native(file));
      if (kind[0] == 's') fs::create_symlink(native("outside/victim"), native(file));
      else if (kind[0] == 'd') fs::create_symlink(native("outside/none"), native(file));
      else fs::create_hard_link(native("outside/victim"), native(file));
      call = expect_fatal([&] { install_tree(source.c_str(), at(dst).c_str(), mode, 0); });
      EXPECT_EQ(call.text, refused);
      outside_unchanged();
    }
  }
  fs::create_directory_symlink(native("real-dst"), native("linked-dst"));
  make_dir("real-dst");
  install_tree(at("package").c_str(), at("linked-dst").c_str(), 2, 0);
  EXPECT_EQ(read("real-dst/bin/gcc.exe"), "package");
}
#endif
