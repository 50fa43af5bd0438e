#pragma once

#include <QObject>
#include <functional>
#include <string>

#include "desktop/desktop_bus.h"
#include "update/run_events.h"

class QDBusPendingCallWatcher;

namespace k9 {

// Keeps the machine from sleeping while a run lasts: a laptop that suspends among the data
// lines leaves the unit half-written. Holds a logind "block" inhibitor from the run's start to
// its end, whichever way it ends, and lets it go when destroyed (the program closed mid-run).
// Without a system bus or logind it says so in one note a run and the run goes on as before.
class SleepInhibitor final : public RunObserver {
  public:
    using Note = std::function<void(const std::string&)>;

    explicit SleepInhibitor(Note note = {});
    ~SleepInhibitor() override;
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;

    void runStarted(const RunStart&) override { acquire(); }
    void runEnded(const RunRecord&) override { release(); }

    // logind's answer has come and the inhibitor is held.
    bool held() const { return fd_ >= 0; }

  private:
    void acquire();
    void release();
    void answered(QDBusPendingCallWatcher& call);
    void note(const std::string& text) const;

    Note note_;
    DesktopBus bus_{QDBusConnection::SystemBus};
    QObject calls_;  // the pending call's watcher lives here
    bool wanted_ = false;
    bool asking_ = false;
    int fd_ = -1;  // logind lets go when this closes
};

}  // namespace k9
