#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace k9 {

// What the driver chooses on the unit when it offers to send its stored locations.
enum class OfferAnswer { kYes, kNo, kNever };

// Ways the unit can get its own serial number wrong.
enum class SerialFault {
    kNone,
    kLowerCase,     // "k9a1234"
    kShort,         // the first 5 characters only
    kInvalidChars,  // '/' and '*' in place of two characters
};

// Everything that shapes one simulated unit. Stages are numbered as the updater counts them:
// 1 serial number, 2 password, 3 file path, 4 get, 5 download, 6 data lines, 7 answer to the
// locations offer, 8 stored locations. A stage of 0 switches a fault off. Keyword faults
// (drop, late, garbage, no CR, split, merged) and the disconnect fire once in the unit's lifetime,
// so a run the updater restarts meets a healthy unit; silence holds for every session.
struct SimOptions {
    std::string serial = "K9A1234";
    SerialFault serialFault = SerialFault::kNone;
    OfferAnswer answer = OfferAnswer::kYes;
    // Sent back when the offer is answered yes; lines end in CR LF, the ETX line is added.
    std::string locations =
        "51.50722,-0.12750,30,USER\r\n"
        "52.48622,-1.89040,40,USER\r\n"
        "53.48076,-2.24263,50,USER\r\n";
    // A unit waits for the done code after its locations; the updater only sends it for more
    // than 12 characters, so a shorter list needs this off to count as a whole session.
    bool expectFinalDone = true;

    std::int64_t startDelayMs = 1000;  // from the port opening to the serial number
    std::int64_t replyDelayMs = 200;   // from an acknowledgement to the next keyword
    // A keyword still unanswered after this long is sent again (0: never). The answer to the
    // offer is never repeated: the updater pauses 5 s before acknowledging it.
    std::int64_t retryMs = 3000;
    std::int64_t saveMs = 3000;  // saving the data before the offer; make it long for slow saving

    int silentFromStage = 0;   // 1..8: sends nothing from this stage on
    int dropKeywordStage = 0;  // 1..4, 7: the keyword is lost on the line once
    int lateKeywordStage = 0;  // 1..4, 7, 8: the message goes out lateByMs later, once
    std::int64_t lateByMs = 7000;
    int garbageBeforeStage = 0;   // 1..4, 7: noise in the same write, before the keyword, once
    int garbageInsteadStage = 0;  // 1..4, 7: noise instead of the keyword, once
    std::string garbage = std::string("\x00\xfe\x7f~#FT?PU\x1bN*", 13);
    int noCrStage = 0;               // 1..4, 7: the keyword ends in LF only, once
    int splitKeywordStage = 0;       // 1..4, 7: the keyword goes out in two writes, once
    std::int64_t splitGapMs = 2500;  // longer than the 2 s between two reads of the updater
    int mergedKeywordStage = 0;    // 2..4, 8: goes out in the same write as the stage before, once
    int disconnectAtStage = 0;     // 1..8: the line is cut when the stage begins, once
    int disconnectAfterLines = 0;  // the line is cut after this many data lines, once
    // Answering yes, the unit sends location text forever and never the ETX.
    bool flood = false;
    std::size_t floodChunkBytes = 384;  // about the line's rate at 38400 baud
    std::int64_t floodIntervalMs = 100;
};

}  // namespace k9
