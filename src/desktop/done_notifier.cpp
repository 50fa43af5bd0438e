#include "desktop/done_notifier.h"

#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace k9 {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr const char* kDefaultAction = "default";

}  // namespace

DoneNotice doneNotice(const RunRecord& record, const std::string& deviceName) {
    if (record.end == RunEnd::Updated) {
        return {deviceName + " updated.", {}};
    }
    std::string why = record.reason.substr(0, record.reason.find('\n'));
    if (!why.empty() && why.back() == '\r') {
        why.pop_back();
    }
    return {deviceName +
                (record.end == RunEnd::Stopped ? " update stopped." : " updating unsuccessful"),
            why};
}

DoneNotifier::DoneNotifier(std::function<bool()> windowActive, std::function<void()> raiseWindow,
                           std::string deviceName)
    : windowActive_(std::move(windowActive)),
      raiseWindow_(std::move(raiseWindow)),
      deviceName_(std::move(deviceName)) {}

DoneNotifier::~DoneNotifier() = default;

void DoneNotifier::listen(QDBusConnection& bus) {
    if (relay_) {
        return;
    }
    relay_ = std::make_unique<SignalRelay>([this](const QDBusMessage& m) { signalled(m); });
    for (const char* name : {"ActionInvoked", "NotificationClosed"}) {
        // A failed subscription only costs the click on the notice.
        static_cast<void>(bus.connect(kService, kPath, kInterface, QString::fromLatin1(name),
                                      relay_.get(), SLOT(relay(QDBusMessage))));
    }
}

void DoneNotifier::signalled(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    if (args.isEmpty() || !shown_.contains(args[0].toUInt())) {
        return;
    }
    if (message.member() == QLatin1String("NotificationClosed")) {
        shown_.erase(args[0].toUInt());
    } else if (args.size() > 1 && args[1].toString() == QLatin1String(kDefaultAction) &&
               raiseWindow_) {
        raiseWindow_();
    }
}

void DoneNotifier::runEnded(const RunRecord& record) {
    if (!windowActive_ || windowActive_()) {
        return;
    }
    QDBusConnection& bus = bus_.connection();
    if (!bus.isConnected()) {
        return;
    }
    listen(bus);
    const DoneNotice notice = doneNotice(record, deviceName_);
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    call << QStringLiteral("Sentrel K9 Updater") << quint32{0} << QStringLiteral("k9updater")
         << QString::fromStdString(notice.summary) << QString::fromStdString(notice.body)
         << QStringList{QString::fromLatin1(kDefaultAction), QStringLiteral("Show")}
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("k9updater")}}
         << qint32{-1};
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kBusReplyTimeoutMs), &calls_);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &calls_,
                     [this](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         // No service, or it failed: there is nobody to tell.
                         const QDBusPendingReply<quint32> reply = *w;
                         if (!reply.isError()) {
                             shown_.insert(reply.value());
                         }
                     });
}

}  // namespace k9
