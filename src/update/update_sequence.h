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
    // One of the reading, sending and after-sending handlers: the question, and its answer
    // carried out.
    StepOutcome askRestart(const std::string& text, const std::exception& e);

    MainContext& c_;
    PortControl& port_;
    DeviceLink& link_;
    ServerOperations& server_;
    LocationUpload& upload_;
};

// The server's file for an entry of the file list; null for an entry that chooses none.
const char* remoteFileFor(int index);
// The error of a handler: a RuntimeError as it is, anything else as an internal error.
RuntimeError asRuntimeError(const std::exception& e);
// "mm-dd-yyyy" followed by "hh:mm:ss" for the local time now.
std::string dateTimeStamp();

}  // namespace k9
