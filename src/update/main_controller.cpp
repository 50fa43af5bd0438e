#include "update/main_controller.h"

#include <cstdio>

#include "platform/runtime_error.h"
#include "ports/busy_indicators.h"
#include "ports/port_control.h"
#include "transfer/cftp.h"
#include "transfer/server_operations.h"
#include "update/device_link.h"
#include "update/location_upload.h"
#include "update/run_trace.h"
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

MainController::MainController(EventLoop& loop, MainView& view, SerialLine& serial,
                               const AppConfig& config, FtpClientFactory makeFtpClient)
    : tracer_(std::make_unique<RunTracer>(view, serial, config)),
      context_{.loop = loop,
               .view = tracer_->view(),
               .MSComm1 = tracer_->line(),
               .ftpHost = config.ftpHost} {
    tracer_->attach(loop, context_.state, context_.vars);
    MainView& traced = context_.view;
    busy_ = std::make_unique<BusyIndicators>(traced);
    server_ = std::make_unique<ServerOperations>(ServerContext{
        traced, *busy_, context_.vars, context_.state, context_.state.blnStopped, config.ftpHost});
    portControl_ = std::make_unique<PortControl>(
        PortContext{loop, traced, context_.MSComm1, context_.files, context_.timers, context_.state,
                    context_.vars, [this] { server_->releaseFtpClient(); }});
    link_ = std::make_unique<DeviceLink>(context_, *portControl_);
    upload_ = std::make_unique<LocationUpload>(context_, *link_, *server_, *portControl_);
    sequence_ =
        std::make_unique<UpdateSequence>(context_, *portControl_, *link_, *server_, *upload_);

    // Each run gets a fresh client whose progress reaches this window.
    context_.makeFtpClient = [this, make = std::move(makeFtpClient)] {
        std::shared_ptr<cFTP> ftp = make();
        if (!ftp) {
            throw RuntimeError(51, "K9Updater", "The FTP client could not be created");
        }
        ftp->setTrace(&tracer_->trace());
        ftp->setFileTransferProgress(
            [this](std::int32_t current, std::int32_t total, bool download) {
                context_.events.transfer(TransferProgress{current, total, download});
                server_->mFTP_FileTransferProgress(current, total, download);
            });
        return ftp;
    };

    MainTimers& t = context_.timers;
    t.tmrCheck = loop.makeTimer(guarded([this] { tmrCheck_Timer(); }));
    t.tmrCheck->setInterval(5000);
    t.tmrUserUpload = loop.makeTimer(guarded([this] { tmrUserUpload_Timer(); }));
    t.tmrUserUpload->setInterval(15000);
    t.tmrDots = loop.makeTimer(guarded([this] { tmrDots_Timer(); }));
    t.tmrDots->setInterval(1456);
}

MainController::~MainController() = default;

void MainController::cmdGo_Click() {
    RunTracer::Scope trace(*tracer_);
    context_.record = RunRecord{};
    sequence_->cmdGo_Click();
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
