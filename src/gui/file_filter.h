#pragma once

#include <QStringList>
#include <string_view>

namespace morlane::gui {

// The dialog's filter "Name (*.x)|*.x|Other (*.*)|*.*|" as the file dialog's name
// filters. The pattern after each bar is what filters; the pattern shown in a name is
// replaced by it, so that name and filter always agree. "*.*" means every file, as it
// does for the unit's technicians, and becomes "*" (here "*.*" would skip names without
// a dot). A name without a pattern is dropped; with nothing left, every file is shown.
QStringList FileDialogFilters(std::string_view filter);

}  // namespace morlane::gui
