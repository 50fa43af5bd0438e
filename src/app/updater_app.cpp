#include "app/updater_app.h"

#include "app/app_texts.h"
#include "app/main_window.h"
#include "app/message_presenter.h"
#include "app/support_trace_menu.h"
#include "app/window_history.h"
#include "config/program_vars.h"
#include "desktop/done_notifier.h"
#include "desktop/taskbar_progress.h"
#include "devices/device_watch.h"
#include "devices/vanish_watch.h"
#include "platform/qt_event_loop.h"
#include "platform/shell.h"
#include "ui_frm_main.h"

namespace k9 {

UpdaterApp::UpdaterApp(std::string exeDir, AppConfig config, AppServices services)
    : loop_(std::make_unique<QtEventLoop>()), services_(std::move(services)) {
    if (!services_.shell) {
        services_.shell = std::make_unique<DesktopShell>();
    }
    if (!services_.messages) {
        services_.messages = std::make_unique<QtMessagePresenter>();
    }
    const std::vector<std::string> devices = config.devicePaths();
    window_ = std::make_unique<MainWindow>(*services_.messages,
                                           guideFolder(exeDir, std::string(kInstructionsFile)));
    core_ = std::make_unique<UpdaterCore>(*loop_, *window_, config, K9_VERSION,
                                          std::move(services_.run));
    if (HistoryStore* store = core_->history()) {
        history_ =
            std::make_unique<WindowHistory>(*window_, *window_->ui().mnuSupportHistory, *window_,
                                            *loop_, core_->events(), *store, config);
    }
    form_ = std::make_unique<MainForm>(
        *window_, *window_, core_->controller(), core_->probe(), *services_.shell,
        MainForm::Setup{std::move(config), std::move(exeDir), K9_VERSION});
    window_->attach(*form_);

    // Owned by the window, as its menu actions are.
    auto* traceMenu = new SupportTraceMenu(*window_, *window_->ui().mnuSupportKeepTrace,
                                           *window_->ui().mnuSupportSaveTrace, core_->trace());
    traceMenu->restore();

    // A window closed by the user needs no notice of the stop that follows.
    notifier_ = std::make_unique<DoneNotifier>(
        [window = window_.get()] { return window->isActiveWindow() || window->ended(); },
        [window = window_.get()] {
            window->showNormal();
            window->raise();
            window->activateWindow();
        });
    taskbar_ = std::make_unique<TaskbarProgress>([loop = loop_.get()] { return loop->tickMs(); });
    core_->events().add(*notifier_);
    core_->events().add(*taskbar_);

    vanish_ = std::make_unique<VanishWatch>(
        SystemRoot{}, [window = window_.get()](const std::string&, const PortCulprit& c) {
            window->setStatusAside(c.line);
        });
    watch_ = std::make_unique<DeviceWatch>(deviceFolders(devices), [this] {
        vanish_->check(loop_->tickMs());
        form_->devicesChanged();
    });
}

UpdaterApp::~UpdaterApp() {
    history_.reset();
    core_->events().remove(*taskbar_);
    core_->events().remove(*notifier_);
}

bool UpdaterApp::start() {
    if (form_->Form_Load() != MainForm::LoadResult::Shown) {
        return false;
    }
    if (history_) {
        history_->windowShown();
    }
    return true;
}

}  // namespace k9
