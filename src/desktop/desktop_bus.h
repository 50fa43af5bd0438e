#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <functional>

namespace k9 {

// A connection of its own to the system or the session bus, at the address the environment
// names (DBUS_SYSTEM_BUS_ADDRESS, DBUS_SESSION_BUS_ADDRESS), else at the usual socket. Never
// starts a bus: without one the connection is simply not connected.
class DesktopBus final {
  public:
    explicit DesktopBus(QDBusConnection::BusType type);
    ~DesktopBus();
    DesktopBus(const DesktopBus&) = delete;
    DesktopBus& operator=(const DesktopBus&) = delete;

    // Connects on first use; a failed attempt is tried again at the next call.
    QDBusConnection& connection();
    bool connected() const { return bus_.isConnected(); }
    // Why the last attempt failed, for a trace line.
    QString error() const { return error_; }

  private:
    QDBusConnection::BusType type_;
    QString name_;
    QDBusConnection bus_;
    QString error_;
};

// Hands a D-Bus signal to a function: Qt D-Bus delivers signals to slots only.
class SignalRelay final : public QObject {
    Q_OBJECT

  public:
    explicit SignalRelay(std::function<void(const QDBusMessage&)> onSignal)
        : onSignal_(std::move(onSignal)) {}

  public Q_SLOTS:
    void relay(const QDBusMessage& message) { onSignal_(message); }

  private:
    std::function<void(const QDBusMessage&)> onSignal_;
};

// How long a call may wait for its answer; the calls are asynchronous, so this bounds only
// how long an answer is still taken.
inline constexpr int kBusReplyTimeoutMs = 10000;

}  // namespace k9
