#pragma once

#include "platform/main_view.h"
#include "update/run_events.h"

namespace k9 {

// The main window as the run paints it: everything goes to the front end's view, and what a
// person reads there, the status texts and the message boxes with their answers, goes to the
// run's observers as well. Status texts painted as a progress count are not told: the
// transfer and the lines sent are events of their own.
class PublishingView final : public MainView {
  public:
    PublishingView(MainView& inner, RunObserver& events) : inner_(inner), events_(events) {}

    // While one lives, status texts are progress counts.
    class ProgressPainting {
      public:
        explicit ProgressPainting(PublishingView& view) : view_(view) { ++view_.progressDepth_; }
        ~ProgressPainting() { --view_.progressDepth_; }
        ProgressPainting(const ProgressPainting&) = delete;
        ProgressPainting& operator=(const ProgressPainting&) = delete;

      private:
        PublishingView& view_;
    };

    void setStatusText(const std::string& text) override {
        inner_.setStatusText(text);
        if (progressDepth_ == 0) {
            events_.statusShown(text);
        }
    }
    MessageAnswer showMessage(const Message& message) override {
        const MessageAnswer answer = inner_.showMessage(message);
        events_.messageShown(message, answer);
        return answer;
    }

    std::string statusText() const override { return inner_.statusText(); }
    void setStatusFontName(const std::string& name) override { inner_.setStatusFontName(name); }
    void setStatusFontSize(double points) override { inner_.setStatusFontSize(points); }
    void setStatusBold(bool bold) override { inner_.setStatusBold(bold); }
    void setStatusAlignment(Alignment a) override { inner_.setStatusAlignment(a); }
    void setStatusNote(const std::string& note) override { inner_.setStatusNote(note); }
    void setStatusAside(const std::string& text) override { inner_.setStatusAside(text); }
    void setProgress(int value) override { inner_.setProgress(value); }
    int progress() const override { return inner_.progress(); }
    void setCaption(Caption which, const std::string& text) override {
        inner_.setCaption(which, text);
    }
    std::string caption(Caption which) const override { return inner_.caption(which); }
    void setEnabled(Control which, bool on) override { inner_.setEnabled(which, on); }
    void focusGo() override { inner_.focusGo(); }
    void clearSentText() override { inner_.clearSentText(); }
    void setBusyPointer(bool busy) override { inner_.setBusyPointer(busy); }
    void clearPorts() override { inner_.clearPorts(); }
    void addPort(const std::string& entry) override { inner_.addPort(entry); }
    int portCount() const override { return inner_.portCount(); }
    std::string portEntry(int index) const override { return inner_.portEntry(index); }
    void selectPort(int index) override { inner_.selectPort(index); }
    int selectedPort() const override { return inner_.selectedPort(); }
    void setPortTooltip(int index, const std::string& t) override {
        inner_.setPortTooltip(index, t);
    }
    void setPortDetail(const std::string& text) override { inner_.setPortDetail(text); }
    void insertFile(int index, const std::string& e) override { inner_.insertFile(index, e); }
    void selectFile(int index) override { inner_.selectFile(index); }
    int selectedFile() const override { return inner_.selectedFile(); }
    void setFilterChecked(bool checked) override { inner_.setFilterChecked(checked); }
    bool filterChecked() const override { return inner_.filterChecked(); }

  private:
    MainView& inner_;
    RunObserver& events_;
    int progressDepth_ = 0;
};

}  // namespace k9
