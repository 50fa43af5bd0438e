#pragma once

#include <string>

namespace k9 {

// The user's home folder: $HOME, else the current folder.
std::string homeFolder();
// This program's folders in the user's XDG base folders, without a trailing separator. A
// relative $XDG_STATE_HOME or $XDG_CONFIG_HOME is invalid and ignored, as if it were unset.
// $XDG_STATE_HOME/k9updater, else ~/.local/state/k9updater.
std::string stateFolder();
// $XDG_CONFIG_HOME/k9updater, else ~/.config/k9updater.
std::string configFolder();

}  // namespace k9
