#include "update/location_upload.h"

#include "platform/runtime_error.h"
#include "platform/texts.h"
#include "ports/port_control.h"
#include "transfer/server_operations.h"
#include "update/kept_locations.h"
#include "update/main_controller.h"
#include "update/update_sequence.h"

namespace k9 {
namespace {

// Received text of this length or less holds no locations.
constexpr std::size_t kMinimumLocations = 12;

}  // namespace

bool extractLocations(const std::string& buffer, std::string& locations) {
    for (auto p = buffer.find('\x03'); p != std::string::npos; p = buffer.find('\x03', p + 1)) {
        if (p + 1 < buffer.size() && (buffer[p + 1] == '\r' || buffer[p + 1] == '\n')) {
            locations = buffer.substr(0, p);
            return true;
        }
    }
    return false;
}

int offerWaitTicks(int fileIndex) {
    return fileIndex == 0 ? 8 : 16;
}

std::int64_t offerWaitMs(int fileIndex) {
    return std::int64_t{offerWaitTicks(fileIndex)} * kUploadTickMs;
}

bool receivedLocations(LocationsFate fate) {
    return fate == LocationsFate::Uploaded || fate == LocationsFate::Kept ||
           fate == LocationsFate::NotReceived;
}

void LocationUpload::tmrUserUpload_Timer() {
    ++c_.state.iUploadTicks;
    const int file = c_.view.selectedFile();
    const int step = file == 0 ? 3 : 2;
    if (c_.view.progress() < 95) {
        c_.view.setProgress(c_.view.progress() + step);
    }
    if (c_.state.iUploadTicks == offerWaitTicks(file)) {
        c_.record.locations = LocationsFate::Unanswered;
        c_.setStage(9);
        c_.timers.tmrUserUpload->setEnabled(false);
    }
}

StepOutcome LocationUpload::waitForAnswer() {
    const std::string& buffer = c_.state.sRxBuffer;
    const bool answered =
        receivedKeyword(buffer, "#FTPPUT", true) || receivedKeyword(buffer, "#END", false);
    if (!answered) {
        return StepOutcome::Continue;
    }
    c_.view.setProgress(95);
    Delay(c_.loop, 5000);
    if (c_.state.blnStopped) {
        return StepOutcome::Stopped;
    }
    c_.timers.tmrUserUpload->setEnabled(false);
    if (c_.state.sRxBuffer.find("T#END") == std::string::npos) {
        link_.send(line::kAcknowledgement);
        c_.setStage(8);
        lastDataMs_ = c_.loop.tickMs();
        lastSize_ = 0;
    } else {
        c_.record.locations = LocationsFate::Declined;
        c_.setStage(9);
    }
    c_.state.sRxBuffer.clear();
    return StepOutcome::Continue;
}

StepOutcome LocationUpload::receiveLocations() {
    c_.view.setStatusFontSize(12);
    c_.view.setStatusBold(true);
    c_.view.setStatusText("Receiving New Locations from " + c_.vars.vDeviceName + "...");
    std::string locations;
    const std::string& buffer = c_.state.sRxBuffer;
    if (!extractLocations(buffer, locations)) {
        // Nothing else ends this wait: a unit that stops half-way or never stops
        // would otherwise hold the run forever.
        if (buffer.size() > kMaxReceiveBuffer) {
            return giveUpReceiving("the " + c_.vars.sDeviceModel + " sent more than expected");
        }
        if (buffer.size() != lastSize_) {
            lastSize_ = buffer.size();
            lastDataMs_ = c_.loop.tickMs();
            c_.events.locationsReceived(static_cast<std::int64_t>(lastSize_));
        } else if (c_.loop.tickMs() - lastDataMs_ >= kLocationsSilenceMs) {
            return giveUpReceiving("the " + c_.vars.sDeviceModel + " stopped sending");
        }
        return StepOutcome::Continue;
    }
    c_.state.sNewLocations = std::move(locations);
    c_.state.sRxBuffer.clear();
    c_.record.locationsBytes = static_cast<std::int64_t>(c_.state.sNewLocations.size());
    c_.events.locationsReceived(c_.record.locationsBytes);
    if (c_.state.sNewLocations.size() > kMinimumLocations) {
        saveAndUpload();
        if (c_.state.blnStopped) {
            return StepOutcome::Stopped;
        }
    } else {
        c_.record.locations = LocationsFate::Declined;
    }
    c_.view.setProgress(100);
    c_.setStage(9);
    return StepOutcome::Continue;
}

StepOutcome LocationUpload::giveUpReceiving(const std::string& why) {
    c_.state.sRxBuffer.clear();
    c_.state.sRxBuffer.shrink_to_fit();
    c_.record.locations = LocationsFate::NotReceived;
    c_.record.because(why);
    c_.record.endAs(RunEnd::Updated);
    port_.ClosePortAndReset();
    c_.view.setStatusText(c_.vars.vDeviceName + " updated. " + kCrLf +
                          "Its stored locations were not received (" + why +
                          "), so none were sent to the server.");
    return StepOutcome::Stopped;
}

void LocationUpload::saveAndUpload() {
    UpdateState& s = c_.state;
    s.sLocationsFile = keptFileName(s.sSerialNumber);
    const std::string path = c_.vars.sTempFolder + s.sLocationsFile;
    // What earlier runs kept goes up with them, in the same file.
    keepLocations(path, s.sNewLocations);

    bool uploaded = false;
    if (server_.ConnectToServer()) {
        c_.loop.yield();
        uploaded = !s.blnStopped && server_.UploadLocationsFile();
    }
    c_.record.locations = uploaded ? LocationsFate::Uploaded : LocationsFate::Kept;
    c_.record.locationsPath = uploaded ? std::string() : path;
    if (s.blnStopped) {
        return;  // stopped by the user: the file stays for the next attempt
    }
    link_.send(line::kDoneCode);
    s.sRxBuffer.clear();
    // The driver's locations are kept until they have reached the server.
    if (uploaded) {
        deleteFile(path);
    }
}

std::string LocationUpload::sendKept() {
    UpdateState& s = c_.state;
    s.sLocationsFile = keptFileName(s.sSerialNumber);
    const std::string path = c_.vars.sTempFolder + s.sLocationsFile;
    // The unit is updated whatever happens here; a failure only leaves the file for later.
    if (!fileExists(path)) {
        return {};
    }
    const auto [count, why] = sendKeptFile(path, [this] { return server_.uploadKeptQuietly(); });
    const std::string counted = keptCountText(count);
    c_.record.earlierKept = count;
    c_.record.earlierKeptSent = why.empty();
    if (why.empty()) {
        return counted + (count == 1 ? " was" : " were") + " sent to the server.";
    }
    c_.record.locationsPath = path;
    return counted + " could not be sent (" + why + "); " +
           (count == 1 ? "it stays" : "they stay") + " on this PC for the next update.";
}

}  // namespace k9
