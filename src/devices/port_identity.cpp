#include "devices/port_identity.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSerialPortInfo>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "devices/lock_files.h"

namespace k9 {
namespace {

constexpr const char* kByIdFolder = "/dev/serial/by-id";

std::string realPath(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string hex4(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
    return text;
}

// The by-id link that leads to `node`, or empty.
std::string byIdName(const std::string& node) {
    std::string found;
    DIR* dir = ::opendir(kByIdFolder);
    if (dir == nullptr) {
        return found;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string link = std::string(kByIdFolder) + "/" + entry->d_name;
        if (entry->d_name[0] != '.' && realPath(link) == node) {
            found = link;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::string groupName(gid_t gid) {
    std::vector<char> buffer(16384);
    group entry{};
    group* result = nullptr;
    if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &result) != 0 || !result) {
        return {};
    }
    return result->gr_name;
}

// Whether the account's own group list (the one a new login gets) holds gid.
bool accountHasGroup(gid_t gid) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* account = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &account) != 0 || !account) {
        return false;
    }
    if (account->pw_gid == gid) {
        return true;
    }
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (::getgrouplist(account->pw_name, account->pw_gid, groups.data(), &count) < 0) {
            return false;
        }
    }
    groups.resize(static_cast<std::size_t>(count));
    for (gid_t g : groups) {
        if (g == gid) {
            return true;
        }
    }
    return false;
}

// Whether this process already runs with gid.
bool sessionHasGroup(gid_t gid) {
    if (::getegid() == gid) {
        return true;
    }
    const int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(count > 0 ? count : 0));
    const int got = count > 0 ? ::getgroups(count, groups.data()) : 0;
    for (int i = 0; i < got; ++i) {
        if (groups[static_cast<std::size_t>(i)] == gid) {
            return true;
        }
    }
    return false;
}

// A lock is named after the path its program opened: the node, or the link it was given.
long lockedBy(const std::string& devicePath, const std::string& node) {
    const long holder = lockHolder(node, defaultLockFolders());
    return holder != 0 || devicePath == node ? holder
                                             : lockHolder(devicePath, defaultLockFolders());
}

}  // namespace

std::string PortIdentity::summary() const {
    std::string text = device.empty() ? std::string("no device") : device;
    if (!resolved.empty() && resolved != device) {
        text += " -> " + resolved;
    }
    if (!present) {
        return text + " - not present";
    }
    std::vector<std::string> details;
    if (!manufacturer.empty()) {
        details.push_back(manufacturer);
    }
    if (vendorId && productId) {
        details.push_back(hex4(*vendorId) + ":" + hex4(*productId));
    }
    if (!serialNumber.empty()) {
        details.push_back("serial " + serialNumber);
    }
    if (!description.empty() || !details.empty()) {
        text += " - " + (description.empty() ? std::string("USB serial adapter") : description);
    }
    if (!details.empty()) {
        text += " (";
        for (std::size_t i = 0; i < details.size(); ++i) {
            text += (i > 0 ? ", " : "") + details[i];
        }
        text += ")";
    }
    if (!byId.empty() && byId != device) {
        text += " - " + byId;
    }
    return text;
}

PortIdentity identifyPort(const std::string& devicePath) {
    PortIdentity id;
    id.device = devicePath;
    id.resolved = realPath(devicePath);
    struct stat st {};
    id.present =
        !id.resolved.empty() && ::stat(id.resolved.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
    if (!id.present) {
        return id;
    }
    id.byId = byIdName(id.resolved);
    const QString node = QString::fromStdString(id.resolved);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation() != node) {
            continue;
        }
        id.description = info.description().toStdString();
        id.manufacturer = info.manufacturer().toStdString();
        id.serialNumber = info.serialNumber().toStdString();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
            id.vendorId = info.vendorIdentifier();
            id.productId = info.productIdentifier();
        }
        break;
    }
    return id;
}

PortAccessReport checkPortAccess(const std::string& devicePath) {
    PortAccessReport report;
    const std::string node = realPath(devicePath);
    struct stat st {};
    // Only a character device is opened: a FIFO, a file or a folder named by mistake is no
    // port, and opening it could wait.
    if (node.empty() || ::stat(node.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return report;
    }
    report.group = groupName(st.st_gid);
    report.userInGroup = accountHasGroup(st.st_gid);
    report.sessionHasGroup = sessionHasGroup(st.st_gid);
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int error = errno;
    if (fd < 0) {
        if (error == EACCES || error == EPERM) {
            report.access = PortAccess::NoPermission;
        } else if (error == EBUSY) {
            report.access = PortAccess::Busy;
            report.holderPid = lockedBy(devicePath, node);
        }
        // Anything else (ENXIO, ENODEV, EIO: a node whose device is gone) is no port.
        return report;
    }
    const bool terminal = ::isatty(fd) == 1;
    ::close(fd);
    if (!terminal) {
        return report;
    }
    report.holderPid = lockedBy(devicePath, node);
    report.access = report.holderPid != 0 ? PortAccess::Busy : PortAccess::Free;
    return report;
}

}  // namespace k9
