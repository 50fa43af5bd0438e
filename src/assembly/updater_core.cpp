#include "assembly/updater_core.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "desktop/sleep_inhibitor.h"
#include "devices/port_lock.h"
#include "devices/qt_serial_line.h"
#include "history/history_recorder.h"
#include "history/last_update_line.h"
#include "platform/file_table.h"
#include "transfer/cftp.h"
#include "transfer/ftp_settings.h"

namespace k9 {

FtpClientFactory ftpClientFactory(EventLoop& loop, const AppConfig& config, SupportTrace* trace) {
    return [&loop, trace, settings = ftpSettingsFor(config)] {
        auto ftp = std::make_shared<cFTP>(loop, settings);
        ftp->setTrace(trace);
        return ftp;
    };
}

UpdaterCore::UpdaterCore(EventLoop& loop, MainView& view, AppConfig config, std::string version,
                         RunServices services)
    : config_(std::move(config)), services_(std::move(services)) {
    if (!services_.serial) {
        services_.serial = std::make_shared<QtSerialLine>(config_.ports);
    }
    if (!services_.probe) {
        services_.probe = std::make_shared<QtPortProbe>(config_.ports);
    }
    trace_ = std::make_unique<RunTrace>(loop, *services_.serial, view, config_);
    RunTrace::Setup setup = trace_->settings();
    setup.version = std::move(version);
    trace_->setup(setup);
    if (!services_.makeFtpClient) {
        services_.makeFtpClient = ftpClientFactory(loop, config_, &trace_->trace());
    } else {
        // A client made elsewhere still tells the trace what the server said.
        services_.makeFtpClient = [make = services_.makeFtpClient, trace = &trace_->trace()] {
            std::shared_ptr<cFTP> ftp = make();
            if (ftp) {
                ftp->setTrace(trace);
            }
            return ftp;
        };
    }
    controller_ = std::make_unique<MainController>(loop, view, trace_->line(), config_,
                                                   services_.makeFtpClient);
    controller_->portControl().setProbe(*services_.probe);
    // Ahead of the trace, which closes its file when a run ends: what they have to say about
    // the run's end still goes into it.
    if (services_.keepAwake) {
        inhibitor_ = std::make_unique<SleepInhibitor>(
            [trace = trace_.get()](const std::string& note) { trace->note("desktop", note); });
        controller_->events().add(*inhibitor_);
    }
    if (!services_.historyPath.empty()) {
        const auto note = [trace = trace_.get()](const std::string& text) {
            trace->note("history", text);
        };
        history_ = std::make_unique<HistoryStore>(services_.historyPath, note);
        recorder_ =
            std::make_unique<HistoryRecorder>(*history_, trace_->settings().version, note, loop);
        controller_->events().add(*recorder_);
        trace_->setUnitNotes([store = history_.get()](const std::string& serial) {
            return historyTraceLines(*store, serial);
        });
    }
    controller_->events().add(*trace_);
}

UpdaterCore::~UpdaterCore() {
    flushHistory();
}

void UpdaterCore::flushHistory() {
    if (recorder_ && recorder_->waiting() > 0) {
        recorder_->flush();
    }
}

void preparePrivateFolder(const std::string& path, bool ours) {
    createFolder(path);
    struct stat st {};
    if (ours && ::stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0 &&
        st.st_uid == ::getuid() && ::chmod(path.c_str(), 0700) != 0) {
        raiseFileError(errno, path, "making the folder private");
    }
}

std::string portFolder(const std::string& base, int port) {
    return base + "COM" + std::to_string(port) + "/";
}

std::unique_ptr<PortLock> lockPort(const std::string& base, int port) {
    return std::make_unique<PortLock>(base + "COM" + std::to_string(port) + ".lock");
}

}  // namespace k9
