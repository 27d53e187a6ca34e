#include "gui/about_dlg.h"

#include <QLabel>
#include <QPushButton>

#include "gui/app_icon.h"
#include "gui/dialog_units.h"
#include "gui/text_convert.h"
#include "ui/control_table.h"

namespace morlane::gui {

namespace {

// Id of the OK button in the template; the other control is the icon.
constexpr int kOkId = 1;
constexpr int kIconSize = 32;

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  const DialogTemplate& about = AboutDialogTemplate();
  QFont font = DialogFont(about);
  setFont(font);
  DialogUnits units = DialogUnits::ForFont(font);
  setWindowTitle(ToQString(about.caption));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(units.X(about.width), units.Y(about.height));
  for (const ControlSpec& control : about.controls) {
    QRect rect = units.Map(control);
    if (control.kind == ControlKind::PushButton) {
      auto* button = new QPushButton(ToQString(control.caption), this);
      button->setObjectName(QStringLiteral("ctl%1").arg(control.id));
      button->setGeometry(rect);
      button->setDefault(control.id == kOkId);
      if (control.id == kOkId) connect(button, &QPushButton::clicked, this, &QDialog::accept);
    } else {
      // An icon static takes the icon's own size at its position.
      auto* icon = new QLabel(this);
      icon->setObjectName(QStringLiteral("icon"));
      icon->setPixmap(AppIconPixmap(kIconSize));
      icon->setGeometry(rect.x(), rect.y(), kIconSize, kIconSize);
    }
  }
}

}  // namespace morlane::gui
