#pragma once

#include <QIcon>
#include <QPixmap>

namespace morlane::gui {

// The tool's icon, drawn here rather than loaded: the converter symbol (a box cut by its
// diagonal, direct current on one side, alternating current on the other) on a blue tile.
QPixmap AppIconPixmap(int size);
QIcon AppIcon();

}  // namespace morlane::gui
