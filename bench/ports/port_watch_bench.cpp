// The main window idle with the watch on the device folders: the CPU it uses (inotify, so
// nothing should run), and the time from a device appearing or going to the rebuilt list.
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "app/main_window.h"
#include "app/message_presenter.h"
#include "app/updater_app.h"
#include "bench_common.h"
#include "ui_frm_main.h"

namespace {

// Nobody is there to close a message box.
class NoMessages final : public k9::MessagePresenter {
  public:
    k9::MessageAnswer show(QWidget*, const k9::Message& m) override {
        return m.buttons == k9::MessageButtons::YesNo ? k9::MessageAnswer::No
                                                      : k9::MessageAnswer::Ok;
    }
};

bool listed(const QComboBox& box, const QString& entry) {
    return box.findText(entry) >= 0;
}

// Milliseconds until the list shows (or no longer shows) the entry; -1 after 10 s.
double untilListed(QComboBox& box, const QString& entry, bool wanted) {
    QElapsedTimer clock;
    clock.start();
    while (listed(box, entry) != wanted) {
        if (clock.elapsed() > 10000) {
            return -1;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const char* seconds = std::getenv("K9_BENCH_IDLE_SECONDS");
    const int idleSeconds = seconds != nullptr ? std::max(1, std::atoi(seconds)) : 60;

    int master = -1;
    int slave = -1;
    char ptyName[256] = {};
    if (openpty(&master, &slave, ptyName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    ::close(slave);
    QTemporaryDir dir;
    const std::string link = dir.path().toStdString() + "/ttyK9";

    // Port 1 is an adapter that comes and goes as a link in a watched folder.
    k9::AppConfig config;
    config.ports[1] = link;
    k9::AppServices services;
    services.messages = std::make_unique<NoMessages>();
    k9::UpdaterApp updater(QCoreApplication::applicationDirPath().toStdString(), config,
                           std::move(services));
    k9::MainWindow& window = updater.window();
    window.show();
    window.setFilterChecked(false);
    updater.form().mnuMainFilter_Click();
    QComboBox& ports = *window.ui().cboPort;

    QTimer::singleShot(1000, &app, &QCoreApplication::quit);
    QApplication::exec();  // settle start-up work
    const double cpuStart = k9::bench::cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(idleSeconds * 1000, &app, &QCoreApplication::quit);
    QApplication::exec();
    const double cpu = k9::bench::cpuSeconds() - cpuStart;
    std::printf("port_watch_idle_cpu: %.4f %% of one core over %d s (target < 0.1)\n",
                100.0 * cpu / (static_cast<double>(wall.elapsed()) / 1000.0), idleSeconds);

    constexpr int kPlugs = 5;
    std::vector<double> plugMs;
    std::vector<double> unplugMs;
    for (int i = 0; i < kPlugs; ++i) {
        std::filesystem::create_symlink(ptyName, link);
        plugMs.push_back(untilListed(ports, QStringLiteral(" 1"), true));
        std::filesystem::remove(link);
        unplugMs.push_back(untilListed(ports, QStringLiteral(" 1"), false));
    }
    ::close(master);
    auto report = [](const char* name, std::vector<double> ms) {
        std::sort(ms.begin(), ms.end());
        const bool missed = ms.front() < 0;
        std::printf("%s: median %.0f ms, worst %.0f ms%s (target < 1000)\n", name,
                    ms[ms.size() / 2], missed ? -1.0 : ms.back(), missed ? ", one never came" : "");
    };
    report("port_watch_plug_to_list", plugMs);
    report("port_watch_unplug_to_list", unplugMs);
    return 0;
}
