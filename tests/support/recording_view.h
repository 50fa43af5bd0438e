#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/main_view.h"

namespace k9::test {

// A main window without widgets: keeps what the logic set, records every status text and
// message box, and answers message boxes from a script.
class RecordingView final : public MainView {
  public:
    using Responder = std::function<MessageAnswer(const Message&)>;

    void setStatusText(const std::string& text) override;
    std::string statusText() const override { return status; }
    void setStatusFontName(const std::string&) override {}
    void setStatusFontSize(double points) override { fontSize = points; }
    void setStatusBold(bool b) override { bold = b; }
    void setStatusAlignment(Alignment a) override { alignment = a; }
    void setStatusAside(const std::string& text) override { aside = text; }
    void setStatusNote(const std::string& text) override { note = text; }
    void setProgress(int value) override;
    int progress() const override { return progressValue; }
    void setCaption(Caption which, const std::string& text) override { captions[which] = text; }
    std::string caption(Caption which) const override;
    void setEnabled(Control which, bool on) override { enabled[which] = on; }
    void focusGo() override {}
    void clearSentText() override { ++sentTextCleared; }
    void setBusyPointer(bool busy) override { busyPointer = busy; }
    MessageAnswer showMessage(const Message& message) override;

    void clearPorts() override;
    void addPort(const std::string& entry) override { ports.push_back(entry); }
    int portCount() const override { return static_cast<int>(ports.size()); }
    std::string portEntry(int index) const override;
    void selectPort(int index) override { selectedPortIndex = index; }
    int selectedPort() const override { return selectedPortIndex; }
    void setPortTooltip(int index, const std::string& text) override { portTooltips[index] = text; }
    void setPortDetail(const std::string& text) override { portDetail = text; }

    void insertFile(int index, const std::string& entry) override;
    void selectFile(int index) override { selectedFileIndex = index; }
    int selectedFile() const override { return selectedFileIndex; }

    void setFilterChecked(bool checked) override { filter = checked; }
    bool filterChecked() const override { return filter; }

    // Answers the next message boxes in order; when the script is empty, OK/No.
    void respond(Responder r) { answers.push_back(std::move(r)); }

    // The window's idle state: Start Update on, Close off, lists on.
    bool idle() const;
    bool hasStatus(const std::string& text) const;

    std::string status;
    std::vector<std::string> statusHistory;
    std::string aside;
    std::string note;
    double fontSize = 10;
    bool bold = false;
    Alignment alignment = Alignment::Left;
    int progressValue = 0;
    std::vector<int> progressHistory;
    std::map<Caption, std::string> captions;
    std::map<Control, bool> enabled;
    int sentTextCleared = 0;
    bool busyPointer = false;
    std::vector<Message> messages;
    std::deque<Responder> answers;
    std::vector<std::string> ports;
    int selectedPortIndex = -1;
    std::map<int, std::string> portTooltips;
    std::string portDetail;
    std::vector<std::string> files{"Cameras", "Cameras & Schools"};
    int selectedFileIndex = 0;
    bool filter = false;
    // Called after each status text, e.g. to click something at that moment.
    std::function<void(const std::string&)> onStatus;
};

}  // namespace k9::test
