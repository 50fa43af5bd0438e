#pragma once

#include <cstdint>

namespace k9 {

// How an update run ended, as far as a front end reporting it needs to know. The window
// shows the status line instead; a command turns this into its exit code.
enum class RunEnd {
    None,          // no run ended yet
    Updated,       // the unit has the new file
    Failed,        // a run-time error or a refused restart
    NoAnswer,      // the unit never completed the handshake
    ServerFailed,  // login, connection or download failed
    PortError,     // the port could not be opened
    Stopped,       // "Close" during the run
};

enum class LocationsFate {
    NotOffered,   // none sent: declined, "T#END", no answer, or too short to hold any
    Uploaded,     // on the server
    Kept,         // received and saved in the working folder, not on the server
    NotReceived,  // the unit began to send them but never finished
};

// Filled in by the run as it goes; reset by each click on "Start Update".
struct RunRecord {
    RunEnd end = RunEnd::None;
    LocationsFate locations = LocationsFate::NotOffered;
    std::int32_t lineCount = 0;  // lines of the file being sent
    std::int32_t linesSent = 0;
    std::int64_t transferBytes = 0;  // the current server transfer
    std::int64_t transferTotal = 0;

    // A stop is what the user did; whatever the run runs into afterwards does not replace it.
    void ended(RunEnd how) {
        if (end != RunEnd::Stopped) {
            end = how;
        }
    }
};

}  // namespace k9
