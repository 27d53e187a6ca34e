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

// How a control follows a window the user made larger than its start size (the template's
// size, or with the service view the template's and the panel's): the start size is the
// dialog's layout and the smallest the window gets. The log takes all the room gained,
// right and down, since more lines of it are what a technician makes the window larger
// for. What stands right of the log moves with its right edge: "Clear Log" stays at the
// log's top-right corner, and the service view's panel stays beside the log at the
// window's right edge, its controls at their sizes. Every other control keeps its
// template place.
enum class GrowRule { Stays, MovesRight, Grows };
GrowRule GrowRuleOf(int id, bool inServicePanel);

// A rectangle in pixels.
struct PixelRect {
  int x, y, width, height;
};
// Where a control whose start place is `start` stands when the window is `extraWidth` and
// `extraHeight` pixels larger than its start size (neither below 0).
PixelRect GrownPlace(const PixelRect& start, GrowRule rule, int extraWidth, int extraHeight);

// The placement of a control in the panel, or nullptr when the panel does not show it.
const ServicePlacement* FindServicePlacement(int id);

// The window's menu entry that turns the view on and off.
inline constexpr const char* kServiceViewEntry = "Service View";
// The window's menu entry that presses "Close" whichever view is shown; usable when "Close"
// is.
inline constexpr const char* kCloseLinkEntry = "Close Link";
// The window's menu entry that chooses the folder "Automatic" and the files of the dialog
// use; refused while a procedure runs.
inline constexpr const char* kWorkingFolderEntry = "Working Folder...";
// The window menu's entry that opens a service package to program from.
inline constexpr const char* kOpenPackageEntry = "Open Package...";

}  // namespace morlane
