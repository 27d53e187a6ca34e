#pragma once

#include <span>

namespace morlane {

enum class ControlKind {
  GroupBox,
  ComboBox,
  PushButton,
  CheckBox,        // automatic check box: a click toggles it
  ManualCheckBox,  // a click does not toggle it; its handler sets the mark
  StaticText,
  ProgressBar,
  ListBox,
  Edit,
};

// One control of the main dialog template; the rectangle is in dialog units.
struct ControlSpec {
  int id;  // 0 for the controls without an id
  ControlKind kind;
  const char* caption;
  int x, y, width, height;
  bool shown;
  bool enabledAtStart;
};

// The dialog template: caption, size in dialog units, font, and every control. The Qt
// window and the headless one are both built from it.
struct DialogTemplate {
  const char* caption;
  int width, height;
  const char* fontFace;
  int fontPoints;
  std::span<const ControlSpec> controls;
};

const DialogTemplate& MainDialogTemplate();
const DialogTemplate& AboutDialogTemplate();
const ControlSpec* FindControl(int id);

}  // namespace morlane
