// The proposal of the folder page: PATH search, home folder, constant.
#include <cstring>
#include <string>

#include "integration/default_folder.h"
#include "integration_fixture.h"

namespace {

class Folder : public IntegrationTest {
 protected:
  void machine_path(const std::string& value) {
    registry_.put(RegistryRoot::LocalMachine, kMachineKey, "Path", kRegExpandSz, value);
  }
  void user_path(const std::string& value) {
    registry_.put(RegistryRoot::CurrentUser, kUserKey, "PATH", kRegSz, value);
  }
  std::string proposal() {
    char destination[kPathBufferSize];
    std::memset(destination, '#', sizeof destination);
    choose_default_folder(destination);
    EXPECT_NE(std::memchr(destination, '\0', sizeof destination), nullptr);
    EXPECT_EQ(registry_.open_count, 0) << "every key closed";
    return destination;
  }
};

TEST_F(Folder, InstallationOnThePathInLowerCase) {
  machine_path("C:\\WINDOWS;C:\\TOOLS\\GCC\\BIN;c:\\other");
  environment_.files = {"c:\\tools\\gcc\\bin\\gcc.exe"};
  EXPECT_EQ(proposal(), "c:\\tools\\gcc");
  // Every folder tested as written, in lower case.
  EXPECT_EQ(environment_.tested, (std::vector<std::string>{
                                     "c:\\windows\\gcc.exe", "c:\\tools\\gcc\\bin\\gcc.exe",
                                     "c:\\other\\gcc.exe"}));
}

TEST_F(Folder, ShortestFolderWinsThenTheEarlier) {
  machine_path("c:\\tools\\gcc\\bin;c:\\gcc\\bin;c:\\abc\\bin");
  environment_.files = {"c:\\tools\\gcc\\bin\\gcc.exe", "c:\\gcc\\bin\\gcc.exe", "c:\\abc\\bin\\gcc.exe"};
  EXPECT_EQ(proposal(), "c:\\gcc");
}

TEST_F(Folder, EmptyPiecesAndTrailingBackslashes) {
  machine_path(";;%SystemRoot%;;c:\\tools\\gcc\\bin\\;");
  environment_.files = {"c:\\tools\\gcc\\bin\\\\gcc.exe"};
  EXPECT_EQ(proposal(), "c:\\tools\\gcc\\");
  EXPECT_EQ(environment_.tested.front(), "%systemroot%\\gcc.exe") << "not expanded";
  EXPECT_EQ(environment_.tested.size(), 2u);
}

TEST_F(Folder, FourCharacterFolderWinsWithAnEmptyText) {
  // It is the best of the machine's PATH and names nothing: the user's
  // PATH is searched next.
  machine_path("c:\\tools\\gcc\\bin;\\bin");
  user_path("d:\\gcc\\bin");
  environment_.files = {"c:\\tools\\gcc\\bin\\gcc.exe", "\\bin\\gcc.exe", "d:\\gcc\\bin\\gcc.exe"};
  EXPECT_EQ(proposal(), "d:\\gcc");
}

TEST_F(Folder, FoldersThatCannotNameAnInstallationAreSkipped) {
  // Shorter than "\bin", or too long for the candidate with "\gcc.exe".
  std::string longest(251, 'l');
  std::string too_long(252, 'l');
  machine_path("c:;" + too_long + ";" + longest);
  environment_.files = {"c:\\gcc.exe", too_long + "\\gcc.exe", longest + "\\gcc.exe"};
  EXPECT_EQ(proposal(), longest.substr(0, 247));
  EXPECT_EQ(environment_.tested, (std::vector<std::string>{longest + "\\gcc.exe"}));
}

TEST_F(Folder, MachineKeyWithoutAnInstallationOrRefused) {
  machine_path("c:\\windows");
  user_path("c:\\mine\\gcc\\bin");
  environment_.files = {"c:\\mine\\gcc\\bin\\gcc.exe"};
  EXPECT_EQ(proposal(), "c:\\mine\\gcc");
  registry_.keys.clear();
  user_path("c:\\mine\\gcc\\bin");
  machine_path("c:\\tools\\gcc\\bin");
  environment_.files.insert("c:\\tools\\gcc\\bin\\gcc.exe");
  registry_.refused.insert(FakeRegistry::key_name(RegistryRoot::LocalMachine, kMachineKey));
  EXPECT_EQ(proposal(), "c:\\mine\\gcc");
}

TEST_F(Folder, LongPathValueIsReadWhole) {
  std::string value;
  while (value.size() < 30000) value += "c:\\some\\folder;";
  value += "c:\\far\\bin";
  machine_path(value);
  environment_.files = {"c:\\far\\bin\\gcc.exe"};
  EXPECT_EQ(proposal(), "c:\\far");
}

TEST_F(Folder, HomeFolderThenTheConstant) {
  environment_.variables = {{"HOMEDRIVE", "C:"}, {"HOMEPATH", "\\"}};
  EXPECT_EQ(proposal(), "C:\\gcc");
  environment_.variables["HOMEPATH"] = "\\Users\\someone";
  EXPECT_EQ(proposal(), "C:\\Users\\someone\\gcc");
  environment_.variables.erase("HOMEPATH");
  EXPECT_EQ(proposal(), "c:\\program files\\gcc");
  environment_.variables = {{"HOMEPATH", "\\Users\\someone"}};
  EXPECT_EQ(proposal(), "c:\\program files\\gcc");
  environment_.variables = {{"HOMEDRIVE", ""}, {"HOMEPATH", "\\x"}};
  EXPECT_EQ(proposal(), "c:\\program files\\gcc");
}

TEST_F(Folder, HomeFolderLimits) {
  char home[kPathBufferSize];
  environment_.variables = {{"HOMEDRIVE", "C:"}, {"HOMEPATH", "\\" + std::string(256, 'h')}};
  EXPECT_EQ(get_home_folder(home, kPathBufferSize), 259) << "259 characters in all";
  environment_.variables["HOMEPATH"] = "\\" + std::string(257, 'h');
  EXPECT_EQ(get_home_folder(home, kPathBufferSize), 0);
  environment_.variables = {{"HOMEDRIVE", std::string(260, 'd')}, {"HOMEPATH", "\\"}};
  EXPECT_EQ(get_home_folder(home, kPathBufferSize), 0);
  // A home folder the proposal cannot extend counts as none.
  environment_.variables = {{"HOMEDRIVE", "C:"}, {"HOMEPATH", "\\" + std::string(252, 'h')}};
  EXPECT_EQ(proposal(), "C:\\" + std::string(252, 'h') + "\\gcc") << "exactly 259";
  environment_.variables["HOMEPATH"] = "\\" + std::string(253, 'h');
  EXPECT_EQ(proposal(), "c:\\program files\\gcc");
  environment_.variables["HOMEPATH"] = "\\" + std::string(252, 'h') + "\\";
  EXPECT_EQ(proposal(), "C:\\" + std::string(252, 'h') + "\\gcc") << "gcc after a backslash";
}

}  // namespace
