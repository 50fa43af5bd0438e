#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

namespace k9 {

// Registers the pictures compiled into the program (the title artwork and the icon).
void initResources();
// The program's icon in all its drawn sizes.
QIcon appIcon();

// The windows name Windows fonts; this maps them to the nearest ones a Linux desktop has.
void installFontFallbacks();

// Background of the user guide: the system's window-frame colour.
inline const QColor kHelpBackground{100, 100, 100};
inline const QColor kInstructionsBackground{0, 0, 0};

// Red bar (255, 0, 49) on white.
QString progressBarStyle();

}  // namespace k9
