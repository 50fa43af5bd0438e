#include "update/main_controller.h"

#include <cstdio>
#include <ctime>

#include "platform/runtime_error.h"
#include "ports/busy_indicators.h"
#include "ports/port_control.h"
#include "ports/port_discovery.h"
#include "transfer/cftp.h"
#include "transfer/server_operations.h"
#include "update/device_link.h"
#include "update/location_upload.h"
#include "update/update_sequence.h"

namespace k9 {
namespace {

// Timer events run inside the event loop, where an exception must not travel: whatever a
// tick cannot do, the run finds out at its next step.
std::function<void()> guarded(std::function<void()> handler) {
    return [handler = std::move(handler)] {
        try {
            handler();
        } catch (const std::exception& e) {
            std::fprintf(stderr, "k9updater: timer event failed: %s\n", e.what());
        }
    };
}

}  // namespace

void MainContext::setStage(std::int16_t stage) {
    state.iStage = stage;
    if (stage != toldStage && stage >= 1 && stage <= 9) {
        toldStage = stage;
        record.lastStage = static_cast<Stage>(stage);
        events.stageEntered(record.lastStage);
    }
}

MainController::MainController(EventLoop& loop, MainView& view, SerialLine& serial,
                               const AppConfig& config, FtpClientFactory makeFtpClient)
    : view_(view, events_),
      context_{.loop = loop,
               .view = view_,
               .MSComm1 = serial,
               .events = events_,
               .ftpHost = config.ftpHost} {
    busy_ = std::make_unique<BusyIndicators>(view_);
    server_ = std::make_unique<ServerOperations>(ServerContext{
        view_, *busy_, context_.vars, context_.state, context_.state.blnStopped, config.ftpHost});
    portControl_ = std::make_unique<PortControl>(
        PortContext{loop, view_, context_.MSComm1, context_.files, context_.timers, context_.state,
                    context_.vars, [this] { server_->releaseFtpClient(); }});
    link_ = std::make_unique<DeviceLink>(context_, *portControl_);
    upload_ = std::make_unique<LocationUpload>(context_, *link_, *server_, *portControl_);
    sequence_ =
        std::make_unique<UpdateSequence>(context_, *portControl_, *link_, *server_, *upload_);

    // Each run gets a fresh client whose progress reaches this window and the observers.
    context_.makeFtpClient = [this, make = std::move(makeFtpClient)] {
        std::shared_ptr<cFTP> ftp = make();
        if (!ftp) {
            throw RuntimeError(err::kInternalError, "K9Updater",
                               "The FTP client could not be created");
        }
        ftp->setFileTransferProgress(
            [this](std::int32_t current, std::int32_t total, bool download) {
                if (download) {
                    context_.record.serverFileSize = total;
                }
                events_.transfer(TransferProgress{current, total, download});
                const PublishingView::ProgressPainting counting(view_);
                server_->mFTP_FileTransferProgress(current, total, download);
            });
        ftp->setSessionListener([this](const FtpSessionInfo& s) {
            events_.sessionOpened(SessionInfo{s.server, s.encrypted, s.tlsVersion, s.cipher});
        });
        return ftp;
    };

    MainTimers& t = context_.timers;
    t.tmrCheck = loop.makeTimer(guarded([this] { tmrCheck_Timer(); }));
    t.tmrCheck->setInterval(5000);
    t.tmrUserUpload = loop.makeTimer(guarded([this] { tmrUserUpload_Timer(); }));
    t.tmrUserUpload->setInterval(static_cast<std::int32_t>(kUploadTickMs));
    t.tmrDots = loop.makeTimer(guarded([this] { tmrDots_Timer(); }));
    t.tmrDots->setInterval(1456);
}

MainController::~MainController() = default;

RunStart MainController::runStart() const {
    const MainView& view = view_;
    const int selected = view.selectedPort();
    RunStart start;
    start.port = selected < 0 ? 0 : entryPortNumber(view.portEntry(selected));
    start.edition = view.selectedFile();
    const char* remote = remoteFileFor(start.edition);
    start.remoteFile = remote != nullptr ? remote : context_.state.sRemoteFile;
    start.workFolder = context_.vars.sTempFolder;
    start.server = context_.ftpHost;
    start.started = std::time(nullptr);
    return start;
}

void MainController::cmdGo_Click() {
    // A run started during the yields of a stopped one keeps its own record; the stopped
    // run gets its own back when this one has ended.
    RunRecord outer = std::exchange(context_.record, RunRecord{});
    const RunStart start = runStart();
    RunRecord& record = context_.record;
    record.port = start.port;
    record.edition = start.edition;
    record.remoteFile = start.remoteFile;
    record.started = start.started;
    context_.toldStage = 0;
    events_.runStarted(start);
    try {
        sequence_->cmdGo_Click();
    } catch (...) {
        finishRecord();
        context_.record = std::move(outer);
        throw;
    }
    finishRecord();
    context_.record = std::move(outer);
}

void MainController::finishRecord() {
    RunRecord& record = context_.record;
    if (record.end == RunEnd::None) {
        // Nothing ended it but the stop flag: "Close", or the window closing.
        record.end = RunEnd::Stopped;
    }
    record.ended = std::time(nullptr);
    lastRun_ = record;
    events_.runEnded(record);
}

void MainController::cmdClose_Click() {
    context_.record.endAs(RunEnd::Stopped);
    portControl_->cmdClose_Click();
}

void MainController::ClosePortAndReset() {
    portControl_->ClosePortAndReset();
}

void MainController::tmrCheck_Timer() {
    link_->tmrCheck_Timer();
}

void MainController::tmrUserUpload_Timer() {
    upload_->tmrUserUpload_Timer();
}

void MainController::tmrDots_Timer() {
    busy_->tmrDots_Timer();
}

}  // namespace k9
