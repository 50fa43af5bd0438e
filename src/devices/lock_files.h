#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace k9 {

// The folders where serial programs leave their LCK.. files.
std::vector<std::string> defaultLockFolders();

// The process a lock file names: its first line holds the pid in decimal, blanks around it
// allowed (UUCP's ten-column form, Qt's pid-then-name form); an old binary lock is the pid as
// four bytes. 0 when the text names none.
long lockFilePid(std::string_view content);

// The lock file name of a node, as serial programs and Qt make it: "LCK..ttyUSB0" for
// /dev/ttyUSB0, "LCK..pts_3" for /dev/pts/3, the whole path with its slashes made
// underscores for a node outside /dev.
std::string lockFileName(const std::string& node);

// The live process holding `node` through a lock file in one of `folders`; 0 when none does
// (no lock, or its process is gone).
long lockHolder(const std::string& node, const std::vector<std::string>& folders);

}  // namespace k9
