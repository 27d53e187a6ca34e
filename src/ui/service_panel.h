#pragma once

#include <span>

#include "ui/control_table.h"

namespace morlane {

// Where the service view shows one of the template's hidden controls; dialog units.
struct ServicePlacement {
  int id;
  int x, y, width, height;
};

// The service view: the console and USB controls, which the template creates hidden, shown
// in a panel of their own to the right of the log. The window grows by `width` to make
// room; the template's own controls keep their places. The panel's frames are its own
// controls (id 0), made hidden like the placed ones and shown only with the view.
struct ServicePanel {
  int width;
  std::span<const ControlSpec> frames;
  std::span<const ServicePlacement> placements;
};

const ServicePanel& ServiceViewPanel();
// The placement of a control in the panel, or nullptr when the panel does not show it.
const ServicePlacement* FindServicePlacement(int id);

// The window's menu entry that turns the view on and off.
inline constexpr const char* kServiceViewEntry = "Service View";
// The window's menu entry that presses "Close" whichever view is shown; usable when "Close"
// is.
inline constexpr const char* kCloseLinkEntry = "Close Link";

}  // namespace morlane
