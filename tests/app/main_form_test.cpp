#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/app_texts.h"
#include "app/form_host.h"
#include "app/main_form.h"
#include "app_test_support.h"
#include "controller_harness.h"
#include "file_bytes.h"
#include "platform/runtime_error.h"
#include "platform/shell.h"
#include "scripted_serial_line.h"

namespace k9 {
namespace {

using test::ControllerHarness;
using test::FakeProbe;
using test::ScriptedSerialLine;
namespace fs = std::filesystem;

// Records what the start-up and close ask of the window.
class FakeHost final : public FormHost {
  public:
    void showTitlePicture() override { calls.push_back("picture"); }
    bool showInstructions(const std::string& deviceName) override {
        calls.push_back("instructions " + deviceName);
        return true;
    }
    void Form_Resize() override { calls.push_back("resize"); }
    void setTitle(const std::string& title) override { calls.push_back("title " + title); }
    void showWindow() override {
        calls.push_back("show");
        if (failOnShow) {
            throw RuntimeError(429, "K9Updater", "Cannot create object");
        }
    }
    void colourProgressBar() override { calls.push_back("colours"); }
    void endProgram() override { calls.push_back("end"); }

    std::vector<std::string> calls;
    bool failOnShow = false;
};

class NoShell final : public Shell {
  public:
    void openUrl(const std::string&) override {}
};

class MainFormTest : public ::testing::Test {
  protected:
    static MainForm::Setup setup(const std::string& workDir) {
        AppConfig config;
        config.webHost = "web.example";
        config.workDir = workDir;
        return {config, "/opt/k9", "1.09.0003"};
    }

    QTemporaryDir dir;
    std::string workDir = (dir.path() + "/work").toStdString();
    VirtualEventLoop loop;
    ScriptedSerialLine serial{loop};
    ControllerHarness h{loop, serial};
    FakeHost host;
    FakeProbe probe;
    NoShell shell;
    MainForm form{h.view, host, h.controller(), probe, shell, setup(workDir)};
};

// Each unit's kept file is named in the status area; other .txt files are not. Settings that
// cannot be saved at the close still end the program.
TEST_F(MainFormTest, KeptLocationsAreNotedAtStartUpAndUnsavedSettingsStillEnd) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    fs::create_directories(workDir);
    const auto write = [&](const std::string& name, const char* text, std::time_t when) {
        std::ofstream(workDir + "/" + name) << text;
        test::setModified(workDir + "/" + name, when);
    };
    write("K9B0002.txt", "1,2,30,USER\r\n3,4,40,USER\r\n\r\n", 1796638500);
    write("K9A0001.txt", "5,6,50,USER\r\n", 1796000000);
    write("notes.txt", "5,6,50,USER\r\n", 1796000000);
    write("temp.qk", "5,6,50,USER\r\n", 1796000000);
    ASSERT_EQ(form.Form_Load(), MainForm::LoadResult::Shown);
    EXPECT_EQ(h.view.statusText(),
              instructionsText() +
                  "\r\n1 kept location of K9A0001, waiting since 2026-11-30 00:53, goes to the "
                  "server with that unit's next update.\r\n2 kept locations of K9B0002, waiting "
                  "since 2026-12-07 10:15, go to the server with that unit's next update.");
    ::unsetenv("TZ");
    ::tzset();
    ASSERT_TRUE(QDir(QString::fromStdString(workDir)).removeRecursively());
    form.Form_Unload();
    EXPECT_EQ(host.calls.back(), "end");
    EXPECT_TRUE(h.view.idle());
}

TEST_F(MainFormTest, AStartUpFailureIsReportedWithTheWebHostAndEnds) {
    probe.results = {{1, ProbeResult::Free}};
    host.failOnShow = true;
    EXPECT_EQ(form.Form_Load(), MainForm::LoadResult::Ended);
    ASSERT_EQ(h.view.messages.size(), 1u);
    EXPECT_EQ(h.view.messages[0].text,
              startupFailureText("web.example", 429, "Cannot create object"));
    EXPECT_EQ(h.view.messages[0].title, "Sentrel Updater");
    EXPECT_EQ(h.view.messages[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(host.calls.back(), "show");
}

// The working folder over a temporary home: XDG_STATE_HOME or its default, made private, and
// the one-time move from ~/Temp/, whose settings are then the ones read.
TEST_F(MainFormTest, WorkingFolderAndTheMoveFromTemp) {
    const std::string home = dir.path().toStdString() + "/h", temp = home + "/Temp/";
    const std::string state = home + "/.local/state/k9updater/";
    struct Case {
        std::string stateHome, workDir, folder;
        bool oldIni, newIni, moved;
    };
    const Case cases[] = {
        {"", "", state, false, false, false},
        {home + "/st", "", home + "/st/k9updater/", true, false, true},
        {"relative/is/ignored", "", state, true, true, false},  // moved before
        {"", home + "/own", home + "/own/", true, false, false},
    };
    ::setenv("HOME", home.c_str(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder + (c.oldIni ? " old" : "") + (c.newIni ? " new" : ""));
        fs::remove_all(home);
        fs::create_directories(temp);
        c.stateHome.empty() ? ::unsetenv("XDG_STATE_HOME")
                            : ::setenv("XDG_STATE_HOME", c.stateHome.c_str(), 1);
        for (const char* name : {"QK.ini", "K1234.txt", "shopping-list.txt"}) {
            if (c.oldIni) {
                std::ofstream(temp + name) << "*3*0*t*\r\n";
            }
        }
        if (c.newIni) {
            fs::create_directories(c.folder);
            std::ofstream(c.folder + "QK.ini") << "*3*1*\r\n";
        }
        ControllerHarness harness{loop, serial};
        FakeHost fakeHost;
        MainForm f{harness.view, fakeHost, harness.controller(), probe, shell, setup(c.workDir)};
        ASSERT_EQ(f.Form_Load(), MainForm::LoadResult::Shown);
        EXPECT_EQ(harness.controller().vars().sTempFolder, c.folder);
        EXPECT_TRUE(c.newIni ||
                    (fs::status(c.folder).permissions() & fs::perms::all) == fs::perms::owner_all);
        EXPECT_EQ(fs::exists(c.folder + "K1234.txt"), c.moved);
        EXPECT_EQ(fs::exists(temp + "QK.ini"), c.oldIni && !c.moved);
        EXPECT_EQ(fs::exists(temp + "shopping-list.txt"), c.oldIni);
        EXPECT_EQ(harness.view.files.size(), c.moved ? 3u : 2u);  // the test mark came along
        const std::string status = harness.view.statusText();
        EXPECT_EQ(status.substr(0, status.find("\r\n1 kept location of K1234, waiting since ")),
                  instructionsText() + (c.moved ? "\r\nSettings and 1 kept location file moved "
                                                  "from ~/Temp/ to ~/st/k9updater/."
                                                : ""));
    }
    ::unsetenv("XDG_STATE_HOME");
}

// Guides beside the program in the build tree, else in the installation's share folder.
TEST(GuideFolder, BesideTheProgramElseTheSharedFolder) {
    const std::string root = fs::temp_directory_path() / "k9_guides";
    fs::remove_all(root);
    fs::create_directories(root + "/bin");
    EXPECT_EQ(guideFolder(root + "/bin", "G.rtf"), root + "/bin");
    fs::create_directories(root + "/share/k9updater");
    EXPECT_EQ(guideFolder(root + "/bin", "G.rtf"), root + "/share/k9updater");
    std::ofstream(root + "/bin/G.rtf") << "{\\rtf1}";
    EXPECT_EQ(guideFolder(root + "/bin", "G.rtf"), root + "/bin");
    fs::remove_all(root);
}

}  // namespace
}  // namespace k9
