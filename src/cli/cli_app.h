#pragma once

#include <QStringList>
#include <string>

namespace k9 {

// The whole of k9update: reads the command line, then lists the ports or runs one update on
// the window's controller, and returns the exit code.
int runK9Update(const QStringList& arguments, const std::string& exeDir);

}  // namespace k9
