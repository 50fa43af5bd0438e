#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "desktop/desktop_bus.h"
#include "update/run_events.h"

namespace k9 {

// A run takes minutes and users look elsewhere meanwhile: when one ends while the window is
// not the active one, the desktop shows a notification with the outcome, and clicking it
// brings the window back. Nothing while the window is active, nothing without a notification
// service, and never a wait for one.
class DoneNotifier final : public RunObserver {
  public:
    DoneNotifier(std::function<bool()> windowActive, std::function<void()> raiseWindow,
                 std::string deviceName = "Sentrel K9");
    ~DoneNotifier() override;
    DoneNotifier(const DoneNotifier&) = delete;
    DoneNotifier& operator=(const DoneNotifier&) = delete;

    void runEnded(const RunRecord& record) override;

  private:
    void listen(QDBusConnection& bus);
    void signalled(const QDBusMessage& message);

    std::function<bool()> windowActive_;
    std::function<void()> raiseWindow_;
    std::string deviceName_;
    DesktopBus bus_{QDBusConnection::SessionBus};
    std::unique_ptr<SignalRelay> relay_;
    QObject calls_;
    std::set<quint32> shown_;  // our notifications the service still shows
};

// The notice of a run's end: the outcome as the window words it, and for a run that did not
// update the unit the first line of why.
struct DoneNotice {
    std::string summary;
    std::string body;
};
DoneNotice doneNotice(const RunRecord& record, const std::string& deviceName);

}  // namespace k9
