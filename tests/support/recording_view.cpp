#include "recording_view.h"

#include <algorithm>

namespace k9::test {

void RecordingView::setStatusText(const std::string& text) {
    status = text;
    statusHistory.push_back(text);
    if (onStatus) {
        onStatus(text);
    }
}

void RecordingView::setProgress(int value) {
    progressValue = value;
    progressHistory.push_back(value);
}

std::string RecordingView::caption(Caption which) const {
    auto it = captions.find(which);
    return it == captions.end() ? std::string() : it->second;
}

MessageAnswer RecordingView::showMessage(const Message& message) {
    messages.push_back(message);
    if (answers.empty()) {
        return message.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    }
    Responder next = std::move(answers.front());
    answers.pop_front();
    return next(message);
}

void RecordingView::clearPorts() {
    ports.clear();
    portTooltips.clear();
    selectedPortIndex = -1;
}

std::string RecordingView::portEntry(int index) const {
    return index >= 0 && index < portCount() ? ports[static_cast<std::size_t>(index)] : "";
}

void RecordingView::insertFile(int index, const std::string& entry) {
    files.insert(files.begin() + std::clamp(index, 0, static_cast<int>(files.size())), entry);
}

bool RecordingView::idle() const {
    const auto on = [this](Control which) { return enabled.count(which) && enabled.at(which); };
    return on(Control::Go) && !on(Control::Close) && on(Control::PortList) &&
           on(Control::FileList) && !busyPointer;
}

bool RecordingView::hasStatus(const std::string& text) const {
    return std::find(statusHistory.begin(), statusHistory.end(), text) != statusHistory.end();
}

}  // namespace k9::test
