#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>

#include "app_test_support.h"
#include "devices/device_watch.h"
#include "devices/lock_files.h"
#include "devices/port_lock.h"
#include "devices/port_probe.h"
#include "devices/qt_serial_line.h"
#include "error_number.h"
#include "platform/runtime_error.h"
#include "pty_device.h"

namespace k9 {
namespace {

namespace fs = std::filesystem;

// The access check as a user the device does not let in: nobody when we are root, else the
// owner of a node made unreadable.
PortAccess accessAsOutsider(const std::string& path) {
    if (::getuid() != 0) {
        ::chmod(path.c_str(), 0);
        return checkPortAccess(path).access;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const gid_t nobody = 65534;
        const bool dropped =
            ::setgroups(0, nullptr) == 0 && ::setgid(nobody) == 0 && ::setuid(nobody) == 0;
        ::_exit(dropped ? static_cast<int>(checkPortAccess(path).access) : 99);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<PortAccess>(WEXITSTATUS(status));
}

TEST(PortAccess, TellsFreeAbsentBusyAndDeniedApart) {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    test::PtyDevice pty;
    std::ofstream(root + "/file") << "not a port";
    fs::create_directory(root + "/folder");
    ::mkfifo((root + "/fifo").c_str(), 0600);
    fs::create_symlink(pty.slavePath(), root + "/link");
    fs::create_symlink(root + "/gone", root + "/dangling");
    for (const std::string& path : {pty.slavePath(), root + "/link"}) {
        EXPECT_EQ(checkPortAccess(path).access, PortAccess::Free) << path;
    }
    // No port, to the list and to opening either; opening the fifo could wait for a writer.
    for (const std::string& path : {root + "/file", root + "/folder", root + "/fifo",
                                    root + "/dangling", std::string("/dev/null")}) {
        EXPECT_EQ(checkPortAccess(path).access, PortAccess::Absent) << path;
        EXPECT_EQ(QtPortProbe({{1, path}}).probe(1), ProbeResult::Absent) << path;
        QtSerialLine line({{1, path}});
        EXPECT_EQ(test::errorNumberOf([&] { line.setPortOpen(true); }), err::kInvalidPortNumber)
            << path;
    }
    QtSerialLine holder({{1, root + "/link"}});
    holder.setPortOpen(true);
    const PortAccessReport held = checkPortAccess(root + "/link");
    EXPECT_EQ(held.access, PortAccess::Busy);
    EXPECT_EQ(held.holderPid, ::getpid());  // from the holder's lock file
    holder.setPortOpen(false);

    EXPECT_FALSE(checkPortAccess(pty.slavePath()).group.empty());
    EXPECT_EQ(accessAsOutsider(pty.slavePath()), PortAccess::NoPermission);
}

TEST(PortLock, ReadsTheHolderFromTheLockFile) {
    const std::int32_t binary = 4321;
    const std::string holder[] = {"      4321\n", "4321\nk9updater\nhost\n",
                                  std::string(reinterpret_cast<const char*>(&binary), 4)};
    for (const std::string& content : holder) {
        EXPECT_EQ(lockFilePid(content), 4321) << content;
    }
    for (const char* content : {"", "k9\n", "43x1\n", "-5\n", "12345678901\n"}) {
        EXPECT_EQ(lockFilePid(content), 0) << content;
    }
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    std::ofstream(folder + "/LCK..ttyUSB0") << "  " << ::getpid() << "\n";
    std::ofstream(folder + "/LCK..ttyUSB1") << "99999999\n";  // beyond any pid: stale
    EXPECT_EQ(lockHolder("/dev/ttyUSB0", {folder}), ::getpid());
    EXPECT_EQ(lockHolder("/dev/ttyUSB1", {folder}), 0);
    // Our own lock on a port names its holder to whoever comes second.
    const PortLock first(folder + "/COM1.lock");
    const PortLock second(folder + "/COM1.lock");
    EXPECT_TRUE(first.held());
    EXPECT_FALSE(second.held());
    EXPECT_EQ(second.holder(), ::getpid());
}

TEST(DeviceWatch, SeesALinkComeAndGoInAFolderThatAppeared) {
    QTemporaryDir dir;
    const std::string byId = dir.path().toStdString() + "/by-id";
    test::PtyDevice pty;
    int changes = 0;
    DeviceWatch watch({dir.path().toStdString(), byId}, [&] { ++changes; });
    fs::create_directory(byId);
    ASSERT_TRUE(test::processUntil([&] { return watch.watched().size() == 2; }, 5000));
    for (bool plug : {true, false}) {
        const int seen = changes;
        plug ? fs::create_symlink(pty.slavePath(), byId + "/usb-K9")
             : static_cast<void>(fs::remove(byId + "/usb-K9"));
        ASSERT_TRUE(test::processUntil([&] { return changes > seen; }, 5000)) << plug;
    }
}

}  // namespace
}  // namespace k9
