#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/device_watch.h"
#include "platform/port_identity.h"
#include "platform/port_lock.h"
#include "platform/port_probe.h"
#include "platform/qt_serial_line.h"
#include "platform/runtime_error.h"
#include "pty_device.h"

namespace k9 {
namespace {

using test::PtyDevice;
namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

// checkPortAccess(path) in a child process that runs as nobody when we are root, so the
// device's permissions count; otherwise the node is made unreadable for the owner too.
PortAccessReport accessAsOutsider(const std::string& path) {
    if (::getuid() != 0) {
        ::chmod(path.c_str(), 0);
        return checkPortAccess(path);
    }
    int pipeFds[2];
    EXPECT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(2);
        }
        const PortAccessReport r = checkPortAccess(path);
        const std::string line = std::to_string(static_cast<int>(r.access)) + " " +
                                 std::to_string(r.userInGroup) + " " + r.group;
        ::write(pipeFds[1], line.data(), line.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[256] = {};
    const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer - 1);
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    PortAccessReport r;
    int access = 0;
    int inGroup = 0;
    char group[128] = {};
    if (got > 0 && std::sscanf(buffer, "%d %d %127s", &access, &inGroup, group) >= 2) {
        r.access = static_cast<PortAccess>(access);
        r.userInGroup = inGroup != 0;
        r.group = group;
    }
    return r;
}

std::string groupOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    const group* g = ::getgrgid(st.st_gid);
    return g ? g->gr_name : "";
}

TEST(PortAccess, TellsFreeAbsentBusyAndDeniedApart) {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    PtyDevice pty;
    std::ofstream(root + "/file") << "not a port";
    fs::create_directory(root + "/folder");
    ::mkfifo((root + "/fifo").c_str(), 0600);
    fs::create_symlink(pty.path(), root + "/link");
    fs::create_symlink(root + "/gone", root + "/dangling");

    struct Case {
        std::string path;
        PortAccess access;
    };
    const std::vector<Case> cases{
        {pty.path(), PortAccess::Free},
        {root + "/link", PortAccess::Free},  // a by-id style link
        {root + "/file", PortAccess::Absent},
        {root + "/folder", PortAccess::Absent},
        {root + "/fifo", PortAccess::Absent},  // opening it would wait for a writer
        {root + "/dangling", PortAccess::Absent},
        {root + "/missing", PortAccess::Absent},
        {"/dev/null", PortAccess::Absent},  // a device, but no terminal
        {"", PortAccess::Absent},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checkPortAccess(c.path).access, c.access) << c.path;
        if (c.access != PortAccess::Absent) {
            continue;
        }
        // What is no port is an absent port to the list and to opening, and never waits.
        EXPECT_EQ(QtPortProbe({{1, c.path}}).probe(1), ProbeResult::Absent) << c.path;
        QtSerialLine line({{1, c.path}});
        try {
            line.setPortOpen(true);
            ADD_FAILURE() << c.path << " opened";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), err::kInvalidPortNumber) << c.path;
        }
    }

    // Held by another serial line: busy, and its lock names the holder.
    QtSerialLine holder({{1, root + "/link"}});
    holder.setPortOpen(true);
    const PortAccessReport held = checkPortAccess(root + "/link");
    EXPECT_EQ(held.access, PortAccess::Busy);
    EXPECT_EQ(held.holderPid, ::getpid());
    holder.setPortOpen(false);

    const PortAccessReport denied = accessAsOutsider(pty.path());
    EXPECT_EQ(denied.access, PortAccess::NoPermission);
    EXPECT_EQ(denied.group, groupOf(pty.path()));
    EXPECT_FALSE(denied.group.empty());
}

TEST(PortLock, ReadsTheHolderFromTheLockFile) {
    const std::int32_t binaryPid = 4321;
    struct Case {
        std::string content;
        long pid;
    };
    const std::vector<Case> cases{
        {"      4321\n", 4321},                   // UUCP: ten columns
        {"4321\nk9updater\nhost\nuuid\n", 4321},  // Qt: pid, then who
        {std::string(reinterpret_cast<const char*>(&binaryPid), 4), 4321},
        {"", 0},
        {"k9\n", 0},
        {"43x1\n", 0},
        {"-5\n", 0},
        {"12345678901\n", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lockFilePid(c.content), c.pid) << c.content;
    }
    EXPECT_EQ(lockFileName("/dev/ttyUSB0"), "LCK..ttyUSB0");
    EXPECT_EQ(lockFileName("/dev/pts/3"), "LCK..pts_3");
    EXPECT_EQ(lockFileName("/tmp/k9/ttyK9"), "LCK.._tmp_k9_ttyK9");

    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    std::ofstream(folder + "/LCK..ttyUSB0") << "  " << ::getpid() << "\n";
    std::ofstream(folder + "/LCK..ttyUSB1") << "99999999\n";  // beyond any pid: stale
    EXPECT_EQ(lockHolder("/dev/ttyUSB0", {folder}), ::getpid());
    EXPECT_EQ(lockHolder("/dev/ttyUSB1", {folder}), 0);
    EXPECT_EQ(lockHolder("/dev/ttyUSB2", {folder}), 0);
}

// Turns of the event loop until `done`; false if it never came.
bool turnUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 5000 && !done(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

TEST(DeviceWatch, SeesALinkComeAndGoAndAFolderAppear) {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    PtyDevice pty;
    const std::string byId = root + "/by-id";
    const std::string link = byId + "/usb-K9_adapter";
    int changes = 0;
    DeviceWatch watch({root, byId}, [&] { ++changes; });
    EXPECT_EQ(watch.watched(), std::vector<std::string>{root});

    const std::string before = deviceSignature({link});
    fs::create_directory(byId);
    ASSERT_TRUE(turnUntil([&] { return watch.watched().size() == 2; }));
    fs::create_symlink(pty.path(), link);
    const int seen = changes;
    ASSERT_TRUE(turnUntil([&] { return changes > seen; }));
    const std::string plugged = deviceSignature({link});
    EXPECT_NE(plugged, before);
    fs::remove(link);
    const int seenPlugged = changes;
    ASSERT_TRUE(turnUntil([&] { return changes > seenPlugged; }));
    EXPECT_EQ(deviceSignature({link}), before);
}

}  // namespace
}  // namespace k9
