#include "cli/terminal_view.h"

#include <istream>
#include <ostream>

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

std::string TerminalView::caption(Caption which) const {
    const auto it = captions_.find(which);
    return it == captions_.end() ? std::string() : it->second;
}

MessageAnswer TerminalView::showMessage(const Message& message) {
    const bool question = message.buttons == MessageButtons::YesNo;
    report_.showMessage(message, question);
    if (!question) {
        return MessageAnswer::Ok;
    }
    const MessageAnswer answer = answers_.ask();
    report_.showAnswer(answer == MessageAnswer::Yes);
    return answer;
}

std::string TerminalView::portEntry(int index) const {
    return index >= 0 && index < portCount() ? ports_[static_cast<std::size_t>(index)]
                                             : std::string();
}

}  // namespace k9
