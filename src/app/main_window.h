#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "app/form_host.h"
#include "app/repaint_throttle.h"
#include "platform/main_view.h"

namespace Ui {
class frmMain;
}  // namespace Ui

class QLabel;
class QWidget;

namespace k9 {

class MainForm;
class MessagePresenter;

// frmMain: paints what the logic says and forwards clicks, menu items and the close to
// MainForm. The status text and the progress bar reach the screen through a RepaintThrottle.
class MainWindow final : public QMainWindow, public MainView, public FormHost {
  public:
    MainWindow(MessagePresenter& messages, std::string guideDir);
    ~MainWindow() override;

    // Connects the window's events to the form's handlers.
    void attach(MainForm& form);
    // What endProgram does after the window is gone; by default it leaves the event loop.
    void setOnEnd(std::function<void()> onEnd) { onEnd_ = std::move(onEnd); }
    bool ended() const { return ended_; }

    // MainView
    void setStatusText(const std::string& text) override;
    std::string statusText() const override { return status_; }
    void setStatusFontName(const std::string& name) override;
    void setStatusFontSize(double points) override;
    void setStatusBold(bool bold) override;
    void setStatusAlignment(Alignment alignment) override;
    void setStatusNote(const std::string& note) override;
    void setStatusAside(const std::string& text) override;
    void setProgress(int value) override;
    int progress() const override { return progress_; }
    void setCaption(Caption which, const std::string& text) override;
    std::string caption(Caption which) const override;
    void setEnabled(Control which, bool enabled) override;
    void focusGo() override;
    void clearSentText() override;
    void setBusyPointer(bool busy) override;
    MessageAnswer showMessage(const Message& message) override;
    void clearPorts() override;
    void addPort(const std::string& entry) override;
    int portCount() const override;
    std::string portEntry(int index) const override;
    void selectPort(int index) override;
    int selectedPort() const override;
    void setPortTooltip(int index, const std::string& text) override;
    void setPortDetail(const std::string& text) override;
    void insertFile(int index, const std::string& entry) override;
    void selectFile(int index) override;
    int selectedFile() const override;
    void setFilterChecked(bool checked) override;
    bool filterChecked() const override { return filter_; }

    // FormHost
    void showTitlePicture() override;
    bool showInstructions(const std::string& deviceName) override;
    void Form_Resize() override;
    void setTitle(const std::string& title) override;
    void showWindow() override;
    void colourProgressBar() override;
    void endProgram() override;

    void MnuMainHelp_Click();
    // Pushes pending status and progress to the widgets now.
    void flushRepaints() { throttle_.flush(); }
    Ui::frmMain& ui() { return *ui_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void applyPending();
    // Shrinks the status text's type below its set size only as far as needed to show all of it.
    void fitStatusText();
    void showPortDetail();
    QLabel& captionLabel(Caption which) const;
    QWidget& control(Control which) const;
    QString guidePath(std::string_view file) const;
    // Runs a handler of the window's logic; nothing may escape into Qt's event loop.
    void run(const std::function<void()>& handler);

    std::unique_ptr<Ui::frmMain> ui_;
    MessagePresenter& messages_;
    std::string guideDir_;
    MainForm* form_ = nullptr;
    std::function<void()> onEnd_;

    // The selected port's device, in the free band right of the list captions.
    QLabel* lblPortDevice_ = nullptr;
    // The program's own line at the foot of the status area.
    QLabel* lblAside_ = nullptr;
    QString portDetail_;

    std::string status_;
    double statusPoints_ = 12;
    int progress_ = 0;
    bool filter_ = false;
    bool busyCursor_ = false;
    bool unloading_ = false;
    bool ended_ = false;

    QElapsedTimer clock_;
    QTimer repaintTimer_;
    RepaintThrottle throttle_;
};

}  // namespace k9
