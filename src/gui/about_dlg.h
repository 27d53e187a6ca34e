#pragma once

#include <QDialog>

namespace morlane::gui {

// The About box, built from its template: the application icon and an "OK" button.
class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent);
};

}  // namespace morlane::gui
