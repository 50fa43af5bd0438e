#include "private_bus.h"

#include <QFile>
#include <stdexcept>

#ifndef K9_DBUS_STANDIN_SCRIPT
#error "K9_DBUS_STANDIN_SCRIPT must name tools/dbus/k9_dbus_standin.py"
#endif

namespace k9 {
namespace {

constexpr int kStartMs = 20000;

// The first line the process prints, or throws with what it said on stderr.
QByteArray firstLine(QProcess& process, const char* what) {
    QByteArray out;
    while (!out.contains('\n')) {
        if (!process.waitForReadyRead(kStartMs)) {
            throw std::runtime_error(std::string(what) + " did not start: " +
                                     process.readAllStandardError().toStdString());
        }
        out += process.readAllStandardOutput();
    }
    return out.left(out.indexOf('\n')).trimmed();
}

}  // namespace

PrivateBus::PrivateBus(Kind kind) {
    const QString config = dir_.filePath("bus.conf");
    QFile file(config);
    if (!dir_.isValid() || !file.open(QIODevice::WriteOnly)) {
        throw std::runtime_error("cannot write the private bus's configuration");
    }
    file.write(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n<busconfig>\n<type>" +
        QByteArray(kind == Kind::System ? "system" : "session") +
        "</type>\n<listen>unix:path=" + dir_.filePath("bus").toUtf8() +
        "</listen>\n<auth>EXTERNAL</auth>\n<policy context=\"default\">\n"
        "<allow user=\"*\"/><allow own=\"*\"/><allow send_destination=\"*\"/>\n"
        "<allow receive_sender=\"*\"/>\n</policy>\n</busconfig>\n");
    file.close();
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {"--config-file=" + config, QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    address_ = firstLine(daemon_, "dbus-daemon").toStdString();
}

PrivateBus::~PrivateBus() {
    daemon_.terminate();
    daemon_.waitForFinished(3000);
}

DBusStandIn::DBusStandIn(const std::string& login1Bus, const std::string& notificationsBus) {
    const QString python = qEnvironmentVariable("K9_PYTHON", QStringLiteral("/usr/bin/python3"));
    QStringList args{QStringLiteral(K9_DBUS_STANDIN_SCRIPT), QStringLiteral("--log"),
                     dir_.filePath("log")};
    if (!login1Bus.empty()) {
        args << QStringLiteral("--login1") << QString::fromStdString(login1Bus);
    }
    if (!notificationsBus.empty()) {
        args << QStringLiteral("--notifications") << QString::fromStdString(notificationsBus);
    }
    process_.start(python, args);
    if (firstLine(process_, "the D-Bus stand-in") != "K9DBUS READY") {
        throw std::runtime_error("the D-Bus stand-in did not take its names");
    }
}

DBusStandIn::~DBusStandIn() {
    process_.closeWriteChannel();  // it ends when its stdin closes
    if (!process_.waitForFinished(3000)) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

std::vector<std::string> DBusStandIn::log() const {
    QFile file(dir_.filePath("log"));
    std::vector<std::string> lines;
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            if (!line.isEmpty()) {
                lines.push_back(line.toStdString());
            }
        }
    }
    return lines;
}

}  // namespace k9
