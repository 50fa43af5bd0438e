#include "app/history_dialog.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>

#include "ui_frm_history.h"

namespace k9 {

HistoryDialog::HistoryDialog(const std::vector<HistoryEntry>& entries, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmHistory>()) {
    ui_->setupUi(this);
    const auto rows = historyTable(entries);
    text_ = tableText(rows);
    QTableWidget& table = *ui_->tblHistory;
    table.setColumnCount(static_cast<int>(rows.front().size()));
    table.setRowCount(static_cast<int>(rows.size() - 1));
    for (std::size_t row = 0; row < rows.size(); ++row) {
        for (std::size_t column = 0; column < rows[row].size(); ++column) {
            auto* item = new QTableWidgetItem(QString::fromStdString(rows[row][column]));
            if (row == 0) {
                table.setHorizontalHeaderItem(static_cast<int>(column), item);
            } else {
                table.setItem(static_cast<int>(row - 1), static_cast<int>(column), item);
            }
        }
    }
    table.resizeColumnsToContents();
    ui_->lblCount->setText(entries.empty() ? QStringLiteral("No runs recorded yet.")
                                           : QStringLiteral("%1 run(s)").arg(entries.size()));
    ui_->cmdCopy->setEnabled(!entries.empty());
    connect(ui_->cmdCopy, &QPushButton::clicked, this, [this] { cmdCopy_Click(); });
    connect(ui_->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

HistoryDialog::~HistoryDialog() = default;

QTableWidget& HistoryDialog::tblHistory() const {
    return *ui_->tblHistory;
}

void HistoryDialog::cmdCopy_Click() {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text_));
}

}  // namespace k9
