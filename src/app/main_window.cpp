#include "app/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <exception>

#include "app/app_style.h"
#include "app/app_texts.h"
#include "app/guide_window.h"
#include "app/main_form.h"
#include "app/message_presenter.h"
#include "ui_frm_main.h"

namespace k9 {
namespace {

// The window keeps one size: 6750 x 5300 twips outside (450 x 353 pixels). Frames differ from
// one desktop to the next, so what is fixed is the inside such a window has with a single
// fixed border (3 pixels) and a caption (19 pixels): the menu bar and the top band of the
// controls, down to just below the buttons.
constexpr int kTwipsPerPixel = 15;
constexpr int kOuterWidth = 6750 / kTwipsPerPixel;
constexpr int kOuterHeight = 5300 / kTwipsPerPixel;
constexpr int kBorder = 3;
constexpr int kCaption = 19;
const QSize kClientSize{kOuterWidth - 2 * kBorder, kOuterHeight - 2 * kBorder - kCaption};

// Designer stores whole points; these are the designed sizes.
constexpr double kSmallLabelPoints = 8.25;
constexpr double kDotsPoints = 13.5;

// Right of the "Download File" caption, above the buttons (which begin at 272): the one free
// band beside the lists.
const QRect kPortDeviceBox{176, 256, 260, 16};
// Two lines of small type at the foot of the status label.
constexpr int kAsideHeight = 30;

void setPoints(QWidget& widget, double points) {
    QFont font = widget.font();
    font.setPointSizeF(points);
    widget.setFont(font);
}

}  // namespace

MainWindow::MainWindow(MessagePresenter& messages, std::string guideDir)
    : ui_(std::make_unique<Ui::frmMain>()),
      messages_(messages),
      guideDir_(std::move(guideDir)),
      onEnd_([] { QCoreApplication::exit(0); }),
      throttle_(
          kRepaintIntervalMs, [this] { return clock_.elapsed(); },
          [this](std::int64_t delayMs) { repaintTimer_.start(static_cast<int>(delayMs)); },
          [this] { applyPending(); }) {
    initResources();
    ui_->setupUi(this);
    setWindowIcon(appIcon());
    clock_.start();
    repaintTimer_.setSingleShot(true);
    connect(&repaintTimer_, &QTimer::timeout, this, [this] { throttle_.timerFired(); });

    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    for (QLabel* label : {ui_->Label6, ui_->Label8, ui_->Label3, ui_->Label7, ui_->Label5,
                          ui_->Label11, ui_->Label4, ui_->Label1}) {
        setPoints(*label, kSmallLabelPoints);
    }
    setPoints(*ui_->lblDots, kDotsPoints);
    ui_->cmdClose->setEnabled(false);

    lblPortDevice_ = new QLabel(ui_->Label6->parentWidget());
    lblPortDevice_->setObjectName(QStringLiteral("lblPortDevice"));
    lblPortDevice_->setGeometry(kPortDeviceBox);
    lblPortDevice_->setPalette(ui_->Label6->palette());
    QFont detailFont = ui_->Label6->font();
    detailFont.setBold(false);
    lblPortDevice_->setFont(detailFont);
    setPoints(*lblPortDevice_, kSmallLabelPoints);
    lblPortDevice_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lblPortDevice_->show();

    lblAside_ = new QLabel(ui_->lblStatus->parentWidget());
    lblAside_->setObjectName(QStringLiteral("lblAside"));
    const QRect status = ui_->lblStatus->geometry();
    lblAside_->setGeometry(status.left(), status.bottom() - kAsideHeight + 1, status.width(),
                           kAsideHeight);
    lblAside_->setPalette(ui_->lblStatus->palette());
    lblAside_->setFont(detailFont);
    lblAside_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblAside_->setWordWrap(true);
    lblAside_->hide();
}

MainWindow::~MainWindow() {
    if (busyCursor_) {
        QApplication::restoreOverrideCursor();
    }
}

void MainWindow::attach(MainForm& form) {
    form_ = &form;
    connect(ui_->cmdGo, &QPushButton::clicked, this,
            [this] { run([this] { form_->cmdGo_Click(); }); });
    connect(ui_->cmdClose, &QPushButton::clicked, this,
            [this] { run([this] { form_->cmdClose_Click(); }); });
    connect(ui_->cboPort, &QComboBox::currentIndexChanged, this, [this] {
        ui_->cboPort->setToolTip(ui_->cboPort->currentData(Qt::ToolTipRole).toString());
        run([this] { form_->cboPort_Click(); });
    });
    // Only a pick by hand: a list rebuilt under the selection is no choice.
    connect(ui_->cboPort, &QComboBox::activated, this,
            [this] { run([this] { form_->portChosen(); }); });
    connect(ui_->mnuMainFilter, &QAction::triggered, this, [this] {
        // The handler inverts the mark itself; undo the toggle the action already made.
        ui_->mnuMainFilter->setChecked(filter_);
        run([this] { form_->mnuMainFilter_Click(); });
    });
    connect(ui_->MnuMainHelp, &QAction::triggered, this, [this] { MnuMainHelp_Click(); });
    connect(ui_->mnuMainTroubleshooting, &QAction::triggered, this,
            [this] { run([this] { form_->mnuMainTroubleshooting_Click(); }); });
    connect(ui_->mnuMainDownload, &QAction::triggered, this,
            [this] { run([this] { form_->mnuMainDownload_Click(); }); });
    connect(ui_->MnuMainExit, &QAction::triggered, this, [this] { close(); });
}

void MainWindow::run(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "k9updater: %s\n", e.what());
    }
}

// --- status and progress, coalesced

void MainWindow::setStatusText(const std::string& text) {
    status_ = text;
    throttle_.changed();
}

void MainWindow::setProgress(int value) {
    progress_ = std::clamp(value, 0, 100);
    throttle_.changed();
}

void MainWindow::applyPending() {
    const QString text = displayText(status_);
    if (ui_->lblStatus->text() != text) {
        ui_->lblStatus->setText(text);
        fitStatusText();
    }
    if (ui_->prgb1->value() != progress_) {
        ui_->prgb1->setValue(progress_);
    }
}

void MainWindow::setStatusFontName(const std::string& name) {
    QFont font = ui_->lblStatus->font();
    font.setFamily(QString::fromStdString(name));
    ui_->lblStatus->setFont(font);
    fitStatusText();
}

void MainWindow::setStatusFontSize(double points) {
    statusPoints_ = points;
    fitStatusText();
}

void MainWindow::setStatusBold(bool bold) {
    QFont font = ui_->lblStatus->font();
    font.setBold(bold);
    ui_->lblStatus->setFont(font);
    fitStatusText();
}

void MainWindow::fitStatusText() {
    // The instructions and the longer messages were sized for Tahoma; with a wider font their
    // last line would be cut off below the label, so the type shrinks a little instead.
    constexpr double kSmallestPoints = 7;
    QLabel& label = *ui_->lblStatus;
    QFont font = label.font();
    const QRect box(0, 0, label.width(), label.height());
    double points = statusPoints_;
    for (;; points -= 0.5) {
        font.setPointSizeF(points);
        const QRect needed = QFontMetrics(font).boundingRect(
            box, static_cast<int>(label.alignment()) | Qt::TextWordWrap, label.text());
        if (needed.height() <= box.height() || points <= kSmallestPoints) {
            break;
        }
    }
    label.setFont(font);
}

void MainWindow::setStatusNote(const std::string& note) {
    // Beside the designed texts, never in them: the status label's tooltip.
    ui_->lblStatus->setToolTip(QString::fromStdString(note));
    if (!note.empty()) {
        std::fprintf(stderr, "k9updater: %s\n", note.c_str());
    }
}

void MainWindow::setStatusAside(const std::string& text) {
    lblAside_->setText(displayText(text));
    lblAside_->setToolTip(displayText(text));
    lblAside_->setVisible(!text.empty());
    // The designed text gives up the foot of its label while the line is there, shrinking its
    // type as far as it must, so the two never overlap.
    QRect status = ui_->lblStatus->geometry();
    status.setBottom(lblAside_->geometry().top() - 1 + (text.empty() ? kAsideHeight : 0));
    ui_->lblStatus->setGeometry(status);
    fitStatusText();
}

void MainWindow::setStatusAlignment(Alignment alignment) {
    ui_->lblStatus->setAlignment(
        (alignment == Alignment::Center ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
}

// --- captions, controls, pointer, messages

QLabel& MainWindow::captionLabel(Caption which) const {
    switch (which) {
        case Caption::PortState:
            return *ui_->Label3;
        case Caption::Stage:
            return *ui_->Label5;
        case Caption::RetryCount:
            return *ui_->Label11;
        case Caption::Dots:
            break;
    }
    return *ui_->lblDots;
}

void MainWindow::setCaption(Caption which, const std::string& text) {
    captionLabel(which).setText(displayText(text));
}

std::string MainWindow::caption(Caption which) const {
    return captionLabel(which).text().toStdString();
}

QWidget& MainWindow::control(Control which) const {
    switch (which) {
        case Control::Go:
            return *ui_->cmdGo;
        case Control::Close:
            return *ui_->cmdClose;
        case Control::PortList:
            return *ui_->cboPort;
        case Control::FileList:
            break;
    }
    return *ui_->cboFile;
}

void MainWindow::setEnabled(Control which, bool enabled) {
    control(which).setEnabled(enabled);
}

void MainWindow::focusGo() {
    ui_->cmdGo->setFocus();
}

void MainWindow::clearSentText() {
    ui_->Text2->clear();
}

void MainWindow::setBusyPointer(bool busy) {
    // The last call wins: one override at most, however often it is asked for.
    if (busy && !busyCursor_) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (!busy && busyCursor_) {
        QApplication::restoreOverrideCursor();
    }
    busyCursor_ = busy;
}

MessageAnswer MainWindow::showMessage(const Message& message) {
    if (ended_) {
        // The program has ended; a run still unwinding asks nobody.
        return message.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    throttle_.flush();
    return messages_.show(isVisible() ? this : nullptr, message);
}

// --- port and file lists

void MainWindow::clearPorts() {
    ui_->cboPort->clear();
}

void MainWindow::addPort(const std::string& entry) {
    // A combo box selects the first item added to an empty list; a list box does not.
    const int selected = ui_->cboPort->currentIndex();
    ui_->cboPort->addItem(QString::fromStdString(entry));
    if (selected < 0) {
        ui_->cboPort->setCurrentIndex(-1);
    }
}

int MainWindow::portCount() const {
    return ui_->cboPort->count();
}

std::string MainWindow::portEntry(int index) const {
    return ui_->cboPort->itemText(index).toStdString();
}

void MainWindow::selectPort(int index) {
    ui_->cboPort->setCurrentIndex(index);
}

int MainWindow::selectedPort() const {
    return ui_->cboPort->currentIndex();
}

void MainWindow::setPortTooltip(int index, const std::string& text) {
    ui_->cboPort->setItemData(index, displayText(text), Qt::ToolTipRole);
    if (index == ui_->cboPort->currentIndex()) {
        ui_->cboPort->setToolTip(displayText(text));
    }
}

void MainWindow::setPortDetail(const std::string& text) {
    portDetail_ = displayText(text);
    showPortDetail();
}

void MainWindow::showPortDetail() {
    // A long by-id name does not fit; the whole line is the label's tooltip.
    const QFontMetrics metrics(lblPortDevice_->font());
    lblPortDevice_->setText(
        metrics.elidedText(portDetail_, Qt::ElideRight, kPortDeviceBox.width()));
    lblPortDevice_->setToolTip(portDetail_);
}

void MainWindow::insertFile(int index, const std::string& entry) {
    ui_->cboFile->insertItem(index, QString::fromStdString(entry));
}

void MainWindow::selectFile(int index) {
    ui_->cboFile->setCurrentIndex(index);
}

int MainWindow::selectedFile() const {
    return ui_->cboFile->currentIndex();
}

void MainWindow::setFilterChecked(bool checked) {
    filter_ = checked;
    ui_->mnuMainFilter->setChecked(checked);
}

// --- the window's life

void MainWindow::showTitlePicture() {
    ui_->imgK9Title->setVisible(true);
}

QString MainWindow::guidePath(std::string_view file) const {
    return QString::fromStdString(guideDir_ + "/" + std::string(file));
}

bool MainWindow::showInstructions(const std::string& deviceName) {
    StartDialog frmStart(deviceName, guidePath(kInstructionsFile), this);
    frmStart.exec();
    return frmStart.blnNext();
}

void MainWindow::MnuMainHelp_Click() {
    HelpDialog frmHelp(guidePath(kUserGuideFile), this);
    frmHelp.exec();
}

void MainWindow::Form_Resize() {
    if (isMinimized()) {
        return;
    }
    setFixedSize(kClientSize);
}

void MainWindow::setTitle(const std::string& title) {
    setWindowTitle(QString::fromStdString(title));
}

void MainWindow::showWindow() {
    centreOnScreen(*this);
    show();
}

void MainWindow::colourProgressBar() {
    ui_->prgb1->setStyleSheet(progressBarStyle());
}

void MainWindow::endProgram() {
    ended_ = true;
    throttle_.flush();
    hide();
    if (onEnd_) {
        onEnd_();
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (unloading_ || form_ == nullptr) {
        return;
    }
    unloading_ = true;
    run([this] { form_->Form_Unload(); });
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        if (windowState() & Qt::WindowMaximized) {
            setWindowState(windowState() & ~Qt::WindowMaximized);
        }
        Form_Resize();
    }
}

}  // namespace k9
