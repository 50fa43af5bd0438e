#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <string>
#include <vector>

#include "app/app_texts.h"
#include "app/form_host.h"
#include "app/main_form.h"
#include "controller_harness.h"
#include "fake_probe.h"
#include "platform/runtime_error.h"
#include "platform/shell.h"
#include "scripted_serial_line.h"

namespace k9 {
namespace {

using test::ControllerHarness;
using test::FakeProbe;
using test::ScriptedSerialLine;

// Records what the start-up and close ask of the window, in order.
class FakeHost final : public FormHost {
  public:
    explicit FakeHost(const MainView& view) : view_(view) {}

    void showTitlePicture() override { calls.push_back("picture"); }
    bool showInstructions(const std::string& deviceName) override {
        calls.push_back("instructions " + deviceName);
        return next;
    }
    void Form_Resize() override { calls.push_back("resize"); }
    void setTitle(const std::string& title) override { calls.push_back("title " + title); }
    void showWindow() override {
        calls.push_back("show");
        statusWhenShown = view_.statusText();
        if (failOnShow) {
            throw RuntimeError(429, "K9Updater", "Cannot create object");
        }
    }
    void colourProgressBar() override { calls.push_back("colours"); }
    void endProgram() override { calls.push_back("end"); }

    std::vector<std::string> calls;
    bool next = true;
    bool failOnShow = false;
    std::string statusWhenShown;

  private:
    const MainView& view_;
};

class NoShell final : public Shell {
  public:
    void openUrl(const std::string&) override {}
};

class MainFormTest : public ::testing::Test {
  protected:
    MainForm::Setup setup() const {
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
    FakeHost host{h.view};
    FakeProbe probe;
    NoShell shell;
    MainForm form{h.view, host, h.controller(), probe, shell, setup()};
};

TEST_F(MainFormTest, StartUpRunsInItsOrder) {
    probe.results = {{4, ProbeResult::Free}};
    h.state().blnStopped = true;
    h.view.setStatusText("left over");
    ASSERT_EQ(form.Form_Load(), MainForm::LoadResult::Shown);
    EXPECT_EQ(host.calls,
              (std::vector<std::string>{"picture", "instructions Sentrel K9", "resize",
                                        "title Sentrel K9 Updater (v1.9.3)", "show", "colours"}));
    // The instructions text comes once the window is up.
    EXPECT_EQ(host.statusWhenShown, "left over");
    EXPECT_EQ(h.view.statusText(), instructionsText());
    EXPECT_EQ(h.controller().vars().sTempFolder, workDir + "/");
    EXPECT_EQ(form.iniFile(), workDir + "/QK.ini");
    EXPECT_EQ(h.state().sTempFile, "temp.qk");
    EXPECT_FALSE(h.state().blnStopped);
    EXPECT_EQ(h.view.ports, std::vector<std::string>{" 4"});
    EXPECT_TRUE(h.view.messages.empty());
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

TEST_F(MainFormTest, SettingsThatCannotBeSavedStillEndTheProgram) {
    ASSERT_EQ(form.Form_Load(), MainForm::LoadResult::Shown);
    ASSERT_TRUE(QDir(QString::fromStdString(workDir)).removeRecursively());
    form.Form_Unload();
    EXPECT_EQ(host.calls.back(), "end");
    EXPECT_TRUE(h.view.idle());
}

}  // namespace
}  // namespace k9
