#include "desktop/desktop_bus.h"

#include <QDBusError>
#include <atomic>

namespace k9 {
namespace {

QString uniqueName() {
    static std::atomic<int> next{0};
    return QStringLiteral("k9-desktop-%1").arg(next++);
}

// The bus's address, or empty when there is none to try.
QString busAddress(QDBusConnection::BusType type) {
    if (type == QDBusConnection::SystemBus) {
        const QString set = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
        return set.isEmpty() ? QStringLiteral("unix:path=/run/dbus/system_bus_socket") : set;
    }
    const QString set = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!set.isEmpty()) {
        return set;
    }
    // Not Qt's default: that may start a bus of its own through X11 autolaunch.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return runtime.isEmpty() ? QString() : "unix:path=" + runtime + "/bus";
}

}  // namespace

DesktopBus::DesktopBus(QDBusConnection::BusType type)
    : type_(type), name_(uniqueName()), bus_(name_) {}

DesktopBus::~DesktopBus() {
    QDBusConnection::disconnectFromBus(name_);
}

QDBusConnection& DesktopBus::connection() {
    if (bus_.isConnected()) {
        return bus_;
    }
    QDBusConnection::disconnectFromBus(name_);
    const QString address = busAddress(type_);
    if (address.isEmpty()) {
        error_ = QStringLiteral("no session bus address");
        return bus_;
    }
    bus_ = QDBusConnection::connectToBus(address, name_);
    error_ = bus_.isConnected() ? QString() : address + ": " + bus_.lastError().message();
    return bus_;
}

}  // namespace k9
