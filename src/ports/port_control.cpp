#include "ports/port_control.h"

#include <cctype>
#include <charconv>

#include "config/program_vars.h"
#include "devices/port_probe.h"
#include "config/settings_line.h"
#include "platform/event_loop.h"
#include "platform/file_table.h"
#include "platform/main_view.h"
#include "platform/runtime_error.h"
#include "platform/serial_line.h"
#include "platform/texts.h"
#include "ports/port_advice.h"
#include "ports/port_discovery.h"

namespace k9 {
namespace {

std::string openFailureText(std::int32_t number) {
    const std::string head = "An error has occured while trying to connect to the " + kCrLf;
    if (number == err::kInvalidPortNumber) {
        return head + "selected COM port, try a different port number.";
    }
    if (number == err::kTypeMismatch) {
        return head + "selected COM port, it is already in use, try a different port.";
    }
    return head + "selected COM port, " + kCrLf + "try a different port number.";
}

}  // namespace

std::int16_t portNumberFromEntry(const std::string& entry) {
    std::string_view digits = trimBlanks(entry);
    if (digits.empty()) {
        throw RuntimeError(err::kTypeMismatch, "Port list", "Type mismatch");
    }
    if (digits.front() == '+') {
        digits.remove_prefix(1);
    }
    long value = 0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || ptr != digits.data() + digits.size() ||
        (ec != std::errc() && ec != std::errc::result_out_of_range)) {
        throw RuntimeError(err::kTypeMismatch, "Port list", "Type mismatch");
    }
    if (ec == std::errc::result_out_of_range || value < -32768 || value > 32767) {
        throw RuntimeError(err::kOverflow, "Port list", "Overflow");
    }
    return static_cast<std::int16_t>(value);
}

bool PortControl::OpenComPort() {
    openError_.reset();
    if (c_.MSComm1.portOpen()) {
        return true;
    }
    try {
        const int selected = c_.view.selectedPort();
        if (selected < 0) {
            // Nothing to convert: treat it like a port number that does not exist.
            throw RuntimeError(err::kInvalidPortNumber, "Port list", "No port selected");
        }
        c_.MSComm1.setCommPort(portNumberFromEntry(c_.view.portEntry(selected)));
        c_.MSComm1.setSettings(std::to_string(38400) + ",N,8,1");
        c_.MSComm1.setInputLen(0);
        c_.MSComm1.setPortOpen(true);
        c_.view.setCaption(Caption::PortState, "Port Open");
        return true;
    } catch (const RuntimeError& e) {
        openError_ = e;
        std::string advice;
        if (e.number() == err::kTypeMismatch) {
            advice = permissionFailure(entryPortNumber(c_.view.portEntry(c_.view.selectedPort())));
        } else if (e.number() != err::kInvalidPortNumber) {
            advice = permissionFailure(c_.MSComm1.commPort());
        }
        c_.view.showMessage(Message{advice.empty() ? openFailureText(e.number()) : advice});
        return false;
    }
}

std::string PortControl::permissionFailure(int port) const {
    if (probe_ == nullptr || port < kFirstComPort || port > kLastComPort) {
        return {};
    }
    const PortAccessReport why = probe_->access(port);
    if (why.access != PortAccess::NoPermission) {
        return {};
    }
    return permissionText({probe_->identify(port).device}, why);
}

bool PortControl::closePortLeftOpen() {
    if (!c_.MSComm1.portOpen()) {
        return true;
    }
    try {
        c_.MSComm1.setPortOpen(false);
        return true;
    } catch (const RuntimeError&) {
        c_.view.showMessage(Message{
            "Com Port " + std::to_string(c_.MSComm1.commPort()) + " is already in use. " +
                "If it is being used by another program, select another com port and retry. " +
                "If it is in use by the " + c_.vars.vDeviceName +
                " Updater program please exit the program." + "and try again",
            "Com Port Open Error"});
        ReportUpdateFailed();
        return false;
    }
}

void PortControl::ClosePortAndReset() {
    if (c_.MSComm1.portOpen()) {
        try {
            c_.MSComm1.setPortOpen(false);
        } catch (const RuntimeError&) {
            // The device may already be gone; the port is released either way.
        }
        c_.view.setCaption(Caption::PortState, "Port Closed");
    }
    c_.loop.yield();
    if (c_.releaseFtpClient) {
        c_.releaseFtpClient();
    }
    c_.loop.yield();
    c_.view.setStatusFontSize(14);
    c_.files.closeQuietly(c_.run.iTempFileNo);
    c_.files.closeQuietly(c_.run.iLocationsFileNo);
    // Numbers once closed may be handed out again; forget them so a later close cannot hit
    // somebody else's file.
    c_.run.iTempFileNo = 0;
    c_.run.iLocationsFileNo = 0;
    c_.view.setEnabled(Control::FileList, true);
    c_.timers.tmrCheck->setEnabled(false);
    c_.timers.tmrUserUpload->setEnabled(false);
    c_.view.setEnabled(Control::Close, false);
    c_.view.setEnabled(Control::Go, true);
    c_.view.focusGo();
    c_.view.setEnabled(Control::PortList, true);
    c_.run.blnStopped = true;
    c_.timers.tmrDots->setEnabled(false);
    c_.view.setCaption(Caption::Dots, "");
    c_.run.iStage = 1;
}

void PortControl::ReportUpdateFailed() {
    ClosePortAndReset();
    c_.view.setStatusText(c_.vars.vDeviceName + " updating unsuccessful");
    c_.view.setProgress(0);
}

void PortControl::cmdClose_Click() {
    ClosePortAndReset();
    c_.view.setStatusText(c_.vars.vDeviceName + " update stopped.");
}

}  // namespace k9
