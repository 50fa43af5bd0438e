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

struct RunRecord;

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

// The main window for a terminal: keeps what the logic sets, and tells the report what a
// person would see change. Message boxes become report lines.
class TerminalView final : public MainView {
  public:
    using Clock = std::function<std::int64_t()>;

    TerminalView(RunReport& report, Answers& answers, Clock clock)
        : report_(report), answers_(answers), clock_(std::move(clock)) {}

    // Where the lines sent and the bytes moved are read from.
    void watch(const RunRecord& record) { record_ = &record; }
    // Redraws the progress (the live line's timer).
    void refresh();
    RunSnapshot snapshot() const;

    void setStatusText(const std::string& text) override;
    std::string statusText() const override { return status_; }
    void setStatusFontName(const std::string&) override {}
    void setStatusFontSize(double) override {}
    void setStatusBold(bool) override {}
    void setStatusAlignment(Alignment) override {}
    void setProgress(int value) override;
    int progress() const override { return progress_; }
    void setCaption(Caption which, const std::string& text) override;
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
    Clock clock_;
    const RunRecord* record_ = nullptr;
    std::string status_;
    int progress_ = 0;
    int stage_ = 0;
    std::map<Caption, std::string> captions_;
    std::vector<std::string> ports_;
    int port_ = -1;
    int file_ = 0;
    bool filter_ = false;
};

}  // namespace k9
