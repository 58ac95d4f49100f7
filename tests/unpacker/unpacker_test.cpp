#include "unpacker/unpacker.h"

#include <gtest/gtest.h>

#include <map>

#include "zip_maker.h"

namespace {

using zip_maker::Item;

const std::vector<Item> kPackage = {{"setup.exe", "MZ"}, {"env", "PATH=%s\\bin\n"}, {"inf", "x\n"},
                                    {"source/", ""}, {"source/a", std::string(600000, 'a')}};

// A system in memory: what the unpacker made, and what it was told.
struct World : UnpackerPorts {
  std::string file;
  uint64_t free = 1 << 30;
  std::map<std::string, std::string> made;  // every path below the temporary folder, folders with "/"
  std::string folder;                       // the unpack folder, once made
  std::vector<std::string> messages, taken_names;
  std::string arguments_given, setup_seen;
  int refuse_names = 0;      // make_unpack_folder answers Exists this many times
  int cancel_after = -1;     // keep_going answers false from this call on
  int calls = 0;
  bool window_open = false;

  std::string own_file() override { return "C:\\Downloads\\pkg.exe"; }
  std::unique_ptr<unpack::ByteSource> open_own_file() override { return std::make_unique<zip_maker::Bytes>(file); }
  bool temporary_folder(std::string& path, std::size_t& chars) override {
    path = "C:\\Temp", chars = path.size();
    return true;
  }
  bool free_bytes(uint64_t& bytes) override { return bytes = free, true; }
  bool random_bytes(unsigned char* out, std::size_t size) override {
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<unsigned char>(0xa0 + taken_names.size() + i);
    return true;
  }
  Made make_unpack_folder(const std::string& name) override {
    taken_names.push_back(name);
    if (refuse_names-- > 0) return Made::Exists;
    folder = name, made[name + "/"] = "";
    return Made::Made;
  }
  bool make_folder(const unpack::Entry& entry) override {
    EXPECT_FALSE(folder.empty());
    return made.emplace(folder + "/" + entry.name + "/", "").second;
  }
  struct File : UnpackedFile {
    std::string* text;
    bool write(const void* data, std::size_t size) override { return text->append(static_cast<const char*>(data), size), true; }
    bool close() override { return true; }
  };
  std::unique_ptr<UnpackedFile> create_file(const unpack::Entry& entry) override {
    auto slot = made.emplace(folder + "/" + entry.name, "");
    if (!slot.second) return nullptr;
    auto f = std::make_unique<File>();
    f->text = &slot.first->second;
    return f;
  }
  bool remove_unpack_folder() override {
    for (auto i = made.begin(); i != made.end();) i = i->first.rfind(folder + "/", 0) == 0 ? made.erase(i) : std::next(i);
    return true;
  }
  void show_window(const std::string&) override { window_open = true; }
  bool keep_going(uint64_t done, uint64_t total) override {
    EXPECT_TRUE(window_open);
    EXPECT_LE(done, total);
    return cancel_after < 0 || calls++ < cancel_after;
  }
  void close_window() override { window_open = false; }
  bool run_setup(const std::string& arguments, uint32_t& status) override {
    EXPECT_FALSE(window_open);
    arguments_given = arguments;
    setup_seen = made[folder + "/setup.exe"];
    EXPECT_EQ(made[folder + "/source/a"], kPackage.back().data);
    status = 7;
    return true;
  }
  void message(const std::string& text) override { messages.push_back(text); }
};

// The package is unpacked into a new folder (a taken name is passed over),
// setup.exe runs there with the arguments as given, its status comes
// through, and the folder is gone afterwards.
TEST(Unpacker, RunsSetupInANewFolderAndRemovesIt) {
  World world;
  world.file = zip_maker::sign(zip_maker::archive(kPackage));
  world.refuse_names = 1;
  EXPECT_EQ(run_unpacker(world, "-t \"My Setup\" -n"), 7);
  EXPECT_EQ(world.arguments_given, "-t \"My Setup\" -n");
  EXPECT_EQ(world.setup_seen, "MZ");
  ASSERT_EQ(world.taken_names.size(), 2u);
  EXPECT_EQ(world.taken_names[0].size(), kUnpackFolderName);
  EXPECT_EQ(world.taken_names[0].rfind("gcc-pkg-", 0), 0u);
  EXPECT_NE(world.taken_names[0], world.taken_names[1]);
  EXPECT_TRUE(world.made.empty());
  EXPECT_TRUE(world.messages.empty());
}

// A damaged archive, too little room, and the user's cancel: each ends with
// its own status and message, setup.exe is never started, nothing is left.
TEST(Unpacker, StopsCleanlyOnDamageNoRoomAndCancel) {
  std::string good = zip_maker::archive(kPackage);
  struct Case {
    std::string file;
    uint64_t free;
    int cancel_after;
    int status;
    std::string says;
  };
  std::string flipped = good, cut = good.substr(0, good.size() - 30);
  flipped[good.find("aaaa") + 300000] = 'b';
  const Case cases[] = {
      {cut, 1 << 30, -1, kUnpackerDamaged, "C:\\Downloads\\pkg.exe is damaged or incomplete"},
      {flipped, 1 << 30, -1, kUnpackerDamaged, "Please download it again."},
      {good, 200000, -1, kUnpackerNoRoom, "C:\\Temp to unpack C:\\Downloads\\pkg.exe: it needs 0.6 MB, and 0.1 MB are free"},
      {good, 1 << 30, 3, kUnpackerCancelled, ""},
      {zip_maker::archive({{"env", ""}}), 1 << 30, -1, kUnpackerDamaged, "It holds no setup.exe."},
  };
  for (const Case& c : cases) {
    World world;
    world.file = c.file, world.free = c.free, world.cancel_after = c.cancel_after;
    EXPECT_EQ(run_unpacker(world, ""), c.status) << c.says;
    EXPECT_TRUE(world.arguments_given.empty()) << c.says;
    EXPECT_TRUE(world.made.empty()) << c.says;
    EXPECT_FALSE(world.window_open) << c.says;
    if (c.says.empty()) {
      EXPECT_TRUE(world.messages.empty());
    } else {
      ASSERT_EQ(world.messages.size(), 1u) << c.says;
      EXPECT_NE(world.messages[0].find(c.says), std::string::npos) << world.messages[0];
    }
  }
}

}  // namespace
