#pragma once

#include <string>
#include <vector>

namespace k9 {

// What was moved from an earlier version's working folder.
struct FolderMove {
    std::string from;
    std::string to;
    std::vector<std::string> files;  // names moved; QK.ini last
};

// Moves QK.ini and the kept location files (<serial number>.txt) from `from` to `to`, once:
// only when `from` holds a QK.ini and `to` does not. A file already in `to` stays and its
// old copy is left behind. Throws RuntimeError when QK.ini itself cannot be moved.
FolderMove moveOldWorkingFolder(const std::string& from, const std::string& to);

// The start-up note on a move ("" when nothing was moved), home shown as "~".
std::string folderMoveNote(const FolderMove& move);

}  // namespace k9
