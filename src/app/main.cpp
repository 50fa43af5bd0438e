#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "app/app_style.h"
#include "app/updater_app.h"

namespace {

constexpr const char* kUsage =
    "Usage: k9updater [--version | --help]\n"
    "Updates the location database of a Sentrel K9 over its serial cable; the window guides\n"
    "you through it. Settings: $K9UPDATER_CONF, ~/.config/k9updater/k9updater.conf,\n"
    "/etc/k9updater.conf. See k9updater(1).\n";

constexpr const char* kNoSession =
    "k9updater: the window needs a graphical session (there is no DISPLAY or "
    "WAYLAND_DISPLAY here); k9update does the same update from a terminal (k9update --help).\n";

bool hasEnv(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before Qt looks for a display, so they work on a console or in a package check.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version") {
            std::printf("k9updater %s\n", K9_VERSION);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    // Without a graphical session Qt would abort with advice to reinstall; say what is wrong
    // and what does the same job instead. A platform named explicitly (offscreen, say) goes on.
    if (!hasEnv("QT_QPA_PLATFORM") && !hasEnv("DISPLAY") && !hasEnv("WAYLAND_DISPLAY")) {
        std::fputs(kNoSession, stderr);
        return 1;
    }
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
