#include <gtest/gtest.h>

#include <cstdlib>

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

}  // namespace
}  // namespace k9
