#pragma once

#include <memory>
#include <string>

#include "app/main_form.h"
#include "app/message_presenter.h"
#include "config/app_config.h"
#include "devices/port_probe.h"
#include "platform/serial_line.h"
#include "platform/shell.h"
#include "update/main_controller.h"

namespace k9 {

class DeviceWatch;
class DoneNotifier;
class MainWindow;
class QtEventLoop;
class SleepInhibitor;
class TaskbarProgress;
class VanishWatch;

// The platform pieces the program runs on. Left empty, the real ones are made from the
// configuration; tests and tools put in their own.
struct AppServices {
    std::unique_ptr<SerialLine> serial;
    std::unique_ptr<PortProbe> probe;
    std::unique_ptr<Shell> shell;
    std::unique_ptr<MessagePresenter> messages;
    FtpClientFactory makeFtpClient;
};

// Puts the program together: the event loop, the serial line, the main window, the update
// logic, the window's own handlers and the watch on the device folders.
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
    MainController& controller() { return *controller_; }
    QtEventLoop& loop() { return *loop_; }

  private:
    std::unique_ptr<QtEventLoop> loop_;
    AppServices services_;
    std::unique_ptr<MainWindow> window_;
    // The desktop's part in a run; they outlive the controller whose events hold them.
    std::unique_ptr<SleepInhibitor> inhibitor_;
    std::unique_ptr<DoneNotifier> notifier_;
    std::unique_ptr<TaskbarProgress> taskbar_;
    std::unique_ptr<MainController> controller_;
    std::unique_ptr<MainForm> form_;
    // An adapter taken away right after it came: who took it, below the status.
    std::unique_ptr<VanishWatch> vanish_;
    // Plug and unplug reach the port list and the vanish watch through this.
    std::unique_ptr<DeviceWatch> watch_;
};

}  // namespace k9
