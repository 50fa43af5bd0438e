#include "app/updater_app.h"

#include "app/app_texts.h"
#include "app/main_window.h"
#include "app/message_presenter.h"
#include "app/support_trace_menu.h"
#include "config/program_vars.h"
#include "devices/device_watch.h"
#include "devices/port_probe.h"
#include "devices/qt_serial_line.h"
#include "platform/qt_event_loop.h"
#include "platform/shell.h"
#include "transfer/cftp.h"
#include "transfer/ftp_settings.h"
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
        services_.makeFtpClient = [loop = loop_.get(), settings = ftpSettingsFor(config)] {
            return std::make_shared<cFTP>(*loop, settings);
        };
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
    watch_ = std::make_unique<DeviceWatch>(deviceFolders(devices),
                                           [form = form_.get()] { form->devicesChanged(); });
}

UpdaterApp::~UpdaterApp() = default;

bool UpdaterApp::start() {
    return form_->Form_Load() == MainForm::LoadResult::Shown;
}

}  // namespace k9
