#pragma once

#include <QIcon>

// The program's icon, from its icon resource "APPL_ICON" (an SVG drawing,
// the same file the package installs into the desktop's icon theme),
// rendered at the sizes window frames and task bars ask for.
QIcon ApplicationIcon();
