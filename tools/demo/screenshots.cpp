// Drives the updater through its three windows and one whole update against the demo's
// simulated unit and FTP server, saving a picture of each step. Run by take_screenshots.sh,
// which sets up the unit, the server and K9UPDATER_CONF.
//
// Usage: k9_screenshots OUT_DIR PROGRAM_DIR
//   PROGRAM_DIR is where the guides lie (the updater's build folder).

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "app/app_style.h"
#include "app/guide_window.h"
#include "app/main_window.h"
#include "app/message_presenter.h"
#include "app/updater_app.h"
#include "ui_frm_main.h"
#include "update/run_outcome.h"

namespace {

// Message boxes are answered "OK" (or "No") and printed, so the run needs nobody.
class PrintedMessages final : public k9::MessagePresenter {
  public:
    k9::MessageAnswer show(QWidget*, const k9::Message& message) override {
        std::printf("message box \"%s\": %s\n", message.title.c_str(),
                    k9::displayText(message.text).toStdString().c_str());
        return message.buttons == k9::MessageButtons::YesNo ? k9::MessageAnswer::No
                                                            : k9::MessageAnswer::Ok;
    }
};

class Camera final {
  public:
    explicit Camera(QString dir) : dir_(std::move(dir)) {}

    void shoot(QWidget& window, const QString& name) const {
        // Let pending paints and the status throttle land first.
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
        const QString path = dir_ + "/" + name + ".png";
        if (window.grab().save(path)) {
            std::printf("saved %s\n", path.toStdString().c_str());
        } else {
            std::fprintf(stderr, "k9_screenshots: cannot save %s\n", path.toStdString().c_str());
        }
    }

  private:
    QString dir_;
};

// Runs `act` on the first visible window of type W, from the loop its modal display spins.
template <typename W>
void whenShown(QObject& owner, std::function<void(W&)> act) {
    auto* timer = new QTimer(&owner);
    timer->setInterval(50);
    QObject::connect(timer, &QTimer::timeout, [timer, act = std::move(act)] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = dynamic_cast<W*>(widget); window != nullptr && window->isVisible()) {
                timer->stop();
                act(*window);
                timer->deleteLater();
                return;
            }
        }
    });
    timer->start();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc != 3) {
        std::fprintf(stderr, "usage: k9_screenshots OUT_DIR PROGRAM_DIR\n");
        return 2;
    }
    k9::installFontFallbacks();
    QApplication::setWindowIcon(k9::appIcon());
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const std::string programDir = argv[2];
    QDir().mkpath(outDir);
    const Camera camera(outDir);

    k9::AppServices services;
    services.messages = std::make_unique<PrintedMessages>();
    k9::UpdaterApp updater(programDir, k9::loadAppConfig(programDir), std::move(services));
    k9::MainWindow& window = updater.window();
    Ui::frmMain& ui = window.ui();
    window.setOnEnd([] {});

    whenShown<k9::StartDialog>(app, [&camera](k9::StartDialog& frmStart) {
        camera.shoot(frmStart, QStringLiteral("instructions"));
        frmStart.findChild<QPushButton*>(QStringLiteral("cmdNext"))->click();
    });
    if (!updater.start()) {
        std::fprintf(stderr, "k9_screenshots: the updater ended at start-up\n");
        return 1;
    }
    camera.shoot(window, QStringLiteral("main-window"));

    whenShown<k9::HelpDialog>(app, [&camera](k9::HelpDialog& frmHelp) {
        camera.shoot(frmHelp, QStringLiteral("help"));
        frmHelp.findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    ui.MnuMainHelp->trigger();

    // One whole update; a picture once 40 % of the file has gone to the unit.
    struct Halfway final : k9::RunObserver {
        void linesSent(std::int32_t sent, std::int32_t total) override {
            reached = reached || sent * 100 >= total * 40;
        }
        bool reached = false;
    } halfway;
    updater.core().events().add(halfway);
    bool shot = false;
    QTimer watch;
    watch.setInterval(100);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (halfway.reached && !shot) {
            shot = true;
            camera.shoot(window, QStringLiteral("main-window-sending"));
        }
    });
    watch.start();
    std::printf("update started\n");
    ui.cmdGo->click();
    watch.stop();
    updater.core().events().remove(halfway);
    const k9::RunRecord& run = updater.controller().lastRun();
    std::printf("outcome: %s\n", k9::outcomeText(run).c_str());
    camera.shoot(window, QStringLiteral("main-window-updated"));
    window.close();
    return run.end == k9::RunEnd::Updated ? 0 : 1;
}
