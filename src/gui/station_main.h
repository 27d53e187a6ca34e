#pragma once

#include <QApplication>

#include "gui/gui_options.h"

namespace morlane::gui {

// morlane --station PROFILE: the station's view until it is closed (running units finish
// first). 2 for a profile the station cannot start with, said on stderr.
int RunStationWindow(QApplication& application, const GuiOptions& options);

}  // namespace morlane::gui
