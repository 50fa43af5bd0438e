#include "app/guide_window.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QTextEdit>

#include "app/app_style.h"
#include "app/app_texts.h"
#include "app/rtf_reader.h"
#include "ui_frm_help.h"
#include "ui_frm_start.h"

namespace k9 {
namespace {

constexpr double kGuidePoints = 9.0;
constexpr double kStartDesignPoints = 9.75;

}  // namespace

void loadGuide(QTextEdit& box, const QString& path, const QColor& background) {
    if (!loadRtfFile(*box.document(), path)) {
        box.setPlainText(QString::fromStdString(missingGuideText(path.toStdString())));
    }
    QPalette palette = box.palette();
    palette.setColor(QPalette::Base, background);
    box.setPalette(palette);

    QTextCharFormat format;
    format.setFontFamilies({QStringLiteral("tahoma")});
    format.setFontPointSize(kGuidePoints);
    format.setForeground(QColor(255, 255, 255));
    QTextCursor all(box.document());
    all.select(QTextCursor::Document);
    all.mergeCharFormat(format);
    all.mergeBlockCharFormat(format);

    QTextCursor start(box.document());
    start.movePosition(QTextCursor::Start);
    box.setTextCursor(start);
}

void makeFixedDialog(QWidget& dialog) {
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    dialog.setFixedSize(dialog.size());
}

void centreOnScreen(QWidget& window) {
    const QScreen* screen =
        window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

StartDialog::StartDialog(const std::string& deviceName, const QString& guidePath, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmStart>()) {
    ui_->setupUi(this);
    QFont font = ui_->rtfStart->font();
    font.setPointSizeF(kStartDesignPoints);
    ui_->rtfStart->setFont(font);
    makeFixedDialog(*this);
    setWindowTitle(QString::fromStdString(deviceName + " Updater - Download Instructions"));
    connect(ui_->cmdNext, &QPushButton::clicked, this, [this] {
        blnNext_ = true;
        accept();
    });
    loadGuide(*ui_->rtfStart, guidePath, kInstructionsBackground);
    centreOnScreen(*this);
}

StartDialog::~StartDialog() = default;

QTextEdit& StartDialog::rtfStart() const {
    return *ui_->rtfStart;
}

HelpDialog::HelpDialog(const QString& guidePath, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::frmHelp>()) {
    ui_->setupUi(this);
    makeFixedDialog(*this);
    connect(ui_->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    loadGuide(*ui_->rtfHelp, guidePath, kHelpBackground);
    ui_->cmdOK->setFocus();
    centreOnScreen(*this);
}

HelpDialog::~HelpDialog() = default;

QTextEdit& HelpDialog::rtfHelp() const {
    return *ui_->rtfHelp;
}

}  // namespace k9
