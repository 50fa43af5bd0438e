#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "update/update_state.h"

namespace k9 {
namespace {

TEST(WorkingFolder, WindowsPathsWorkAtTheRootOfTheProgramsDrive) {
    EXPECT_EQ(windowsWorkingFolder("D:\\Programs\\Sentrel"), "D:\\Temp\\");
    EXPECT_EQ(windowsWorkingFolder("C:\\"), "C:\\Temp\\");
    // A share path gives a folder that cannot be created; start-up reports that.
    EXPECT_EQ(windowsWorkingFolder("\\\\server\\share\\k9"), "\\\\sTemp\\");
}

TEST(WorkingFolder, ElsewhereItIsTheStateFolderUnlessConfigured) {
    const char* saved = std::getenv("HOME");
    const std::string home = saved ? saved : "";
    ::setenv("HOME", "/home/driver", 1);
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(workingFolder("/opt/k9", ""), "/home/driver/.local/state/k9updater/");
    EXPECT_EQ(workingFolder("/opt/k9", "/var/tmp/k9"), "/var/tmp/k9/");
    EXPECT_EQ(workingFolder("/opt/k9", "/var/tmp/k9/"), "/var/tmp/k9/");
    ::setenv("HOME", home.c_str(), 1);
}

// Guides beside the program in the build tree, else in the installation's share folder.
TEST(GuideFolder, BesideTheProgramElseTheSharedFolder) {
    const std::string root = std::filesystem::temp_directory_path() / "k9_guides";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root + "/bin");
    EXPECT_EQ(guideFolder(root + "/bin", "G.rtf"), root + "/bin");
    std::filesystem::create_directories(root + "/share/k9updater");
    EXPECT_EQ(guideFolder(root + "/bin", "G.rtf"), root + "/share/k9updater");
    std::ofstream(root + "/bin/G.rtf") << "{\\rtf1}";
    EXPECT_EQ(guideFolder(root + "/bin", "G.rtf"), root + "/bin");
    std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace k9
