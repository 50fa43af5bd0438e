#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace k9 {

// The driver's locations that have not reached the server yet, kept in the working folder
// under the unit's serial number ("<serial>.txt", the same name as on the server) until they
// have. Each unit has its own file.
struct KeptLocations {
    std::string serial;
    std::int32_t count = 0;  // locations (lines that are not empty)
    std::time_t since = 0;   // when the oldest of them was kept
};

std::string keptFileName(const std::string& serial);
// The kept files in folder, in order of serial number.
std::vector<KeptLocations> findKeptLocations(const std::string& folder);
std::int32_t countLocations(const std::string& text);
// "1 kept location", "3 kept locations".
std::string keptCountText(std::int32_t count);
// What is kept with the newly received locations added after it; a line already kept is not
// added again (the unit sends them again when it never heard that they were taken).
std::string mergeLocations(const std::string& kept, const std::string& received);
// The start-up note on what is kept, one line a unit ("" when nothing is), each line begun
// with CR LF.
std::string keptLocationsNote(const std::vector<KeptLocations>& kept);
// How sending a kept file went: why it was not sent, empty when it was (and is deleted).
struct KeptSending {
    std::int32_t count = 0;
    std::string why;
};
// Counts the kept file at path, sends it with `send` (which returns why it failed, or "") and
// deletes it once sent. Never throws: a failure only leaves the file for later.
KeptSending sendKeptFile(const std::string& path, const std::function<std::string()>& send);
// Adds the received locations to the kept file, or starts it with them.
void keepLocations(const std::string& path, const std::string& received);

}  // namespace k9
