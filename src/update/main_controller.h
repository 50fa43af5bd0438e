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
class RunTracer;

// Makes the FTP client of one update run.
using FtpClientFactory = std::function<std::shared_ptr<cFTP>()>;

// Everything the main window's procedures share. Owned by MainController; the parts hold a
// reference to it.
struct MainContext {
    EventLoop& loop;
    MainView& view;
    SerialLine& MSComm1;
    std::string ftpHost;
    FtpClientFactory makeFtpClient{};
    UpdateState state{};
    ProgramVars vars{};
    FileTable files{};
    MainTimers timers{};
    std::mt19937 random{};
    RunRecord record{};
    RunEvents events{};
};

// The main window's logic, without widgets: the window forwards its clicks here and paints
// what the parts tell the view.
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

    // The support trace: wanted or not, where, and the version its header names.
    RunTracer& tracer() { return *tracer_; }

    // Seeds the generator RandomText draws from (start-up seeds it from the clock).
    void seedRandom(std::uint32_t seed) { context_.random.seed(seed); }

    UpdateState& state() { return context_.state; }
    // How the last run went, for front ends that report it.
    const RunRecord& lastRun() const { return context_.record; }
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
    // Before the context: the run sees the window and the line through it.
    std::unique_ptr<RunTracer> tracer_;
    MainContext context_;
    std::unique_ptr<PortControl> portControl_;
    std::unique_ptr<BusyIndicators> busy_;
    std::unique_ptr<ServerOperations> server_;
    std::unique_ptr<DeviceLink> link_;
    std::unique_ptr<LocationUpload> upload_;
    std::unique_ptr<UpdateSequence> sequence_;
};

}  // namespace k9
