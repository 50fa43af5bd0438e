#pragma once

#include <optional>
#include <string>

namespace k9 {

// Reads the start of QK.ini (at most maxChars bytes); nothing when the file cannot be read.
std::optional<std::string> readSettingsText(const std::string& path, std::size_t maxChars);

// Replaces QK.ini with the given bytes in one step (replaceFileAtomically), so a crash or a full
// disk leaves the old settings in place. A read-only old file is replaced too. Throws
// RuntimeError when the new file cannot be written.
void replaceSettingsFile(const std::string& path, const std::string& bytes);

}  // namespace k9
