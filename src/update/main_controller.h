#pragma once

#include <functional>
#include <memory>
#include <random>
#include <string>

#include "config/app_config.h"
#include "platform/event_loop.h"
#include "platform/file_table.h"
#include "platform/main_view.h"
#include "platform/serial_line.h"
#include "update/publishing_view.h"
#include "update/run_events.h"
#include "update/run_record.h"
#include "update/update_state.h"

namespace k9 {

class cFTP;
class PortControl;
class BusyIndicators;
class ServerOperations;
class DeviceLink;
class LocationUpload;
class UpdateSequence;

// Makes the FTP client of one update run.
using FtpClientFactory = std::function<std::shared_ptr<cFTP>()>;

// Everything the main window's procedures share. Owned by MainController; the parts hold a
// reference to it.
struct MainContext {
    EventLoop& loop;
    PublishingView& view;
    SerialLine& MSComm1;
    RunEvents& events;
    std::string ftpHost;
    FtpClientFactory makeFtpClient{};
    UpdateState state{};
    ProgramVars vars{};
    FileTable files{};
    MainTimers timers{};
    std::mt19937 random{};
    // The run going on, or the last one.
    RunRecord record{};
    // The stage last told to the observers; 0 before a run tells its first.
    std::int16_t toldStage = 0;

    // Sets iStage and tells the observers when it is a new stage.
    void setStage(std::int16_t stage);
};

// The main window's logic, without widgets: the window forwards its clicks here and paints
// what the parts tell the view. What the run does reaches the observers of events().
class MainController {
  public:
    MainController(EventLoop& loop, MainView& view, SerialLine& serial, const AppConfig& config,
                   FtpClientFactory makeFtpClient);
    ~MainController();
    MainController(const MainController&) = delete;
    MainController& operator=(const MainController&) = delete;

    void cmdGo_Click();
    void cmdClose_Click();
    void ClosePortAndReset();

    RunEvents& events() { return events_; }
    // Seeds the generator RandomText draws from (start-up seeds it from the clock).
    void seedRandom(std::uint32_t seed) { context_.random.seed(seed); }

    UpdateState& state() { return context_.state; }
    // The record of the last run that ended.
    const RunRecord& lastRun() const { return lastRun_; }
    ProgramVars& vars() { return context_.vars; }
    MainContext& context() { return context_; }
    PortControl& portControl() { return *portControl_; }
    ServerOperations& server() { return *server_; }
    DeviceLink& link() { return *link_; }

    // Timer events, exposed so tests can fire them directly.
    void tmrCheck_Timer();
    void tmrUserUpload_Timer();
    void tmrDots_Timer();

  private:
    RunStart runStart() const;
    void finishRecord();

    // Before the context: the run paints and tells through them.
    RunEvents events_;
    PublishingView view_;
    MainContext context_;
    std::unique_ptr<PortControl> portControl_;
    std::unique_ptr<BusyIndicators> busy_;
    std::unique_ptr<ServerOperations> server_;
    std::unique_ptr<DeviceLink> link_;
    std::unique_ptr<LocationUpload> upload_;
    std::unique_ptr<UpdateSequence> sequence_;
    RunRecord lastRun_;
};

}  // namespace k9
