#include "cli/terminal_view.h"

#include <cstdlib>
#include <istream>
#include <ostream>

#include "update/run_record.h"

namespace k9 {

MessageAnswer Answers::ask() {
    if (yes_) {
        if (left_ > 0) {
            --left_;
            return MessageAnswer::Yes;
        }
        return MessageAnswer::No;
    }
    if (!interactive_) {
        return MessageAnswer::No;
    }
    prompt_ << "[y/N] " << std::flush;
    std::string reply;
    std::getline(in_, reply);
    return !reply.empty() && (reply[0] == 'y' || reply[0] == 'Y') ? MessageAnswer::Yes
                                                                  : MessageAnswer::No;
}

RunSnapshot TerminalView::snapshot() const {
    RunSnapshot s;
    s.stage = stage_;
    s.percent = progress_;
    if (record_ != nullptr) {
        s.linesSent = record_->linesSent;
        s.lineCount = record_->lineCount;
    }
    return s;
}

void TerminalView::refresh() {
    report_.update(snapshot(), clock_());
}

void TerminalView::setStatusText(const std::string& text) {
    status_ = text;
    report_.status(text);
}

void TerminalView::setProgress(int value) {
    progress_ = value;
    refresh();
}

void TerminalView::setCaption(Caption which, const std::string& text) {
    captions_[which] = text;
    if (which == Caption::Stage) {
        // The stage is shown as its number followed by two blanks.
        const int stage = std::atoi(text.c_str());
        if (stage != stage_) {
            stage_ = stage;
            refresh();
        }
    }
}

std::string TerminalView::caption(Caption which) const {
    const auto it = captions_.find(which);
    return it == captions_.end() ? std::string() : it->second;
}

MessageAnswer TerminalView::showMessage(const Message& message) {
    report_.message(message);
    if (message.buttons != MessageButtons::YesNo) {
        return MessageAnswer::Ok;
    }
    const MessageAnswer answer = answers_.ask();
    report_.answer(answer == MessageAnswer::Yes);
    return answer;
}

std::string TerminalView::portEntry(int index) const {
    return index >= 0 && index < portCount() ? ports_[static_cast<std::size_t>(index)]
                                             : std::string();
}

}  // namespace k9
