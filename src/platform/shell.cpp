#include "platform/shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace k9 {

void DesktopShell::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

}  // namespace k9
