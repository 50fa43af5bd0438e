#include <QCoreApplication>

#include "cli/cli_app.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("k9update"));
    QCoreApplication::setApplicationVersion(QStringLiteral(K9_VERSION));
    return k9::runK9Update(QCoreApplication::arguments(),
                           QCoreApplication::applicationDirPath().toStdString());
}
