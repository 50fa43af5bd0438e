#include "app/updater_app.h"

#include "app/app_texts.h"
#include "app/main_window.h"
#include "app/message_presenter.h"
#include "app/support_trace_menu.h"
#include "config/program_vars.h"
#include "desktop/done_notifier.h"
#include "desktop/sleep_inhibitor.h"
#include "desktop/taskbar_progress.h"
#include "devices/device_watch.h"
#include "devices/port_probe.h"
#include "devices/qt_serial_line.h"
#include "devices/vanish_watch.h"
#include "platform/qt_event_loop.h"
#include "platform/shell.h"
#include "transfer/cftp.h"
#include "ui_frm_main.h"
#include "update/run_trace.h"

namespace k9 {

UpdaterApp::UpdaterApp(std::string exeDir, AppConfig config, AppServices services)
    : loop_(std::make_unique<QtEventLoop>()), services_(std::move(services)) {
    if (!services_.serial) {
        services_.serial = std::make_unique<QtSerialLine>(config.ports);
    }
    if (!services_.probe) {
        services_.probe = std::make_unique<QtPortProbe>(config.ports);
    }
    if (!services_.shell) {
        services_.shell = std::make_unique<DesktopShell>();
    }
    if (!services_.messages) {
        services_.messages = std::make_unique<QtMessagePresenter>();
    }
    if (!services_.makeFtpClient) {
        services_.makeFtpClient = [loop = loop_.get()] { return std::make_shared<cFTP>(*loop); };
    }
    const std::vector<std::string> devices = config.devicePaths();
    window_ = std::make_unique<MainWindow>(*services_.messages,
                                           guideFolder(exeDir, std::string(kInstructionsFile)));
    controller_ = std::make_unique<MainController>(*loop_, *window_, *services_.serial, config,
                                                   services_.makeFtpClient);
    form_ = std::make_unique<MainForm>(
        *window_, *window_, *controller_, *services_.probe, *services_.shell,
        MainForm::Setup{std::move(config), std::move(exeDir), K9_VERSION});
    window_->attach(*form_);

    RunTracer::Setup trace = controller_->tracer().settings();
    trace.version = K9_VERSION;
    controller_->tracer().setup(trace);
    // Owned by the window, as its menu actions are.
    auto* traceMenu =
        new SupportTraceMenu(*window_, *window_->ui().mnuSupportKeepTrace,
                             *window_->ui().mnuSupportSaveTrace, controller_->tracer());
    traceMenu->restore();
    vanish_ = std::make_unique<VanishWatch>(
        SystemRoot{}, [window = window_.get()](const std::string&, const PortCulprit& c) {
            window->setStatusAside(c.line);
        });
    watch_ = std::make_unique<DeviceWatch>(deviceFolders(devices), [this] {
        vanish_->check(loop_->tickMs());
        form_->devicesChanged();
    });

    RunEvents& events = controller_->context().events;
    inhibitor_ = std::make_unique<SleepInhibitor>(
        [&trace = controller_->tracer().trace()](const std::string& note) {
            trace.line("desktop", note);
        });
    // A window closed by the user needs no notice of the stop that follows.
    notifier_ = std::make_unique<DoneNotifier>(
        [window = window_.get()] { return window->isActiveWindow() || window->ended(); },
        [window = window_.get()] {
            window->showNormal();
            window->raise();
            window->activateWindow();
        });
    taskbar_ = std::make_unique<TaskbarProgress>([loop = loop_.get()] { return loop->tickMs(); });
    events.add(*inhibitor_);
    events.add(*notifier_);
    events.add(*taskbar_);
}

UpdaterApp::~UpdaterApp() = default;

bool UpdaterApp::start() {
    return form_->Form_Load() == MainForm::LoadResult::Shown;
}

}  // namespace k9
