#include "app/main_form.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "app/app_texts.h"
#include "app/folder_move.h"
#include "app/form_host.h"
#include "config/settings_file.h"
#include "config/settings_line.h"
#include "devices/device_watch.h"
#include "platform/file_table.h"
#include "platform/main_view.h"
#include "platform/runtime_error.h"
#include "platform/shell.h"
#include "update/kept_locations.h"
#include "update/main_controller.h"
#include "update/update_sequence.h"

namespace k9 {
namespace {

constexpr const char* kIniName = "QK.ini";
constexpr const char* kTestEntry = "Test Locations";
constexpr int kTestEntryIndex = 2;

// The devices the port numbers stand for, as the refresh compares them.
std::function<std::string()> portSignature(const AppConfig& config) {
    return [devices = config.devicePaths()] { return deviceSignature(devices); };
}

// Start-up steps whose failures are skipped, each on its own.
template <typename Step>
void ignoringFailure(Step&& step) {
    try {
        step();
    } catch (const std::exception&) {
    }
}

}  // namespace

MainForm::MainForm(MainView& view, FormHost& host, MainController& controller, PortProbe& probe,
                   Shell& shell, Setup setup)
    : view_(view),
      host_(host),
      controller_(controller),
      shell_(shell),
      setup_(std::move(setup)),
      discovery_(view, probe, controller.vars().vDeviceName),
      refresh_(controller.context().loop, view, discovery_, portSignature(setup_.config)) {}

MainForm::LoadResult MainForm::Form_Load() {
    ProgramVars& vars = controller_.vars();
    try {
        controller_.seedRandom(static_cast<std::uint32_t>(
            std::chrono::system_clock::now().time_since_epoch().count()));
        host_.showTitlePicture();
        vars.vDeviceName = "Sentrel K9";
        vars.vDeviceModel = "K9";
        vars.sDeviceModel = "K9";
        if (!host_.showInstructions(vars.vDeviceName)) {
            return LoadResult::Ended;
        }
        view_.setCaption(Caption::Dots, "");
        host_.Form_Resize();
        host_.setTitle(versionTitle(vars.vDeviceName, setup_.version));
        vars.sTempFolder = workingFolder(setup_.exeDir, setup_.config.workDir);
        if (!folderExists(vars.sTempFolder)) {
            try {
                createFolder(vars.sTempFolder);
            } catch (const std::exception&) {
                view_.showMessage(Message{folderFailureText(vars.sTempFolder),
                                          vars.vDeviceName + " Error", MessageIcon::Critical});
                return LoadResult::Ended;
            }
        }
        if (setup_.config.workDir.empty()) {
            ignoringFailure(
                [&] { folderMove_ = moveOldWorkingFolder(oldWorkingFolder(), vars.sTempFolder); });
        }
        readSettings();
        prepareWindow();
    } catch (const std::exception& e) {
        const RuntimeError error = asRuntimeError(e);
        view_.showMessage(
            Message{startupFailureText(setup_.config.webHost, error.number(), error.description()),
                    "Sentrel Updater", MessageIcon::Exclamation});
        return LoadResult::Ended;
    }
    return LoadResult::Shown;
}

void MainForm::readSettings() {
    sIniFile_ = controller_.vars().sTempFolder + kIniName;
    if (!fileExists(sIniFile_)) {
        ignoringFailure([&] {
            view_.setFilterChecked(false);
            mnuMainFilter_Click();
        });
        return;
    }
    // Settings that cannot be read count as empty fields.
    const std::string text = readSettingsText(sIniFile_, kIniReadLength).value_or("");
    controller_.context().loop.yield();
    const IniFields fields = parseIniText(text);
    sIniTest_ = fields.test;
    if (sIniTest_ == "t") {
        ignoringFailure([&] { view_.insertFile(kTestEntryIndex, kTestEntry); });
    }
    ignoringFailure([&] {
        // The click inverts the mark, so set the opposite of what is wanted.
        view_.setFilterChecked(!filterWanted(fields.filter));
        mnuMainFilter_Click();
    });
    ignoringFailure([&] { restorePort(fields.port); });
}

void MainForm::restorePort(const std::string& sIniPort) {
    if (isPortNumber(sIniPort)) {
        // Saved before, so chosen before: it is selected when it shows up, even later.
        refresh_.choose(entryPortNumber(sIniPort));
        for (int i = 0; i < view_.portCount(); ++i) {
            if (trimBlanks(view_.portEntry(i)) == sIniPort) {
                view_.selectPort(i);
                cboPort_Click();
                return;
            }
        }
        return;
    }
    if (view_.portCount() > 0) {
        view_.selectPort(0);
        cboPort_Click();
    }
}

void MainForm::prepareWindow() {
    UpdateState& state = controller_.state();
    view_.selectFile(0);
    state.sTempFile = "temp.qk";
    view_.setEnabled(Control::Close, false);
    view_.setEnabled(Control::Go, true);
    view_.setEnabled(Control::FileList, true);
    state.blnStopped = false;
    view_.setProgress(0);
    host_.showWindow();
    view_.setStatusFontSize(10);
    view_.setStatusBold(false);
    view_.setStatusAlignment(Alignment::Left);
    view_.setStatusText(instructionsText() + folderMoveNote(folderMove_) +
                        keptLocationsNote(findKeptLocations(controller_.vars().sTempFolder)));
    host_.colourProgressBar();
}

void MainForm::Form_Unload() {
    controller_.ClosePortAndReset();
    const int selected = view_.selectedPort();
    // A chosen port unplugged before the close is still the user's choice.
    const std::string port = selected >= 0            ? savedPortValue(view_.portEntry(selected))
                             : refresh_.chosen() != 0 ? std::to_string(refresh_.chosen())
                                                      : std::string();
    if (!sIniFile_.empty()) {
        try {
            replaceSettingsFile(sIniFile_, iniLine(port, view_.filterChecked(), sIniTest_));
        } catch (const std::exception& e) {
            // The program ends either way; the old settings stay as they were.
            std::fprintf(stderr, "k9updater: settings not saved: %s\n", e.what());
        }
    }
    host_.endProgram();
}

void MainForm::portChosen() {
    const int selected = view_.selectedPort();
    refresh_.choose(selected < 0 ? 0 : entryPortNumber(view_.portEntry(selected)));
}

void MainForm::cmdGo_Click() {
    // The port a run goes to is the user's choice.
    portChosen();
    // The whole run happens inside this call; a rebuild it held back happens at its end.
    refresh_.runStarted();
    try {
        controller_.cmdGo_Click();
    } catch (...) {
        refresh_.runEnded();
        throw;
    }
    refresh_.runEnded();
}

void MainForm::cmdClose_Click() {
    controller_.cmdClose_Click();
}

void MainForm::mnuMainTroubleshooting_Click() {
    shell_.openUrl(troubleshootingUrl(setup_.config.webHost));
}

void MainForm::mnuMainDownload_Click() {
    shell_.openUrl(downloadUrl(setup_.config.webHost));
}

}  // namespace k9
