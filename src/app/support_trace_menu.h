#pragma once

#include <QObject>

class QAction;
class QWidget;

namespace k9 {

class RunTrace;

// The Help menu's two items for the support trace: keeping one for every run, remembered in
// the program's own preferences (not in QK.ini), and saving the latest trace where the user
// chooses.
class SupportTraceMenu final : public QObject {
  public:
    SupportTraceMenu(QWidget& window, QAction& keep, QAction& save, RunTrace& tracer);

    // The remembered choice, unless the configuration or the environment already asks for it.
    void restore();
    void keepToggled(bool on);
    void saveLatest();

  private:
    QWidget& window_;
    QAction& keep_;
    RunTrace& tracer_;
};

}  // namespace k9
