#include "update/device_link.h"

#include <algorithm>

#include "platform/runtime_error.h"
#include "platform/texts.h"
#include "ports/port_control.h"
#include "update/main_controller.h"

namespace k9 {

std::string cutSerialNumber(const std::string& buffer) {
    const auto p = buffer.find("FTPUN");
    if (p == std::string::npos) {
        return {};
    }
    std::string serial = buffer.substr(p + 5, 7);
    // A short serial number is followed by its line end, which is not part of it.
    serial = serial.substr(0, serial.find_first_of("\r\n"));
    // ASCII only: the locale must not decide what a unit's serial number is.
    for (char& ch : serial) {
        if (ch >= 'a' && ch <= 'z') {
            ch = static_cast<char>(ch - 'a' + 'A');
        }
    }
    return serial;
}

std::string ftpPasswordFor(const std::string& serial) {
    return {serial.rbegin(), serial.rend()};
}

bool isValidSerialNumber(const std::string& serial) {
    return !serial.empty() && serial.size() <= 7 &&
           std::all_of(serial.begin(), serial.end(), [](char ch) {
               return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                      (ch >= '0' && ch <= '9') || ch == '-' || ch == '_';
           });
}

void DeviceLink::send(std::string_view bytes) {
    if (c_.MSComm1.portOpen()) {
        c_.MSComm1.output(bytes);
    }
}

void DeviceLink::pollPort() {
    std::string& buffer = c_.state.sRxBuffer;
    if (c_.MSComm1.portOpen()) {
        buffer += c_.MSComm1.input();
    }
    if (buffer.size() > kMaxReceiveBuffer && c_.state.iStage != 8) {
        // Keywords are short: what piled up without completing one is noise, and only its
        // tail can still be part of a keyword.
        buffer.erase(0, buffer.size() - kKeptNoise);
    }
    c_.view.setCaption(Caption::Stage, std::to_string(c_.state.iStage) + "  ");
}

bool receivedKeyword(std::string_view buffer, std::string_view keyword, bool needsCr) {
    return buffer.find(keyword) != std::string_view::npos &&
           (!needsCr || buffer.find('\r') != std::string_view::npos);
}

bool DeviceLink::received(std::string_view keyword, bool needsCr) const {
    return receivedKeyword(c_.state.sRxBuffer, keyword, needsCr);
}

void DeviceLink::setRetryCount(std::int16_t count, bool shown) {
    c_.state.iRetryCount = count;
    if (shown) {
        c_.view.setCaption(Caption::RetryCount, std::to_string(count));
    }
    c_.events.checkTick(count);
}

void DeviceLink::restartCheckTimer() {
    c_.timers.tmrCheck->setEnabled(false);
    setRetryCount(0);
}

void DeviceLink::rearmCheckTimer() {
    c_.timers.tmrCheck->setEnabled(true);
}

void DeviceLink::completeStage(int next) {
    c_.setStage(static_cast<std::int16_t>(next));
    c_.state.sRxBuffer.clear();
}

StepOutcome DeviceLink::stageStep() {
    switch (c_.state.iStage) {
        case 1:
            return waitForSerialNumber();
        case 2:
            return waitForPassword();
        case 3:
            return waitForFilePath();
        case 4:
            return waitForGet();
        default:
            return StepOutcome::Continue;
    }
}

StepOutcome DeviceLink::waitForSerialNumber() {
    if (!c_.timers.tmrCheck->enabled()) {
        // The first wait is shorter: 7 ticks instead of 10.
        setRetryCount(3, false);
        c_.timers.tmrCheck->setEnabled(true);
    }
    if (!received("#FTPUN", true)) {
        return StepOutcome::Continue;
    }
    c_.view.setStatusFontSize(14);
    restartCheckTimer();
    const std::string serial = cutSerialNumber(c_.state.sRxBuffer);
    if (!isValidSerialNumber(serial)) {
        // The serial number becomes the FTP login and a file name: never pass on junk.
        c_.record.because("the unit sent an invalid serial number");
        c_.record.endAs(RunEnd::Failed);
        port_.ReportUpdateFailed();
        c_.view.setStatusText(c_.vars.vDeviceName +
                              " updating unsuccessful: the unit sent an invalid serial number.");
        return StepOutcome::Stopped;
    }
    c_.state.sSerialNumber = serial;
    c_.record.serialNumber = serial;
    c_.events.serialNumberReceived(serial);
    c_.view.setStatusText(c_.vars.sDeviceModel + " Serial Number: " + serial);
    c_.loop.yield();
    if (c_.state.blnStopped) {
        return StepOutcome::Stopped;
    }
    send(line::kAcknowledgement);
    c_.state.sFtpPassword = ftpPasswordFor(serial);
    completeStage(2);
    rearmCheckTimer();
    return StepOutcome::Continue;
}

StepOutcome DeviceLink::waitForPassword() {
    if (received("#FTPPW", false)) {
        restartCheckTimer();
        send(line::kAcknowledgement);
        c_.setStage(3);
        c_.view.setProgress(5);
        c_.state.sRxBuffer.clear();
        rearmCheckTimer();
    }
    return StepOutcome::Continue;
}

StepOutcome DeviceLink::waitForFilePath() {
    if (received("#FTPFILEP", true)) {
        restartCheckTimer();
        send(line::kAcknowledgement);
        completeStage(4);
        rearmCheckTimer();
    }
    return StepOutcome::Continue;
}

StepOutcome DeviceLink::waitForGet() {
    c_.view.setProgress(10);
    if (received("#FTPGET", true)) {
        // The check timer stays off from here: the link no longer times out.
        restartCheckTimer();
        c_.loop.yield();
        if (c_.state.blnStopped) {
            return StepOutcome::Stopped;
        }
        send(line::kGetReply);
        completeStage(5);
    }
    return StepOutcome::Continue;
}

void DeviceLink::tmrCheck_Timer() {
    const auto count = static_cast<std::int16_t>(c_.state.iRetryCount + 1);
    c_.state.iRetryCount = count;
    if (c_.state.iStage >= 2 && c_.state.iStage <= 6) {
        try {
            send(line::kAcknowledgement);
        } catch (const RuntimeError&) {
            // A keep-alive that cannot be written: the run's next read reports the port.
        }
    }
    setRetryCount(count);
}

bool DeviceLink::noAnswer() const {
    return c_.state.iRetryCount >= 10;
}

void DeviceLink::reportNoAnswer() {
    std::string text = std::string("Unable to communicate with device. ") +
                       "Please check connections and try again.";
    if (c_.state.iStage == 1) {
        text += " You may have the wrong Com Port selected.";
    }
    c_.view.setStatusText(text);
}

}  // namespace k9
