#include <gtest/gtest.h>

#include <QApplication>

#include <cstdio>

#include "app/app_style.h"

// Widget tests need a QApplication (the shared test main makes a QCoreApplication).
int main(int argc, char** argv) {
    // The offscreen platform says so for every fixed-size window; nothing to learn from it.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context,
                              const QString& text) {
        if (!text.contains(QStringLiteral("does not support propagateSizeHints"))) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(qFormatLogMessage(type, context, text)));
        }
    });
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    k9::installFontFallbacks();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
