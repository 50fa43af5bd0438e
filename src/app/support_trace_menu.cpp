#include "app/support_trace_menu.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>
#include <memory>

#include "update/run_trace.h"

namespace k9 {
namespace {

const QString kKeepKey = QStringLiteral("supportTrace/keep");

// ~/.config/k9updater/preferences.ini: beside the configuration, never in it.
std::unique_ptr<QSettings> preferences() {
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("k9updater"), QStringLiteral("preferences"));
}

}  // namespace

SupportTraceMenu::SupportTraceMenu(QWidget& window, QAction& keep, QAction& save, RunTrace& tracer)
    : QObject(&window), window_(window), keep_(keep), tracer_(tracer) {
    connect(&keep_, &QAction::toggled, this, [this](bool on) { keepToggled(on); });
    connect(&save, &QAction::triggered, this, [this] { saveLatest(); });
}

void SupportTraceMenu::restore() {
    const bool on = tracer_.settings().wanted || preferences()->value(kKeepKey, false).toBool();
    RunTrace::Setup setup = tracer_.settings();
    setup.wanted = on;
    tracer_.setup(setup);
    const QSignalBlocker quiet(&keep_);
    keep_.setChecked(on);
}

void SupportTraceMenu::keepToggled(bool on) {
    RunTrace::Setup setup = tracer_.settings();
    setup.wanted = on;
    tracer_.setup(setup);
    preferences()->setValue(kKeepKey, on);
}

void SupportTraceMenu::saveLatest() {
    const std::vector<std::string> files = traceFiles(tracer_.settings().folder);
    if (files.empty()) {
        QMessageBox::information(&window_, QStringLiteral("Save Support Trace"),
                                 QStringLiteral("No support trace has been kept yet. Turn on "
                                                "\"Keep a Support Trace\" and run the update "
                                                "again."));
        return;
    }
    const QString latest = QString::fromStdString(files.back());
    const QString target =
        QFileDialog::getSaveFileName(&window_, QStringLiteral("Save Support Trace"),
                                     QDir::home().filePath(QFileInfo(latest).fileName()),
                                     QStringLiteral("Support traces (*.txt)"));
    if (target.isEmpty()) {
        return;
    }
    if (QFile::exists(target)) {
        QFile::remove(target);
    }
    if (!QFile::copy(latest, target)) {
        QMessageBox::warning(
            &window_, QStringLiteral("Save Support Trace"),
            QStringLiteral("The trace could not be saved as ") + target + QStringLiteral("."));
    }
}

}  // namespace k9
