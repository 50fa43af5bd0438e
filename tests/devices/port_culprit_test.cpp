#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <vector>

#include "devices/port_culprit.h"
#include "devices/vanish_watch.h"

namespace k9 {
namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, std::string>>;
using enum CulpritKind;
using enum PortSymptom;

// Lays out a machine below `base`: "->target" makes a link, a path ending in "/" a folder.
void lay(const std::string& base, const Files& files) {
    for (const auto& [path, content] : files) {
        const fs::path at = base + "/" + path;
        fs::create_directories(path.ends_with('/') ? at : at.parent_path());
        if (content.starts_with("->")) {
            fs::remove(at);
            fs::create_symlink(content.substr(2), at);
        } else if (!path.ends_with('/')) {
            std::ofstream(at) << content;
        }
    }
}

Files operator+(Files a, const Files& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A CH340 on usb 1-1 with its node, its sysfs folders and its udev number.
const Files kCh340{{"dev/ttyUSB0", ""},
                   {"dev/serial/by-id/usb-1a86_USB_Serial-if00-port0", "->../../ttyUSB0"},
                   {"sys/devices/usb1/1-1/idVendor", "1a86\n"},
                   {"sys/devices/usb1/1-1/idProduct", "7523\n"},
                   {"sys/devices/usb1/1-1/1-1:1.0/ttyUSB0/", ""},
                   {"sys/class/tty/ttyUSB0/dev", "188:0\n"},
                   {"sys/class/tty/ttyUSB0/device", "->../../../devices/usb1/1-1/1-1:1.0/ttyUSB0"},
                   {"proc/1/comm", "systemd\n"},
                   {"proc/1/fd/", ""}};
const Files kBrlttyRules{
    {"usr/lib/udev/rules.d/85-brltty.rules",
     "# Device: 0403:6001\n# ENV{PRODUCT}==\"403/6001/*\", GOTO=\"brltty_usb_run\"\n"
     "ENV{PRODUCT}==\"1a86/7523/*\", ENV{BRLTTY_BRAILLE_DRIVER}=\"bm\", "
     "GOTO=\"brltty_usb_run\"\n"}};
const Files kBrlttyRunning{{"proc/812/comm", "brltty\n"}};
// A process whose open files we may not list: its fd folder cannot be read.
const Files kHiddenModemManager{{"proc/300/comm", "ModemManager\n"}};
const Files kKernelLog{
    {"dev/kmsg",
     "6,901,1,-;usb 1-1: New USB device found, idVendor=1a86, idProduct=7523, bcdDevice= 2.64\n"
     " SUBSYSTEM=usb\n"
     "6,902,2,-;usb 1-1: ch341-uart converter now attached to ttyUSB0\n"
     "4,903,3,-;usb 1-1: usbfs: interface 0 claimed by ch341 while 'brltty' sets config #1\n"
     "6,904,4,-;ch341-uart ttyUSB0: ch341-uart converter now disconnected from ttyUSB0\n"}};

const Files kGpsd{{"proc/90/comm", "gpsd\n"},
                  {"lib/udev/rules.d/60-gpsd.rules",
                   "ATTRS{idVendor}==\"10c4\", ATTRS{idProduct}==\"ea60\", SYMLINK+=\"gps%n\", "
                   "ENV{SYSTEMD_WANTS}=\"gpsdctl@%k.service\"\n"}};
const Files kMinicom{{"proc/4242/comm", "minicom\n"}, {"proc/4242/fd/3", "->/dev/ttyUSB0"}};

const std::string kNode = "/dev/ttyUSB0";
const std::string kBrlttyLine =
    "brltty, the braille display service, took the adapter 1a86:7523 for a braille display, so "
    "/dev/ttyUSB0 went away. If nobody here reads with a braille display, stop it: sudo systemctl "
    "stop brltty-udev.service brltty.service. Or keep it off this adapter, and plug the adapter in "
    "again, with this line in /etc/udev/rules.d/86-k9updater-1a86-7523.rules: "
    "SUBSYSTEM==\"usb\", ENV{PRODUCT}==\"1a86/7523/*\", ENV{SYSTEMD_WANTS}=\"\"";
const std::string kCameAndWent =
    kNode + " came and went within seconds; the system log may tell why (sudo dmesg).";
const std::string kOtherUser =
    kNode + " is held by a process of another user: ask them, or the administrator, to close it.";
const std::string kMinicomLine = kNode + " is held by minicom (pid 4242): close it there.";

TEST(PortCulprit, NamesEachCulpritWithItsAdvice) {
    const UsbIds ch340{0x1a86, 0x7523};
    using Pieces = std::vector<std::string>;  // of the line; one piece is the whole line
    struct Row {
        const char* name;
        Files files;
        PortSymptom symptom;
        std::optional<UsbIds> ids;  // as the caller saw them
        CulpritKind kind;
        long pid;
        Pieces says;
    };
    const std::vector<Row> rows{
        {"brltty runs and its rule takes the adapter", kBrlttyRunning + kBrlttyRules, Vanished,
         ch340, Brltty, 812, Pieces{kBrlttyLine}},
        {"the kernel log names brltty, and gives the ids", kKernelLog, Vanished, std::nullopt,
         Brltty, 0, Pieces{kBrlttyLine}},
        {"a local copy of the rules without the adapter stands",
         kBrlttyRunning + kBrlttyRules + Files{{"etc/udev/rules.d/85-brltty.rules", "# none\n"}},
         Vanished, ch340, None, 0, Pieces{kCameAndWent}},
        {"a rule only in a comment", kBrlttyRunning + kBrlttyRules, Vanished,
         UsbIds{0x0403, 0x6001}, None, 0, Pieces{kCameAndWent}},
        {"ModemManager holds it, seen through its open files",
         kCh340 + Files{{"proc/300/comm", "ModemManager\n"}, {"proc/300/fd/7", "->" + kNode}}, Busy,
         std::nullopt, ModemManager, 300,
         Pieces{kNode + " is held by ModemManager", "lets go within seconds",
                "/etc/udev/rules.d/70-k9updater-1a86-7523.rules: ATTRS{idVendor}==\"1a86\", "
                "ATTRS{idProduct}==\"7523\", ENV{ID_MM_DEVICE_IGNORE}=\"1\""}},
        // Ids as given, four hex digits each in the rule.
        {"ModemManager hidden, the port its candidate",
         kCh340 + kHiddenModemManager + Files{{"run/udev/data/c188:0", "E:ID_MM_CANDIDATE=1\n"}},
         Busy, UsbIds{0x2341, 0x0043}, ModemManager, 300,
         Pieces{"is held by ModemManager",
                "70-k9updater-2341-0043.rules: ATTRS{idVendor}==\"2341\", "
                "ATTRS{idProduct}==\"0043\", ENV{ID_MM_DEVICE_IGNORE}=\"1\""}},
        {"ModemManager hidden, the port ignored by it",
         kCh340 + kHiddenModemManager +
             Files{{"run/udev/data/c188:0", "E:ID_MM_CANDIDATE=1\nE:ID_MM_DEVICE_IGNORE=1\n"}},
         Busy, std::nullopt, OtherUser, 0, Pieces{kOtherUser}},
        {"gpsd hidden, its rules take the adapter",
         kCh340 + kGpsd +
             Files{{"sys/devices/usb1/1-1/idVendor", "10c4\n"},
                   {"sys/devices/usb1/1-1/idProduct", "ea60\n"},
                   {"run/udev/data/c188:0", "E:SYSTEMD_WANTS=gpsdctl@ttyUSB0.service\n"}},
         Busy, std::nullopt, Gpsd, 90,
         Pieces{kNode + " is held by gpsd", "whose udev rules take 10c4:ea60",
                "sudo gpsdctl remove " + kNode,
                "/etc/udev/rules.d/61-k9updater-10c4-ea60.rules: SUBSYSTEM==\"tty\", "
                "ATTRS{idVendor}==\"10c4\", ATTRS{idProduct}==\"ea60\", ENV{SYSTEMD_WANTS}=\"\""}},
        // gpsd's rules name another adapter: hidden, it is only some process of another user.
        {"gpsd hidden, its rules for another adapter", kCh340 + kGpsd, Busy, std::nullopt,
         OtherUser, 0, Pieces{kOtherUser}},
        {"gpsd hidden, its rules for another adapter, a terminal program holds it",
         kCh340 + kGpsd + kMinicom, Busy, std::nullopt, Process, 4242, Pieces{kMinicomLine}},
        {"a terminal program, through its open files", kCh340 + kMinicom, Busy, std::nullopt,
         Process, 4242, Pieces{kMinicomLine}},
        {"a terminal program, through its lock file",
         kCh340 + Files{{"proc/777/comm", "picocom\n"},
                        {"proc/777/fd/", ""},
                        {"run/lock/LCK..ttyUSB0", "       777\n"}},
         Busy, std::nullopt, Process, 777,
         Pieces{kNode + " is held by picocom (pid 777): close it there."}},
        {"nobody to be seen", kCh340, Busy, std::nullopt, None, 0, Pieces{""}},
    };
    for (const Row& row : rows) {
        QTemporaryDir dir;
        lay(dir.path().toStdString(), row.files);
        // Vanished asks as the vanish watch does, Busy through the by-id link.
        const PortCulprit c = findPortCulprit(
            SystemRoot{dir.path().toStdString()},
            row.symptom == Busy ? "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0" : kNode,
            row.ids, row.symptom);
        EXPECT_EQ(c.kind, row.kind) << row.name;
        EXPECT_EQ(c.pid, row.pid) << row.name;
        for (const std::string& piece : row.says) {
            EXPECT_TRUE(row.says.size() == 1 ? c.line == piece
                                             : c.line.find(piece) != std::string::npos)
                << row.name << ": " << c.line;
        }
        if (row.kind != Process && row.kind != OtherUser) {
            // Braille readers need it: never advised away.
            EXPECT_EQ(c.line.find("remove brltty"), std::string::npos) << row.name;
            EXPECT_EQ(c.line.find("purge"), std::string::npos) << row.name;
        }
    }
}

TEST(VanishWatch, AsksOnlyAboutANodeThatCameAndWentWithinSeconds) {
    QTemporaryDir dir;
    const std::string base = dir.path().toStdString();
    lay(base, kBrlttyRunning + kBrlttyRules + Files{{"dev/ttyUSB5", ""}});
    std::vector<std::string> told;
    VanishWatch watch(SystemRoot{base}, [&](const std::string& node, const PortCulprit& c) {
        told.push_back(node + " " + std::to_string(c.kind == Brltty) + (c.line.empty() ? "" : "!"));
    });
    struct Step {
        std::int64_t atMs;
        bool plugged;  // ttyUSB0 with its sysfs ids, or nothing of it
        bool oldGone;  // ttyUSB5 was there before the watch
    };
    // Plugged at 1 s and taken at 2 s; plugged at 10 s and pulled at 16 s.
    for (const Step& s : {Step{1000, true, false}, Step{2000, false, false},
                          Step{10000, true, false}, Step{16000, false, true}}) {
        fs::remove_all(base + "/sys");
        fs::remove(base + "/dev/ttyUSB0");
        if (s.plugged) {
            lay(base, kCh340);
        }
        if (s.oldGone) {
            fs::remove(base + "/dev/ttyUSB5");
        }
        watch.check(s.atMs);
    }
    // The ids came from sysfs at the arrival: brltty's rule names them. The next arrival
    // takes the word back: an empty line.
    EXPECT_EQ(told, (std::vector<std::string>{"/dev/ttyUSB0 1!", "/dev/ttyUSB0 0"}));
}

}  // namespace
}  // namespace k9
