#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "cli/run_report.h"
#include "platform/main_view.h"

namespace k9 {

// Who answers the run's Yes/No questions: --yes up to its count, else the person at the
// terminal, else No.
class Answers final {
  public:
    Answers(bool yes, int retries, bool interactive, std::istream& in, std::ostream& prompt)
        : yes_(yes), left_(retries), interactive_(interactive), in_(in), prompt_(prompt) {}
    MessageAnswer ask();

  private:
    bool yes_;
    int left_;
    bool interactive_;
    std::istream& in_;
    std::ostream& prompt_;
};

// The main window for a terminal: keeps what the logic sets, as the window would, and shows
// message boxes through the report, asking the questions.
class TerminalView final : public MainView {
  public:
    TerminalView(RunReport& report, Answers& answers) : report_(report), answers_(answers) {}

    void setStatusText(const std::string& text) override { status_ = text; }
    std::string statusText() const override { return status_; }
    void setStatusFontName(const std::string&) override {}
    void setStatusFontSize(double) override {}
    void setStatusBold(bool) override {}
    void setStatusAlignment(Alignment) override {}
    void setProgress(int value) override { progress_ = value; }
    int progress() const override { return progress_; }
    void setCaption(Caption which, const std::string& text) override { captions_[which] = text; }
    std::string caption(Caption which) const override;
    void setEnabled(Control, bool) override {}
    void focusGo() override {}
    void clearSentText() override {}
    void setBusyPointer(bool) override {}
    MessageAnswer showMessage(const Message& message) override;

    void clearPorts() override { ports_.clear(); }
    void addPort(const std::string& entry) override { ports_.push_back(entry); }
    int portCount() const override { return static_cast<int>(ports_.size()); }
    std::string portEntry(int index) const override;
    void selectPort(int index) override { port_ = index; }
    int selectedPort() const override { return port_; }
    void setPortTooltip(int, const std::string&) override {}
    void setPortDetail(const std::string&) override {}
    void insertFile(int, const std::string&) override {}
    void selectFile(int index) override { file_ = index; }
    int selectedFile() const override { return file_; }
    void setFilterChecked(bool checked) override { filter_ = checked; }
    bool filterChecked() const override { return filter_; }

  private:
    RunReport& report_;
    Answers& answers_;
    std::string status_;
    int progress_ = 0;
    std::map<Caption, std::string> captions_;
    std::vector<std::string> ports_;
    int port_ = -1;
    int file_ = 0;
    bool filter_ = false;
};

}  // namespace k9
