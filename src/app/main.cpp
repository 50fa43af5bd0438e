#include <QApplication>

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
    k9::UpdaterApp updater(exeDir, k9::loadAppConfig(exeDir));
    if (!updater.start()) {
        return 0;
    }
    return QApplication::exec();
}
