#pragma once

#include <memory>
#include <string>

#include "assembly/updater_core.h"
#include "config/app_config.h"
#include "platform/virtual_event_loop.h"
#include "recording_view.h"
#include "update/main_controller.h"

namespace k9::test {

// The main window's logic, put together as the front ends put it, on a virtual clock with a
// recording view, set up as start-up leaves it: ports " 1" to " 3" with the first selected,
// "Cameras" selected, idle controls, and a fresh working folder.
class ControllerHarness {
  public:
    ControllerHarness(VirtualEventLoop& loop, SerialLine& serial,
                      std::string ftpHost = "127.0.0.1:1", FtpClientFactory factory = {});
    ~ControllerHarness();

    UpdaterCore& core() { return *core_; }
    MainController& controller() { return core_->controller(); }
    UpdateState& state() { return controller().state(); }
    const std::string& workDir() const { return workDir_; }
    std::string readWorkFile(const std::string& name) const;
    bool workFileExists(const std::string& name) const;
    void writeWorkFile(const std::string& name, const std::string& bytes) const;

    // Clicks "Close" at the given virtual time.
    void closeAt(std::int64_t ms);

    VirtualEventLoop& loop;
    RecordingView view;

  private:
    std::string workDir_;
    std::unique_ptr<UpdaterCore> core_;
};

}  // namespace k9::test
