#include "update/update_sequence.h"

#include <algorithm>
#include <ctime>

#include "platform/runtime_error.h"
#include "platform/texts.h"
#include "ports/busy_indicators.h"
#include "ports/port_control.h"
#include "transfer/cftp.h"
#include "transfer/server_operations.h"
#include "update/location_upload.h"
#include "update/main_controller.h"

namespace k9 {
namespace {

constexpr int kDownloadAttempts = 3;
constexpr std::int32_t kPassMs = 2000;
constexpr std::int32_t kLinePauseMs = 18;

}  // namespace

const char* remoteFileFor(int index) {
    switch (index) {
        case 0:
            return "LocationsLite.txt";
        case 1:
            return "LocationsFull.txt";
        case 2:
            return "TestLocations.txt";
        default:
            return nullptr;
    }
}

RuntimeError asRuntimeError(const std::exception& e) {
    if (const auto* runtime = dynamic_cast<const RuntimeError*>(&e)) {
        return *runtime;
    }
    return RuntimeError(err::kInternalError, "K9Updater", e.what());
}

std::string dateTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%m-%d-%Y%H:%M:%S", &local);
    return text;
}

void UpdateSequence::cmdGo_Click() {
    while (runOnce() == StepOutcome::Restart) {
        // The whole run again, from the port: what the last attempt did no longer counts.
        RunRecord& r = c_.record;
        r.end = RunEnd::None;
        r.reason.clear();
        r.errorNumber = r.osError = 0;
        r.lineCount = r.linesSent = 0;
        c_.toldStage = 0;
        c_.events.runRestarted();
    }
}

StepOutcome UpdateSequence::runOnce() {
    c_.record.end = RunEnd::None;
    if (!port_.closePortLeftOpen()) {
        c_.record.because("the port left open by the last run could not be closed");
        c_.record.endAs(RunEnd::PortError);
        return StepOutcome::Stopped;
    }
    if (!port_.OpenComPort()) {
        if (const auto& error = port_.openError()) {
            c_.record.because(error->description(), error->number(), error->osError());
        }
        c_.record.endAs(RunEnd::PortError);
        return StepOutcome::Stopped;
    }
    c_.events.portOpened(c_.MSComm1.commPort());
    try {
        startRun();
        const StepOutcome outcome = waitLoop();
        if (outcome != StepOutcome::EndOfRun) {
            return outcome;
        }
        endOfRun();
    } catch (const std::exception& e) {
        reportGeneralError(asRuntimeError(e));
    }
    return StepOutcome::Stopped;
}

void UpdateSequence::startRun() {
    MainView& view = c_.view;
    view.setProgress(0);
    c_.state.sRxBuffer.clear();
    c_.state.iRetryCount = 0;
    view.setEnabled(Control::Close, true);
    view.setEnabled(Control::Go, false);
    c_.state.blnStopped = false;
    if (const char* remote = remoteFileFor(view.selectedFile())) {
        c_.state.sRemoteFile = remote;
    }
    view.setEnabled(Control::FileList, false);
    c_.timers.tmrCheck->setInterval(5000);
    view.setEnabled(Control::PortList, false);
    view.setStatusFontSize(12);
    view.setStatusBold(true);
    view.setStatusAlignment(Alignment::Center);
    view.setStatusText("Please Wait....Connecting to " + c_.vars.sDeviceModel);
    c_.setStage(1);
    c_.timers.tmrDots->setEnabled(true);
    c_.state.mFTP = c_.makeFtpClient();
    c_.state.sRxBuffer.clear();
}

StepOutcome UpdateSequence::waitLoop() {
    for (;;) {
        c_.loop.yield();
        if (c_.state.blnStopped) {
            return StepOutcome::Stopped;
        }
        link_.pollPort();
        const StepOutcome outcome = stageStep();
        if (outcome != StepOutcome::Continue) {
            return outcome;
        }
        if (link_.noAnswer()) {
            const auto stage = static_cast<Stage>(c_.state.iStage);
            c_.record.because(std::string("the unit did not answer while ") + stageName(stage) +
                              "; check the cable" +
                              (stage == Stage::WaitSerial
                                   ? ", that the unit is in its download mode and that this "
                                     "is its port"
                                   : ""));
            c_.record.endAs(RunEnd::NoAnswer);
            link_.reportNoAnswer();
            return StepOutcome::EndOfRun;
        }
        Delay(c_.loop, kPassMs);
        if (c_.state.iStage == 9) {
            return StepOutcome::EndOfRun;
        }
    }
}

StepOutcome UpdateSequence::stageStep() {
    switch (c_.state.iStage) {
        case 5:
            return downloadFile();
        case 6:
            return sendFile();
        case 7:
            return upload_.waitForAnswer();
        case 8:
            return upload_.receiveLocations();
        default:
            return link_.stageStep();
    }
}

StepOutcome UpdateSequence::downloadFile() {
    for (;;) {
        link_.setRetryCount(0);
        bool downloaded = false;
        try {
            c_.view.setStatusText("Connected to Server. " + kCrLf + "Beginning Download...");
            if (server_.ConnectToServer()) {
                c_.view.setProgress(15);
                for (int attempt = 0; !downloaded && attempt < kDownloadAttempts; ++attempt) {
                    c_.loop.yield();
                    if (c_.state.blnStopped) {
                        return StepOutcome::Stopped;
                    }
                    downloaded = server_.DownloadUpdateFile();
                }
            }
        } catch (const std::exception& e) {
            const RuntimeError error = asRuntimeError(e);
            c_.record.because(error.description(), error.number(), error.osError());
            const MessageAnswer answer = c_.view.showMessage(
                Message{std::string("Attempted download of update failed, ") +
                            "you may have a problem with your firewall or network, " + "try again?",
                        c_.vars.sDeviceModel + " updating unsuccessful", MessageIcon::Question,
                        MessageButtons::YesNo});
            if (answer == MessageAnswer::Yes && !c_.state.blnStopped) {
                c_.record.reason.clear();
                continue;
            }
            if (!c_.state.blnStopped) {
                c_.record.endAs(RunEnd::ServerFailed);
                port_.ReportUpdateFailed();
            }
            return StepOutcome::Stopped;
        }
        if (c_.state.blnStopped) {
            return StepOutcome::Stopped;
        }
        if (!downloaded) {
            c_.record.because(server_.lastFailure());
            c_.record.endAs(RunEnd::ServerFailed);
            port_.ReportUpdateFailed();
            return StepOutcome::EndOfRun;
        }
        // When the server's file was made, for the unit's history; a server without MDTM
        // gives none, and nothing else depends on it.
        if (const std::shared_ptr<cFTP> ftp = c_.state.mFTP) {
            c_.record.serverFileTime =
                std::max<std::int64_t>(0, ftp->remoteFileTime(c_.state.sRemoteFile));
            if (c_.state.blnStopped) {
                return StepOutcome::Stopped;
            }
        }
        c_.setStage(6);
        c_.view.setProgress(25);
        server_.DisconnectFromServer();
        return StepOutcome::Continue;
    }
}

StepOutcome UpdateSequence::askRestart(const std::string& text, const std::exception& e) {
    const RuntimeError error = asRuntimeError(e);
    c_.record.because(error.description(), error.number(), error.osError());
    const MessageAnswer answer =
        c_.view.showMessage(Message{text, c_.vars.sDeviceModel + " updating unsuccessful",
                                    MessageIcon::Question, MessageButtons::YesNo});
    if (answer == MessageAnswer::Yes) {
        port_.ClosePortAndReset();
        return StepOutcome::Restart;
    }
    c_.record.endAs(RunEnd::Failed);
    port_.ReportUpdateFailed();
    return StepOutcome::Stopped;
}

StepOutcome UpdateSequence::sendFile() {
    std::int32_t lineCount = 0;
    try {
        if (const StepOutcome counted = countLines(lineCount); counted != StepOutcome::Continue) {
            return counted;
        }
    } catch (const std::exception& e) {
        return askRestart("An Error occured while processing downloaded " + std::string("file (") +
                              asRuntimeError(e).description() + ")." + kCrLf +
                              "Restart updating of " + c_.vars.sDeviceModel + "?",
                          e);
    }
    try {
        if (const StepOutcome sent = sendLines(lineCount); sent != StepOutcome::Continue) {
            return sent;
        }
    } catch (const std::exception& e) {
        return askRestart(std::string("An Error occured while sending ") + "file to " +
                              c_.vars.sDeviceModel + " (" + asRuntimeError(e).description() +
                              "). " + kCrLf + "Check connections and retry. " +
                              "Restart updating of Sentrel ?  ",
                          e);
    }
    try {
        finishSending();
    } catch (const std::exception& e) {
        return askRestart("An Error occured after sending file to " + c_.vars.sDeviceModel + " (" +
                              asRuntimeError(e).description() + ")." + kCrLf +
                              "Restart updating of Sentrel ?",
                          e);
    }
    return c_.state.blnStopped ? StepOutcome::Stopped : StepOutcome::Continue;
}

StepOutcome UpdateSequence::countLines(std::int32_t& lineCount) {
    UpdateState& s = c_.state;
    const std::string path = c_.vars.sTempFolder + s.sTempFile;
    c_.view.setStatusText("Sending Data to " + c_.vars.sDeviceModel);
    s.iTempFileNo = c_.files.freeFile();
    c_.files.openForInput(s.iTempFileNo, path);
    lineCount = 0;
    while (!c_.files.eof(s.iTempFileNo)) {
        c_.files.lineInput(s.iTempFileNo);
        c_.loop.yield();
        if (s.blnStopped) {
            return StepOutcome::Stopped;
        }
        ++lineCount;
    }
    c_.files.close(s.iTempFileNo);
    s.iTempFileNo = 0;
    s.iTempFileNo = c_.files.freeFile();
    c_.files.openForInput(s.iTempFileNo, path);
    return StepOutcome::Continue;
}

StepOutcome UpdateSequence::sendLines(std::int32_t lineCount) {
    UpdateState& s = c_.state;
    const std::int32_t linesPerStep = lineCount / 50 + 1;
    std::int32_t sent = 0;
    c_.record.lineCount = lineCount;
    c_.record.linesSent = 0;
    while (!c_.files.eof(s.iTempFileNo)) {
        c_.loop.yield();
        if (s.blnStopped) {
            return StepOutcome::Stopped;
        }
        Delay(c_.loop, kLinePauseMs);
        if (s.blnStopped) {
            return StepOutcome::Stopped;
        }
        link_.send(c_.files.lineInput(s.iTempFileNo) + kCrLf);
        ++sent;
        c_.record.linesSent = sent;
        c_.events.linesSent(sent, lineCount);
        if (sent % linesPerStep == 0) {
            c_.view.setProgress(c_.view.progress() + 1);
            const auto percent = static_cast<std::int64_t>(sent) * 100 / lineCount;
            const PublishingView::ProgressPainting counting(c_.view);
            c_.view.setStatusText("Sending Data to " + c_.vars.sDeviceModel + "... " +
                                  std::to_string(percent) + "%");
        }
    }
    return StepOutcome::Continue;
}

void UpdateSequence::finishSending() {
    UpdateState& s = c_.state;
    MainView& view = c_.view;
    const ProgramVars& v = c_.vars;
    const std::string path = v.sTempFolder + s.sTempFile;
    view.setProgress(75);
    c_.files.close(s.iTempFileNo);
    s.iTempFileNo = 0;
    view.clearSentText();

    // Wipe the location data before deleting the file. The text is drawn first: drawing
    // yields, and a stop meanwhile leaves the file as it is.
    const std::string wipe = dateTimeStamp() + RandomText(c_.loop, c_.random) + kCrLf;
    if (s.blnStopped) {
        return;
    }
    s.iTempFileNo = c_.files.freeFile();
    c_.files.openForOutput(s.iTempFileNo, path);
    c_.files.write(s.iTempFileNo, wipe);
    c_.files.close(s.iTempFileNo);
    s.iTempFileNo = 0;
    setNormalAttributes(path);
    deleteFile(path);

    view.setStatusFontName("Tahoma");
    view.setStatusFontSize(10);
    view.setStatusBold(false);
    view.setStatusText(
        std::string("Data sent to ") + v.vDeviceModel + ". Please wait while the data is saved. " +
        "When the " + v.vDeviceModel + " has finished saving " +
        "the data 'Upload Y' will be displayed " + "on the unit. Using the MODE/MENU or the " +
        "MUTE/CANCEL buttons select 'Y' or 'N' and " + "then press the SELECT button. " +
        "Only select 'Y' if you have new data " + "that you want to send to us.");
    c_.setStage(7);
    if (c_.MSComm1.portOpen()) {
        link_.send(line::kEndOfData);
        link_.send(line::kDoneCode);
    }
    s.iUploadTicks = 0;
    c_.timers.tmrUserUpload->setEnabled(true);
    c_.events.offerWait(offerWaitMs(view.selectedFile()));
}

void UpdateSequence::endOfRun() {
    c_.view.setStatusFontName("Tahoma");
    c_.view.setStatusBold(true);
    // A run that ends here without success has usually said why already.
    if (c_.state.iStage != 9 || !c_.MSComm1.portOpen()) {
        if (c_.record.end == RunEnd::None) {
            c_.record.because("the port was closed before the run could end");
            c_.record.endAs(RunEnd::Failed);
        }
    }
    if (!c_.MSComm1.portOpen()) {
        return;
    }
    if (c_.state.iStage != 9) {
        port_.ClosePortAndReset();
        return;
    }
    c_.record.endAs(RunEnd::Updated);
    std::string kept;
    if (!receivedLocations(c_.record.locations)) {
        kept = upload_.sendKept();
        if (c_.state.blnStopped) {
            return;
        }
    }
    c_.view.setStatusFontName("Tahoma");
    c_.view.setStatusText(c_.vars.vDeviceName + " updated. " + kCrLf +
                          "Close this program and disconnect " + c_.vars.sDeviceModel +
                          " from your PC." + (kept.empty() ? "" : kCrLf + kept));
    c_.view.setProgress(100);
    port_.ClosePortAndReset();
}

void UpdateSequence::reportGeneralError(const RuntimeError& error) {
    c_.view.showMessage(Message{
        "A runtime error has occured : " + kCrLf + "Source: " + error.source() + kCrLf +
            "Error: " + std::to_string(error.number()) + "  (" + std::to_string(error.osError()) +
            ")  " + error.description() + kCrLf + "Please take a screenshot and contact " + kCrLf +
            "Quillmark, tel: 0000 000 0000",
        "Error"});
    c_.record.because(error.description(), error.number(), error.osError());
    c_.record.endAs(RunEnd::Failed);
    port_.ReportUpdateFailed();
}

}  // namespace k9
