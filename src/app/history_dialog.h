#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

#include "history/history_entry.h"

class QTableWidget;

namespace Ui {
class frmHistory;
}  // namespace Ui

namespace k9 {

// Help > "Update History...": the runs of every unit as a table, newest first, which "Copy"
// puts on the clipboard as text.
class HistoryDialog final : public QDialog {
  public:
    HistoryDialog(const std::vector<HistoryEntry>& entries, QWidget* parent);
    ~HistoryDialog() override;

    QTableWidget& tblHistory() const;
    void cmdCopy_Click();

  private:
    std::unique_ptr<Ui::frmHistory> ui_;
    std::string text_;
};

}  // namespace k9
