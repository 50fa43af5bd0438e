#pragma once

#include <cstdint>
#include <string>

#include "update/device_link.h"
#include "update/run_record.h"

namespace k9 {

struct MainContext;
class PortControl;
class ServerOperations;

// After the file is sent: the bounded wait for the answer to the locations offer, the
// reception of the driver's stored locations, and their upload.
class LocationUpload final {
  public:
    LocationUpload(MainContext& context, DeviceLink& link, ServerOperations& server,
                   PortControl& port)
        : c_(context), link_(link), server_(server), port_(port) {}

    void tmrUserUpload_Timer();
    StepOutcome waitForAnswer();     // stage 7
    StepOutcome receiveLocations();  // stage 8
    // On a run that ends updated without new locations: sends what earlier runs kept for
    // this unit. The sentence for the status line, "" when nothing was kept.
    std::string sendKept();

  private:
    void saveAndUpload();
    // Ends the run when the locations stop coming or never end; the unit itself is updated.
    StepOutcome giveUpReceiving(const std::string& why);

    MainContext& c_;
    DeviceLink& link_;
    ServerOperations& server_;
    PortControl& port_;
    // When the receive buffer last grew during stage 8, and how long it was then.
    std::int64_t lastDataMs_ = 0;
    std::size_t lastSize_ = 0;
};

// tmrUserUpload's interval.
inline constexpr std::int64_t kUploadTickMs = 15000;
// How many ticks of tmrUserUpload the wait for the offer's answer lasts, by the file list's
// entry, and that wait in milliseconds.
int offerWaitTicks(int fileIndex);
std::int64_t offerWaitMs(int fileIndex);
// Whether a run got the unit's stored locations (whatever became of them then).
bool receivedLocations(LocationsFate fate);

// Stage 8 gives up when the unit sends nothing for this long.
inline constexpr std::int64_t kLocationsSilenceMs = 60000;

// The driver's locations in a receive buffer: the text before the ETX that is followed by CR
// or LF. False while that end has not arrived.
bool extractLocations(const std::string& buffer, std::string& locations);

}  // namespace k9
