#include <QApplication>

#include <cstdio>

#include "app/app_style.h"
#include "app/updater_app.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("k9updater"));
    QApplication::setApplicationVersion(QStringLiteral(K9_VERSION));
    QApplication::setWindowIcon(k9::appIcon());
    // The program ends through the main window's close, not when a window happens to be last.
    QApplication::setQuitOnLastWindowClosed(false);
    k9::installFontFallbacks();

    const std::string exeDir = QCoreApplication::applicationDirPath().toStdString();
    k9::AppConfig config = k9::loadAppConfig(exeDir);
    for (const std::string& problem : config.problems) {
        std::fprintf(stderr, "k9updater: %s\n", problem.c_str());
    }
    k9::UpdaterApp updater(exeDir, std::move(config));
    if (!updater.start()) {
        return 0;
    }
    return QApplication::exec();
}
