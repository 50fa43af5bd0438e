#pragma once

#include <string>

#include "app/folder_move.h"
#include "config/app_config.h"
#include "ports/port_discovery.h"
#include "ports/port_refresh.h"

namespace k9 {

class FormHost;
class MainController;
class MainView;
class PortProbe;
class Shell;

// The main window's own handlers, without widgets: start-up (Form_Load), close (Form_Unload)
// with the settings file QK.ini, and the menu items that are more than a window to open.
class MainForm final {
  public:
    struct Setup {
        AppConfig config;
        std::string exeDir;   // the executable's folder
        std::string version;  // "1.0.0"
    };

    MainForm(MainView& view, FormHost& host, MainController& controller, PortProbe& probe,
             Shell& shell, Setup setup);

    enum class LoadResult { Shown, Ended };
    // Ended: the program must stop (instructions closed without "Next", or a failure report).
    LoadResult Form_Load();
    // The close sequence; ends the program through the host.
    void Form_Unload();

    void cmdGo_Click();
    void cmdClose_Click();
    void mnuMainFilter_Click() { discovery_.mnuMainFilter_Click(); }
    void cboPort_Click() { discovery_.cboPort_Click(); }
    // The user picked the selected port by hand.
    void portChosen();
    // A device folder changed; the list follows once it settles, after a run when one is going.
    void devicesChanged() { refresh_.devicesChanged(); }
    void mnuMainTroubleshooting_Click();
    void mnuMainDownload_Click();

    const std::string& iniFile() const { return sIniFile_; }

  private:
    void prepareWindow();
    void readSettings();
    void restorePort(const std::string& sIniPort);

    MainView& view_;
    FormHost& host_;
    MainController& controller_;
    Shell& shell_;
    Setup setup_;
    PortDiscovery discovery_;
    PortRefresh refresh_;
    std::string sIniFile_;
    std::string sIniTest_;
    FolderMove folderMove_;
};

}  // namespace k9
