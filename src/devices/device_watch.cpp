#include "devices/device_watch.h"

#include <sys/stat.h>

#include <QDir>
#include <algorithm>
#include <climits>
#include <cstdlib>

namespace k9 {

DeviceWatch::DeviceWatch(std::vector<std::string> folders, std::function<void()> onChange)
    : folders_(std::move(folders)), onChange_(std::move(onChange)) {
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, &watcher_,
                     [this](const QString&) { changed(); });
    watchWhatExists();
}

void DeviceWatch::watchWhatExists() {
    const QStringList current = watcher_.directories();
    for (const std::string& folder : folders_) {
        const QString path = QString::fromStdString(folder);
        if (!current.contains(path) && QDir(path).exists()) {
            watcher_.addPath(path);
        }
    }
}

void DeviceWatch::changed() {
    // A folder may have appeared (or gone, and Qt forgets it by itself).
    watchWhatExists();
    if (onChange_) {
        onChange_();
    }
}

std::vector<std::string> DeviceWatch::watched() const {
    std::vector<std::string> out;
    for (const QString& path : watcher_.directories()) {
        out.push_back(path.toStdString());
    }
    return out;
}

std::vector<std::string> deviceFolders(const std::vector<std::string>& devices) {
    std::vector<std::string> folders{"/dev", "/dev/serial", "/dev/serial/by-id"};
    for (const std::string& device : devices) {
        const std::size_t slash = device.find_last_of('/');
        if (slash == std::string::npos || slash == 0) {
            continue;
        }
        std::string folder = device.substr(0, slash);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(std::move(folder));
        }
    }
    return folders;
}

std::string deviceSignature(const std::vector<std::string>& devices) {
    std::string text;
    for (const std::string& device : devices) {
        text += device + "=";
        char resolved[PATH_MAX];
        struct stat st {};
        if (::realpath(device.c_str(), resolved) != nullptr && ::stat(resolved, &st) == 0) {
            text += std::string(resolved) + ":" + std::to_string(st.st_rdev) + ":" +
                    std::to_string(st.st_mode) + ":" + std::to_string(st.st_gid);
        }
        text += ";";
    }
    return text;
}

}  // namespace k9
