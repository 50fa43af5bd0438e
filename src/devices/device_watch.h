#pragma once

#include <QFileSystemWatcher>
#include <functional>
#include <string>
#include <vector>

namespace k9 {

// Tells when an entry of a device folder appears, goes or changes, through inotify: nothing
// runs while nothing changes. A folder that does not exist yet (/dev/serial/by-id before the
// first adapter) is watched from the moment it appears.
class DeviceWatch final {
  public:
    DeviceWatch(std::vector<std::string> folders, std::function<void()> onChange);
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    std::vector<std::string> watched() const;

  private:
    void changed();
    void watchWhatExists();

    std::vector<std::string> folders_;
    std::function<void()> onChange_;
    QFileSystemWatcher watcher_;
};

// /dev, /dev/serial and /dev/serial/by-id, and the folder of each path in `devices`.
std::vector<std::string> deviceFolders(const std::vector<std::string>& devices);

// What the paths lead to now: a node that comes, goes, moves or changes owner or mode gives
// another text.
std::string deviceSignature(const std::vector<std::string>& devices);

}  // namespace k9
