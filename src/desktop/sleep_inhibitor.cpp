#include "desktop/sleep_inhibitor.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

namespace k9 {

SleepInhibitor::SleepInhibitor(Note note) : note_(std::move(note)) {}

SleepInhibitor::~SleepInhibitor() {
    release();
}

void SleepInhibitor::note(const std::string& text) const {
    if (note_) {
        note_("sleep not inhibited: " + text);
    }
}

void SleepInhibitor::acquire() {
    // A run started again from within keeps the one inhibitor.
    if (wanted_) {
        return;
    }
    wanted_ = true;
    if (fd_ >= 0 || asking_) {
        return;
    }
    QDBusConnection& bus = bus_.connection();
    if (!bus.isConnected()) {
        note("no system bus (" + bus_.error().toStdString() + ")");
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle:handle-lid-switch") << QStringLiteral("Sentrel K9 Updater")
         << QStringLiteral("Updating the K9: keep it connected") << QStringLiteral("block");
    // Asynchronous: a bus that does not answer costs the run nothing.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kBusReplyTimeoutMs), &calls_);
    asking_ = true;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &calls_,
                     [this](QDBusPendingCallWatcher* w) { answered(*w); });
}

void SleepInhibitor::answered(QDBusPendingCallWatcher& call) {
    asking_ = false;
    call.deleteLater();
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = call;
    if (reply.isError()) {
        note(reply.error().name().toStdString() + ": " + reply.error().message().toStdString());
        return;
    }
    // The run ended before the answer came: the reply's own descriptor closes with it.
    if (!wanted_) {
        return;
    }
    fd_ = ::fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) {
        note("the inhibitor's descriptor could not be kept");
    }
}

void SleepInhibitor::release() {
    wanted_ = false;
    if (fd_ >= 0) {
        // Nothing to do about a failed close: the descriptor is gone either way.
        static_cast<void>(::close(fd_));
        fd_ = -1;
    }
}

}  // namespace k9
