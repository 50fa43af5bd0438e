#include "config/settings_file.h"

#include <QFile>

#include "platform/file_table.h"

namespace k9 {

std::optional<std::string> readSettingsText(const std::string& path, std::size_t maxChars) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray bytes = file.read(static_cast<qint64>(maxChars));
    if (bytes.isNull() && file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return bytes.toStdString();
}

void replaceSettingsFile(const std::string& path, const std::string& bytes) {
    // A read-only old file goes too: the rename needs only the folder's permission.
    replaceFileAtomically(path, bytes, false);
}

}  // namespace k9
