#pragma once

#include <QString>
#include <string>

#include "desktop/desktop_bus.h"
#include "update/run_progress.h"

namespace k9 {

// The run's progress on the task bar entry, where the desktop shows one (KDE Plasma and the
// docks that follow com.canonical.Unity.LauncherEntry); cleared when the run ends. A signal
// goes out only when the whole percentage changes.
class TaskbarProgress final : public RunObserver {
  public:
    explicit TaskbarProgress(RunProgress::Clock clock,
                             QString appUri = QStringLiteral("application://k9updater.desktop"));

    void runStarted(const RunStart& start) override;
    void runRestarted() override;
    void stageEntered(Stage stage) override;
    void checkTick(std::int16_t retryCount) override;
    void transfer(const TransferProgress& progress) override;
    void linesSent(std::int32_t sent, std::int32_t total) override;
    void offerWait(std::int64_t waitMs) override;
    void runEnded(const RunRecord& record) override;

  private:
    void show();
    void send(double progress, bool visible);

    RunProgress progress_;
    QString appUri_;
    DesktopBus bus_{QDBusConnection::SessionBus};
    bool useBus_ = false;  // a session bus answered at the run's start
    int shown_ = -1;
};

}  // namespace k9
