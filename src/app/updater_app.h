#pragma once

#include <memory>
#include <string>

#include "app/main_form.h"
#include "app/message_presenter.h"
#include "assembly/updater_core.h"
#include "config/app_config.h"
#include "platform/shell.h"

namespace k9 {

class DeviceWatch;
class DoneNotifier;
class MainWindow;
class QtEventLoop;
class TaskbarProgress;
class VanishWatch;
class WindowHistory;

// The window's own platform pieces and the run's. Left empty, the real ones are made; tests
// and tools put in their own.
struct AppServices {
    RunServices run;
    std::unique_ptr<Shell> shell;
    std::unique_ptr<MessagePresenter> messages;
};

// The window's front end: the event loop, the main window as the run's view, the run put
// together by UpdaterCore, the window's own observers of it (a notice when it ends elsewhere,
// its progress on the task bar), the window's handlers and the watch on the device folders.
class UpdaterApp final {
  public:
    UpdaterApp(std::string exeDir, AppConfig config, AppServices services = {});
    ~UpdaterApp();
    UpdaterApp(const UpdaterApp&) = delete;
    UpdaterApp& operator=(const UpdaterApp&) = delete;

    // Form_Load: false when the program must end without showing the main window.
    bool start();

    MainWindow& window() { return *window_; }
    MainForm& form() { return *form_; }
    MainController& controller() { return core_->controller(); }
    UpdaterCore& core() { return *core_; }
    QtEventLoop& loop() { return *loop_; }

  private:
    std::unique_ptr<QtEventLoop> loop_;
    AppServices services_;
    std::unique_ptr<MainWindow> window_;
    // They outlive the controller whose events hold them.
    std::unique_ptr<DoneNotifier> notifier_;
    std::unique_ptr<TaskbarProgress> taskbar_;
    std::unique_ptr<UpdaterCore> core_;
    std::unique_ptr<MainForm> form_;
    // Goes before the run's events and the window: it follows both to its end.
    std::unique_ptr<WindowHistory> history_;
    // An adapter taken away right after it came: who took it, below the status.
    std::unique_ptr<VanishWatch> vanish_;
    // Plug and unplug reach the port list and the vanish watch through this.
    std::unique_ptr<DeviceWatch> watch_;
};

}  // namespace k9
