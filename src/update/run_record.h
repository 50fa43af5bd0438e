#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace k9 {

// The designed stages of a run; the numbers are those Label5 shows.
enum class Stage : std::int16_t {
    WaitSerial = 1,    // "#FTPUN" and the serial number
    WaitPassword,      // "#FTPPW"
    WaitFilePath,      // "#FTPFILEP"
    WaitGet,           // "#FTPGET"
    Download,          // the server's file into temp.qk
    SendFile,          // the data lines to the unit
    WaitOffer,         // the answer to the locations offer
    ReceiveLocations,  // the driver's stored locations
    Finished,
};

// How an update run ended.
enum class RunEnd {
    None,          // no run ended yet
    Updated,       // the unit has the new file
    Failed,        // a run-time error or a refused restart
    NoAnswer,      // the unit never completed the handshake
    ServerFailed,  // login, connection or download failed
    PortError,     // the port could not be opened
    Stopped,       // "Close" during the run, or the program closed
};

// Where the driver's stored locations went.
enum class LocationsFate {
    NotOffered,   // the run never came to the offer
    Declined,     // the unit answered no ("T#END"), or sent too little to hold any
    Unanswered,   // the wait for the unit's answer ran out: none were collected
    Uploaded,     // on the server (with what earlier runs kept)
    Kept,         // saved in the working folder, not on the server
    NotReceived,  // the unit began to send them but never finished
};

// What a run did, filled in as it goes and handed to every observer when it ends.
struct RunRecord {
    RunEnd end = RunEnd::None;
    LocationsFate locations = LocationsFate::NotOffered;
    std::string locationsPath;  // the kept file, when they are Kept
    std::string serialNumber;   // empty until the unit sent a valid one
    int port = 0;
    int edition = -1;  // the file list's index
    std::string remoteFile;
    std::time_t started = 0;  // wall clock
    std::time_t ended = 0;
    Stage lastStage = Stage::WaitSerial;
    std::int32_t lineCount = 0;  // lines of the file sent to the unit
    std::int32_t linesSent = 0;
    std::int64_t serverFileSize = -1;  // the edition's file as the server listed it
    std::time_t serverFileTime = 0;    // its modification time, 0 when the server gave none
    std::int64_t locationsBytes = 0;   // stored locations received from the unit
    // Locations kept by earlier runs of this unit, sent along with this one's update; when
    // they could not be sent they stay in locationsPath.
    std::int32_t earlierKept = 0;
    bool earlierKeptSent = false;
    // For a run that did not update the unit: why, in a few words taken from the error
    // itself; with the run-time error's number and OS code when one ended it.
    std::string reason;
    std::int32_t errorNumber = 0;
    int osError = 0;

    // A stop is what the user did; whatever the run runs into afterwards does not replace it.
    void endAs(RunEnd how) {
        if (end != RunEnd::Stopped) {
            end = how;
        }
    }
    // The first reason given stands: later failures are its consequences.
    void because(std::string why, std::int32_t number = 0, int os = 0) {
        if (reason.empty()) {
            reason = std::move(why);
            errorNumber = number;
            osError = os;
        }
    }
};

}  // namespace k9
