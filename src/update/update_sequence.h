#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "update/device_link.h"

namespace k9 {

struct MainContext;
class PortControl;
class ServerOperations;
class LocationUpload;
class RuntimeError;

// One update run, from the click on "Start Update" to its end: the wait loop over the
// stages, the download, the sending of the file, and the run's error handlers.
class UpdateSequence final {
  public:
    UpdateSequence(MainContext& context, PortControl& port, DeviceLink& link,
                   ServerOperations& server, LocationUpload& upload)
        : c_(context), port_(port), link_(link), server_(server), upload_(upload) {}

    void cmdGo_Click();

  private:
    StepOutcome runOnce();
    void startRun();
    StepOutcome waitLoop();
    StepOutcome stageStep();
    StepOutcome downloadFile();  // stage 5
    StepOutcome sendFile();      // stage 6
    StepOutcome countLines(std::int32_t& lineCount);
    StepOutcome sendLines(std::int32_t lineCount);
    void finishSending();
    void endOfRun();
    void reportGeneralError(const RuntimeError& error);
    StepOutcome askRestart(const std::string& text);

    MainContext& c_;
    PortControl& port_;
    DeviceLink& link_;
    ServerOperations& server_;
    LocationUpload& upload_;
};

// The error of a handler: a RuntimeError as it is, anything else as an internal error.
RuntimeError asRuntimeError(const std::exception& e);
// "mm-dd-yyyy" followed by "hh:mm:ss" for the local time now.
std::string dateTimeStamp();

}  // namespace k9
