#pragma once

#include <QObject>

#include "history/last_update_line.h"
#include "history/startup_check.h"

class QAction;
class QWidget;

namespace k9 {

struct AppConfig;
class EventLoop;
class HistoryStore;
class MainView;
class RunEvents;

// The history in the window: Help > "Update History...", the line under the status text once
// a unit's serial number has arrived, and the check at start-up for a newer file. It follows
// the runs from its making to its end, so it goes before the run's events and the window do
// (it is nobody's child).
class WindowHistory final : public QObject {
  public:
    WindowHistory(QWidget& window, QAction& item, MainView& view, EventLoop& loop,
                  RunEvents& events, HistoryStore& store, const AppConfig& config);
    ~WindowHistory() override;

    // Once the window is on screen: arms the start-up check, unless check_at_start = off.
    void windowShown();
    void showHistory();
    StartupCheck& startupCheck() { return check_; }

  protected:
    // The window's close ends a check in progress, so the program does not wait for it.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QWidget& window_;
    RunEvents& events_;
    HistoryStore& store_;
    bool checkAtStart_;
    LastUpdateLine line_;
    StartupCheck check_;
};

}  // namespace k9
