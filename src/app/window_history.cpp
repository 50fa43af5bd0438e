#include "app/window_history.h"

#include <QAction>
#include <QEvent>
#include <QWidget>

#include "app/history_dialog.h"
#include "config/app_config.h"
#include "history/history_store.h"
#include "update/run_events.h"

namespace k9 {

WindowHistory::WindowHistory(QWidget& window, QAction& item, MainView& view, EventLoop& loop,
                             RunEvents& events, HistoryStore& store, const AppConfig& config)
    : window_(window),
      events_(events),
      store_(store),
      checkAtStart_(config.checkAtStart),
      line_(store, view),
      check_(loop, store, view, config.ftpHost) {
    events_.add(line_);
    events_.add(check_);
    connect(&item, &QAction::triggered, this, [this] { showHistory(); });
    window_.installEventFilter(this);
}

WindowHistory::~WindowHistory() {
    events_.remove(check_);
    events_.remove(line_);
}

void WindowHistory::windowShown() {
    if (checkAtStart_) {
        check_.start();
    }
}

void WindowHistory::showHistory() {
    HistoryDialog frmHistory(store_.runs(), &window_);
    frmHistory.exec();
}

bool WindowHistory::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::Close) {
        check_.cancel();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace k9
