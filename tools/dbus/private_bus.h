#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <string>
#include <vector>

namespace k9 {

// A dbus-daemon of our own, with its own configuration and socket in a temporary folder, that
// anybody on this machine may use: a stand-in for the system or the session bus. Started by
// the constructor (std::runtime_error when it does not come up), ended by the destructor.
class PrivateBus final {
  public:
    enum class Kind { System, Session };

    explicit PrivateBus(Kind kind);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // "unix:path=...,guid=...", for DBUS_SYSTEM_BUS_ADDRESS or DBUS_SESSION_BUS_ADDRESS.
    const std::string& address() const { return address_; }

  private:
    QTemporaryDir dir_;
    QProcess daemon_;
    std::string address_;
};

// tools/dbus/k9_dbus_standin.py: logind's Inhibit on one bus, the notification service (and
// a listener for task bar progress) on another; an empty address leaves that service out.
// Returns once its names are taken; ends with the object.
class DBusStandIn final {
  public:
    DBusStandIn(const std::string& login1Bus, const std::string& notificationsBus);
    ~DBusStandIn();
    DBusStandIn(const DBusStandIn&) = delete;
    DBusStandIn& operator=(const DBusStandIn&) = delete;

    // What it was asked and saw, one line each: "Inhibit [...]", "Released [1]", ...
    std::vector<std::string> log() const;

  private:
    QTemporaryDir dir_;
    QProcess process_;
};

}  // namespace k9
