#pragma once

#include <memory>
#include <string>

#include "config/app_config.h"
#include "devices/port_probe.h"
#include "history/history_store.h"
#include "platform/serial_line.h"
#include "update/main_controller.h"
#include "update/run_trace.h"

namespace k9 {

class EventLoop;
class HistoryRecorder;
class HistoryStore;
class PortLock;
class SleepInhibitor;
class SupportTrace;

// The platform pieces a run works on. Left empty, the real ones are made from the
// configuration; tests and tools put in their own.
struct RunServices {
    std::shared_ptr<SerialLine> serial;
    std::shared_ptr<PortProbe> probe;
    FtpClientFactory makeFtpClient;
    // Hold off sleep while a run lasts (logind, on the system bus).
    bool keepAwake = true;
    // The history of the runs; empty keeps none.
    std::string historyPath = defaultHistoryPath();
};

// FTP clients as every part of the program makes them: on the loop, with the configured
// settings, their session in the support trace when one is given.
FtpClientFactory ftpClientFactory(EventLoop& loop, const AppConfig& config,
                                  SupportTrace* trace = nullptr);

// A run put together once for both front ends: the serial line (traced), the port probe that
// lets a failed open say why, the FTP clients, the support trace, the machine kept awake, and
// the controller whose events the front end follows. A front end brings its view and adds its
// observers.
class UpdaterCore final {
  public:
    UpdaterCore(EventLoop& loop, MainView& view, AppConfig config, std::string version,
                RunServices services = {});
    ~UpdaterCore();
    UpdaterCore(const UpdaterCore&) = delete;
    UpdaterCore& operator=(const UpdaterCore&) = delete;

    MainController& controller() { return *controller_; }
    RunEvents& events() { return controller_->events(); }
    RunTrace& trace() { return *trace_; }
    PortProbe& probe() { return *services_.probe; }
    const AppConfig& config() const { return config_; }
    FtpClientFactory ftpClients() const { return services_.makeFtpClient; }
    // Null when no history is kept.
    HistoryStore* history() { return history_.get(); }
    // Gives a record that waits for a busy history its second, before the program ends.
    void flushHistory();

  private:
    AppConfig config_;
    RunServices services_;
    std::unique_ptr<RunTrace> trace_;
    // Observers outlive the controller whose events hold them.
    std::unique_ptr<SleepInhibitor> inhibitor_;
    std::unique_ptr<HistoryStore> history_;
    std::unique_ptr<HistoryRecorder> recorder_;
    std::unique_ptr<MainController> controller_;
};

// Creates the folder (and its parents) when missing, private to the user: 0700. One that
// exists is made private too when `ours`. Throws RuntimeError when it cannot be made.
void preparePrivateFolder(const std::string& path, bool ours);

// The working subfolder of a port ("COM5/"), where k9update keeps the run's files so that
// units can be updated side by side, and the lock file that keeps a second process off it.
std::string portFolder(const std::string& base, int port);
std::unique_ptr<PortLock> lockPort(const std::string& base, int port);

}  // namespace k9
