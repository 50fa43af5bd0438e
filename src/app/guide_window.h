#pragma once

#include <QDialog>

#include <memory>
#include <string>

class QColor;
class QTextEdit;

namespace Ui {
class frmStart;
class frmHelp;
}  // namespace Ui

namespace k9 {

// Loads a guide into a rich-text box and restyles it: white 9-point Tahoma on the given
// background, caret at the start. A guide that cannot be loaded shows a line saying so.
void loadGuide(QTextEdit& box, const QString& path, const QColor& background);

// frmStart: how to put the unit into download mode. "Next" leads on to the main window;
// closing it any other way ends the program.
class StartDialog final : public QDialog {
  public:
    StartDialog(const std::string& deviceName, const QString& guidePath, QWidget* parent);
    ~StartDialog() override;

    bool blnNext() const { return blnNext_; }
    QTextEdit& rtfStart() const;

  private:
    std::unique_ptr<Ui::frmStart> ui_;
    bool blnNext_ = false;
};

// frmHelp: the user guide, shown modally over the main window.
class HelpDialog final : public QDialog {
  public:
    HelpDialog(const QString& guidePath, QWidget* parent);
    ~HelpDialog() override;

    QTextEdit& rtfHelp() const;

  private:
    std::unique_ptr<Ui::frmHelp> ui_;
};

// Fixed dialog border without minimise or maximise, centred on the screen.
void makeFixedDialog(QWidget& dialog);
void centreOnScreen(QWidget& window);

}  // namespace k9
