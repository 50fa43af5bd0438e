#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/runtime_error.h"

namespace k9 {

class EventLoop;
class FileTable;
class MainView;
class PortProbe;
class SerialLine;
class Timer;
struct ProgramVars;

// The three timers of the main window; disabled until a run enables them.
struct MainTimers {
    std::unique_ptr<Timer> tmrCheck;       // 5000 ms: keep-alive and no-answer count
    std::unique_ptr<Timer> tmrUserUpload;  // 15000 ms: wait for the locations offer's answer
    std::unique_ptr<Timer> tmrDots;        // 1456 ms: busy dots
};

// The part of the update state that opening and closing a run touches.
struct RunHandles {
    std::int16_t iLocationsFileNo = 0;
    std::int16_t iTempFileNo = 0;
    std::int16_t iStage = 0;
    bool blnStopped = false;
};

// What port control works on. The run's FTP client lies above this layer: closing a run
// releases it through releaseFtpClient.
struct PortContext {
    EventLoop& loop;
    MainView& view;
    SerialLine& MSComm1;
    FileTable& files;
    MainTimers& timers;
    RunHandles& run;
    const ProgramVars& vars;
    std::function<void()> releaseFtpClient;
};

// Owns the serial port and the window's idle state: opening the chosen port, closing
// everything a run holds, and the two ways a run ends with a status line.
class PortControl final {
  public:
    explicit PortControl(PortContext context) : c_(std::move(context)) {}

    // Lets a failed open tell a port this user may not open from a busy one.
    void setProbe(PortProbe& probe) { probe_ = &probe; }

    // True when the selected port is open; on false the user has been told why, and
    // openError() holds the error the open ran into.
    bool OpenComPort();
    const std::optional<RuntimeError>& openError() const { return openError_; }
    // First step of a run: closes a port left open. False (after reporting) when that fails.
    bool closePortLeftOpen();
    void ClosePortAndReset();
    void ReportUpdateFailed();
    void cmdClose_Click();

  private:
    // The advice for a port that failed for want of permission, or empty.
    std::string permissionFailure(int port) const;

    PortContext c_;
    PortProbe* probe_ = nullptr;
    std::optional<RuntimeError> openError_;
};

// Reads a port entry such as " 3" as a number, blanks allowed. Throws RuntimeError 13 when
// the text is not a number (an entry marked " - In Use"), 6 when it is out of range.
std::int16_t portNumberFromEntry(const std::string& entry);

}  // namespace k9
