#include "desktop/taskbar_progress.h"

#include <QVariantMap>

namespace k9 {

TaskbarProgress::TaskbarProgress(RunProgress::Clock clock, QString appUri)
    : progress_(std::move(clock)), appUri_(std::move(appUri)) {}

void TaskbarProgress::runStarted(const RunStart& start) {
    progress_.runStarted(start);
    // One attempt a run: without a session bus the run's events cost nothing more.
    useBus_ = bus_.connection().isConnected();
    shown_ = -1;
    show();
}

void TaskbarProgress::runRestarted() {
    progress_.runRestarted();
    show();
}

void TaskbarProgress::stageEntered(Stage stage) {
    progress_.stageEntered(stage);
    show();
}

void TaskbarProgress::checkTick(std::int16_t) {
    show();  // the wait for the offer climbs with time
}

void TaskbarProgress::transfer(const TransferProgress& progress) {
    progress_.transfer(progress);
    show();
}

void TaskbarProgress::linesSent(std::int32_t sent, std::int32_t total) {
    progress_.linesSent(sent, total);
    show();
}

void TaskbarProgress::offerWait(std::int64_t waitMs) {
    progress_.offerWait(waitMs);
    show();
}

void TaskbarProgress::runEnded(const RunRecord& record) {
    progress_.runEnded(record);
    if (useBus_) {
        send(0, false);
    }
    useBus_ = false;
}

void TaskbarProgress::show() {
    const int percent = progress_.percent();
    if (!useBus_ || percent == shown_) {
        return;
    }
    shown_ = percent;
    send(percent / 100.0, true);
}

void TaskbarProgress::send(double progress, bool visible) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QStringLiteral("/com/canonical/unity/launcherentry/k9updater"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    signal << appUri_
           << QVariantMap{{QStringLiteral("progress"), progress},
                          {QStringLiteral("progress-visible"), visible}};
    // A signal waits for nobody; one that is not sent only leaves the bar as it was. A bus
    // lost mid-run is not sought again before the next run.
    if (bus_.connected()) {
        static_cast<void>(bus_.connection().send(signal));
    }
}

}  // namespace k9
