// The "env" grammar, the list merge and the result codes of the writer.
#include <string>

#include "integration/environment.h"
#include "integration_fixture.h"

namespace {

using Env = IntegrationTest;

const char kFolder[] = "c:\\tools\\gcc";
const std::string kBadType = "key value not defined.\n";
const std::string kBadFormat = "environment not propoerly defined.\n";

std::string merged(const std::string& existing, const std::string& fresh) {
  std::string out(existing.size() + fresh.size() + 2, '#');
  merge_value_list(existing.c_str(), fresh.c_str(), out.data());
  EXPECT_NE(out.find('\0'), std::string::npos);
  return out.substr(0, out.find('\0'));
}

std::string machine(const FakeRegistry& registry, const char* name) {
  const StoredValue* value = registry.get(RegistryRoot::LocalMachine, kMachineKey, name);
  return value == nullptr ? "<none>" : value->data.substr(0, value->data.size() - 1);
}

std::string user(const FakeRegistry& registry, const char* name) {
  const StoredValue* value = registry.get(RegistryRoot::CurrentUser, kUserKey, name);
  return value == nullptr ? "<none>" : value->data.substr(0, value->data.size() - 1);
}

TEST(ListItems, EndsAndTheNoItemAnswer) {
  EXPECT_EQ(list_item_end("", 0), kNoListItem);
  EXPECT_EQ(list_item_end("abc", 0), 2);
  EXPECT_EQ(list_item_end("abc;de", 0), 2);
  EXPECT_EQ(list_item_end("abc;de", 4), 5);
  EXPECT_EQ(list_item_end("abc;de", 6), kNoListItem);
  EXPECT_EQ(list_item_end("abc", 5), kNoListItem) << "past the end, as the step of 2 can land";
  // An empty first item ends before the text starts, and is still an item.
  EXPECT_EQ(list_item_end(";x", 0), -1);
  EXPECT_NE(list_item_end(";x", 0), kNoListItem);
  EXPECT_EQ(list_item_end("a;;b", 2), 1);
  // A separator at the end starts no new item.
  EXPECT_EQ(list_item_end("a;", 2), kNoListItem);
}

TEST(Merge, PackageItemsFirstThenTheOthers) {
  EXPECT_EQ(merged("C:\\WINDOWS;C:\\TOOLS\\GCC\\BIN", "c:\\tools\\gcc\\bin"), "c:\\tools\\gcc\\bin;C:\\WINDOWS");
  EXPECT_EQ(merged("C:\\A;", "c:\\b"), "c:\\b;C:\\A");
  EXPECT_EQ(merged(";C:\\A", "c:\\b"), "c:\\b;;C:\\A");
  EXPECT_EQ(merged("", "c:\\b"), "c:\\b");
  EXPECT_EQ(merged("x;x;y", "z"), "z;x;x;y") << "existing repeats all stay";
  EXPECT_EQ(merged("x", "z;z"), "z;z;x") << "new repeats stay";
  EXPECT_EQ(merged("a;;b", "c"), "c;a;;b") << "an empty existing item stays";
  EXPECT_EQ(merged("a;;b", "c;;d"), "c;;d;a;b") << "unless the new value has one";
  EXPECT_EQ(merged("c:\\bin;d", "C:\\BIN;e"), "C:\\BIN;e;d") << "moved to the front, new spelling";
}

// The merge undone: what an install added for its folder goes, the rest
// stays as it was, repeats and empty items included.
TEST(Merge, RemovingThePackagesItemsUndoesTheMerge) {
  auto removed = [](const std::string& existing, const std::string& ours, int32_t* count) {
    std::string out(existing.size() + 1, '#');
    *count = remove_value_items(existing.c_str(), ours.c_str(), out.data());
    return out.substr(0, out.find('\0'));
  };
  int32_t n = 0;
  std::string before = "C:\\WINDOWS;;C:\\x;C:\\x";
  std::string ours = "c:\\tools\\gcc\\bin;c:\\tools\\gcc";
  EXPECT_EQ(removed(merged(before, ours), ours, &n), before);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(removed("C:\\TOOLS\\GCC\\BIN;d;c:\\tools\\gcc\\bin", ours, &n), "d");
  EXPECT_EQ(n, 2) << "every copy, in any ASCII case";
  EXPECT_EQ(removed("c:\\tools\\gcc\\bin;", ours, &n), "");
  EXPECT_EQ(removed("a;b", ours, &n), "a;b");
  EXPECT_EQ(n, 0);
  EXPECT_EQ(removed("c:\\tools\\gcc\\bin\\x;\xC9", "c:\\tools\\gcc\\bin;\xE9", &n), "c:\\tools\\gcc\\bin\\x;\xC9")
      << "whole items only, ASCII letters only";
}

TEST(Merge, OnlyAsciiLettersFoldCase) {
  // 0xC9 and 0xE9 are one letter in two cases in Latin-1, but not ASCII.
  EXPECT_EQ(merged("c:\\\xC9t\xE9", "C:\\\xE9t\xE9"), "C:\\\xE9t\xE9;c:\\\xC9t\xE9");
  EXPECT_EQ(merged("[x]", "{x}"), "{x};[x]") << "[ and { differ by the case bit, but are not letters";
  EXPECT_EQ(merged("@X", "`x"), "`x;@X");
  EXPECT_EQ(merged("ABCXYZ", "abcxyz"), "abcxyz");
}

TEST(Merge, LongPathKeepsEveryByte) {
  // 32 000 characters of items of assorted lengths and bytes.
  std::string existing;
  unsigned seed = 7;
  while (existing.size() < 32000) {
    std::string item;
    int length = static_cast<int>((seed = seed * 1103515245u + 12345u) >> 16) % 40;
    for (int i = 0; i < length; ++i) {
      char c = static_cast<char>(((seed = seed * 1103515245u + 12345u) >> 16) % 255 + 1);
      if (c == ';') c = 'Q';
      item += c;
    }
    existing += item + ";";
  }
  existing.resize(32000);
  if (existing.back() == ';') existing.back() = 'E';
  std::string fresh = "c:\\tools\\gcc\\bin;c:\\tools\\gcc\\lib";
  std::string expected = fresh + ";" + existing;
  // The only change: nothing matches the new items, so all stays, in order.
  std::string out = merged(existing, fresh);
  EXPECT_EQ(out.size(), expected.size());
  EXPECT_TRUE(out == expected);
}

TEST(BuildValue, EachItemUnderTheFolder) {
  char out[512];
  ASSERT_TRUE(build_value("\\bin;\\lib", kFolder, out, sizeof out));
  EXPECT_STREQ(out, "c:\\tools\\gcc\\bin;c:\\tools\\gcc\\lib");
  ASSERT_TRUE(build_value(";\\bin", kFolder, out, sizeof out));
  EXPECT_STREQ(out, "c:\\tools\\gcc;c:\\tools\\gcc\\bin");
  ASSERT_TRUE(build_value("", kFolder, out, sizeof out));
  EXPECT_STREQ(out, "");
  ASSERT_TRUE(build_value("\\a;;\\b;", kFolder, out, sizeof out));
  EXPECT_STREQ(out, "c:\\tools\\gcc\\a;c:\\tools\\gcc;c:\\tools\\gcc\\b");
  // Exactly 511 characters fit; 512 do not, and nothing passes the end.
  std::string folder(500, 'f');
  char tight[513];
  tight[512] = '#';
  ASSERT_TRUE(build_value("\\abcdefghij", folder.c_str(), tight, 512));
  EXPECT_EQ(std::string(tight).size(), 511u);
  EXPECT_FALSE(build_value("\\abcdefghijk", folder.c_str(), tight, 512));
  EXPECT_FALSE(build_value("\\a;\\b", folder.c_str(), tight, 512));
  EXPECT_EQ(tight[512], '#');
}

TEST_F(Env, WellFormedFileWithCommentsEverywhere) {
  write("env",
        "# the package's variables\n"
        "PATH\n# inside a block\nREG_EXPAND_SZ\n#\n\\bin\n::\n"
        "GCC_EXEC_PREFIX\nREG_SZ\n\\lib\\gcc-lib\\\n::\n# trailing\n");
  std::string printed;
  EXPECT_EQ(configure(kFolder, &printed), 1);
  EXPECT_EQ(printed, "");
  EXPECT_EQ(machine(registry_, "PATH"), "c:\\tools\\gcc\\bin");
  EXPECT_EQ(registry_.get(RegistryRoot::LocalMachine, kMachineKey, "PATH")->type, kRegExpandSz);
  EXPECT_EQ(machine(registry_, "GCC_EXEC_PREFIX"), "c:\\tools\\gcc\\lib\\gcc-lib\\");
  EXPECT_EQ(registry_.get(RegistryRoot::LocalMachine, kMachineKey, "GCC_EXEC_PREFIX")->type, kRegSz);
  EXPECT_EQ(registry_.open_count, 0) << "every key closed";
}

TEST_F(Env, NothingToWrite) {
  EXPECT_EQ(configure(kFolder), 0) << "no env file";
  write("env", "# only\n# comments\n");
  EXPECT_EQ(configure(kFolder), 0);
  write("env", "PATH\nREG_SZ\n\\bin\n");
  EXPECT_EQ(configure(kFolder), 0) << "no closing ::";
  EXPECT_TRUE(registry_.keys.empty());
}

TEST_F(Env, OnlyClosedBlocksAreWritten) {
  write("env", "A\nREG_SZ\n\\a\n::\nB\nREG_SZ\n\\b\n");
  EXPECT_EQ(configure(kFolder), 1);
  EXPECT_EQ(machine(registry_, "A"), "c:\\tools\\gcc\\a");
  EXPECT_EQ(machine(registry_, "B"), "<none>");
}

TEST_F(Env, FormatErrorsPrintTheirLineAndWriteNothing) {
  struct Case {
    const char* text;
    std::string printed;
  } cases[] = {
      {"A\nREG_SZ\n\\a\n::\nB\nreg_sz\n\\b\n::\n", kBadType},
      {"A\n REG_SZ\n\\a\n::\n", kBadType},
      {"A\nREG_SZ\n\\a\nextra\n::\n", kBadFormat},
      // Blocks closed before their three lines.
      {"::\nA\nREG_SZ\n\\a\n::\n", kBadFormat},
      {"A\nREG_SZ\n\\a\n::\n::\n", kBadFormat},
      {"A\n::\n", kBadFormat},
      {"A\nREG_SZ\n::\n", kBadFormat},
  };
  for (const Case& c : cases) {
    write("env", c.text);
    std::string printed;
    EXPECT_EQ(configure(kFolder, &printed), 0) << c.text;
    EXPECT_EQ(printed, c.printed) << c.text;
  }
  EXPECT_TRUE(registry_.keys.empty()) << "not even the blocks before the error";
}

TEST_F(Env, LimitsOfTheFile) {
  std::string blocks;
  for (int i = 0; i < 32; ++i) blocks += "V" + std::to_string(i) + "\nREG_SZ\n\\" + std::to_string(i) + "\n::\n";
  // 32 blocks, and lines after the last "::" that are checked but not written.
  write("env", blocks + "EXTRA\nREG_SZ\n");
  EXPECT_EQ(configure(kFolder), 1);
  EXPECT_EQ(machine(registry_, "V31"), "c:\\tools\\gcc\\31");
  EXPECT_EQ(machine(registry_, "EXTRA"), "<none>");
  registry_.keys.clear();
  // A 33rd block, a line of 256 characters, a value of 512: format errors.
  std::string printed;
  write("env", blocks + "EXTRA\nREG_SZ\n\\x\n::\n");
  EXPECT_EQ(configure(kFolder, &printed), 0);
  EXPECT_EQ(printed, kBadFormat);
  write("env", "A\nREG_SZ\n\\" + std::string(255, 'a') + "\n::\n");
  EXPECT_EQ(configure(kFolder, &printed), 0);
  EXPECT_EQ(printed, kBadFormat);
  // A comment is skipped whatever its length, across chunks and inside a block too.
  write("env", "# " + std::string(300, 'c') + "\nA\n#" + std::string(700, 'c') + "\nREG_SZ\n\\a\n::\n");
  EXPECT_EQ(configure(kFolder, &printed), 1);
  EXPECT_EQ(machine(registry_, "A"), "c:\\tools\\gcc\\a");
  std::string folder(240, 'f');
  write("env", "A\nREG_SZ\n\\" + std::string(253, 'a') + "\n::\n");
  EXPECT_EQ(configure(kFolder, &printed), 1) << "255 characters are a line";
  write("env", "B\nREG_SZ\n\\" + std::string(20, 'a') + ";\\" + std::string(20, 'b') + "\n::\n");
  EXPECT_EQ(configure(folder.c_str(), &printed), 0) << "a built value over 511";
  EXPECT_EQ(printed, kBadFormat);
  EXPECT_EQ(machine(registry_, "B"), "<none>");
}

TEST_F(Env, ExistingValuesAreMergedUnderTheirOwnType) {
  registry_.put(RegistryRoot::LocalMachine, kMachineKey, "Path", kRegExpandSz,
                "%SystemRoot%\\system32;C:\\TOOLS\\GCC\\BIN;;c:\\other");
  registry_.put(RegistryRoot::LocalMachine, kMachineKey, "LIB", kRegSz, "c:\\sdk\\lib");
  write("env", "PATH\nREG_SZ\n\\bin\n::\nLIB\nREG_EXPAND_SZ\n\\lib\n::\n");
  EXPECT_EQ(configure(kFolder), 1);
  EXPECT_EQ(machine(registry_, "PATH"), "c:\\tools\\gcc\\bin;%SystemRoot%\\system32;;c:\\other");
  EXPECT_EQ(registry_.get(RegistryRoot::LocalMachine, kMachineKey, "PATH")->type, kRegExpandSz);
  EXPECT_EQ(machine(registry_, "LIB"), "c:\\tools\\gcc\\lib;c:\\sdk\\lib");
  EXPECT_EQ(registry_.get(RegistryRoot::LocalMachine, kMachineKey, "LIB")->type, kRegSz);
  // Again into the same folder: nothing repeats.
  EXPECT_EQ(configure(kFolder), 1);
  EXPECT_EQ(machine(registry_, "PATH"), "c:\\tools\\gcc\\bin;%SystemRoot%\\system32;;c:\\other");
}

TEST_F(Env, LongExistingPathMergedWhole) {
  std::string existing;
  for (int i = 0; existing.size() < 32000; ++i) existing += "c:\\folder" + std::to_string(i) + ";";
  existing.resize(32000);
  registry_.put(RegistryRoot::LocalMachine, kMachineKey, "PATH", kRegExpandSz, existing);
  write("env", "PATH\nREG_EXPAND_SZ\n\\bin\n::\n");
  EXPECT_EQ(configure(kFolder), 1);
  std::string expected = "c:\\tools\\gcc\\bin;" + existing;
  if (expected.back() == ';') expected.pop_back();
  std::string written = machine(registry_, "PATH");
  EXPECT_EQ(written.size(), expected.size());
  EXPECT_TRUE(written == expected);
}

TEST_F(Env, MachineKeyRefusedFallsToTheUser) {
  write("env", "A\nREG_SZ\n\\a\n::\nB\nREG_SZ\n\\b\n::\n");
  registry_.refused.insert(FakeRegistry::key_name(RegistryRoot::LocalMachine, kMachineKey));
  EXPECT_EQ(configure(kFolder), 2);
  EXPECT_EQ(user(registry_, "A"), "c:\\tools\\gcc\\a");
  EXPECT_EQ(user(registry_, "B"), "c:\\tools\\gcc\\b");
  registry_.refused.insert(FakeRegistry::key_name(RegistryRoot::CurrentUser, kUserKey));
  EXPECT_EQ(configure(kFolder), 0);
}

TEST_F(Env, WriteFailingHalfWay) {
  write("env", "A\nREG_SZ\n\\a\n::\nB\nREG_SZ\n\\b\n::\nC\nREG_SZ\n\\c\n::\n");
  // The machine key takes A and fails on B; the user key then takes all.
  registry_.failing_write = 1;
  EXPECT_EQ(configure(kFolder), 2);
  EXPECT_EQ(machine(registry_, "A"), "c:\\tools\\gcc\\a") << "written before the failure: stays";
  EXPECT_EQ(machine(registry_, "B"), "<none>");
  EXPECT_EQ(user(registry_, "C"), "c:\\tools\\gcc\\c");
  EXPECT_EQ(registry_.open_count, 0);
  // Machine fails on A, user on C: failure, with the user's A and B kept.
  registry_.keys.clear();
  registry_.writes = 0;
  registry_.failing_write = 2;
  registry_.refused.insert(FakeRegistry::key_name(RegistryRoot::LocalMachine, kMachineKey));
  EXPECT_EQ(configure(kFolder), 0);
  EXPECT_EQ(user(registry_, "B"), "c:\\tools\\gcc\\b");
  EXPECT_EQ(user(registry_, "C"), "<none>");
  EXPECT_EQ(registry_.open_count, 0);
}

TEST_F(Env, ReadFailureCountsAsAFailedKey) {
  write("env", "A\nREG_SZ\n\\a\n::\n");
  registry_.query_failure = 5;
  EXPECT_EQ(configure(kFolder), 0);
  EXPECT_EQ(registry_.queried.size(), 2u) << "one try in each key";
  EXPECT_EQ(registry_.open_count, 0);
}

}  // namespace
