#include "config/settings_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "platform/runtime_error.h"

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
    const QString name = QString::fromStdString(path);
    // The old file goes whatever its attributes; QSaveFile would refuse a read-only one.
    if (const QFileInfo old(name); old.exists() && !old.isWritable()) {
        QFile::setPermissions(name, old.permissions() | QFileDevice::WriteOwner);
    }
    QSaveFile file(name);
    const auto fail = [&](const char* action) {
        throw RuntimeError(
            err::kPathFileAccess, "QK.ini",
            std::string(action) + " " + path + ": " + file.errorString().toStdString());
    };
    if (!file.open(QIODevice::WriteOnly)) {
        fail("creating");
    }
    if (file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
        static_cast<qint64>(bytes.size())) {
        file.cancelWriting();
        fail("writing");
    }
    if (!file.commit()) {
        fail("saving");
    }
}

}  // namespace k9
