#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "update/update_state.h"

namespace k9 {
namespace {

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
