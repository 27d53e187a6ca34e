// The window as the template builds it: controls, captions, visibility, geometry.
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <gmock/gmock.h>

#include "gui/about_dlg.h"
#include "gui/dialog_units.h"
#include "gui/file_filter.h"
#include "gui/log_view.h"
#include "ui/control_ids.h"
#include "ui/control_table.h"
#include "window_fixture.h"

namespace morlane::gui::test {
namespace {

bool HasCaption(ControlKind kind) {
  return kind == ControlKind::PushButton || kind == ControlKind::CheckBox ||
         kind == ControlKind::ManualCheckBox || kind == ControlKind::StaticText ||
         kind == ControlKind::GroupBox;
}

TEST(WindowBuild, EveryTemplateControlStandsAsTheTableSays) {
  QtWindow window;
  const DialogUnits& units = window.Units();
  for (const ControlSpec& control : MainDialogTemplate().controls) {
    if (control.id == 0) continue;
    SCOPED_TRACE(control.id);
    QWidget* widget = window.Control(control.id);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(window.IsControlShown(control.id), control.shown);
    EXPECT_EQ(window.IsControlEnabled(control.id), control.enabledAtStart);
    if (HasCaption(control.kind)) {
      EXPECT_EQ(window.GetControlText(control.id), control.caption);
    }
    QRect expected = units.Map(control);
    if (control.kind == ControlKind::ComboBox) {
      // Closed, the combo box is one line high; the template's height is its open list.
      EXPECT_EQ(widget->geometry().topLeft(), expected.topLeft());
      EXPECT_EQ(widget->width(), expected.width());
    } else {
      EXPECT_EQ(widget->geometry(), expected);
    }
  }
  // Shown, the hidden controls stay hidden.
  window.show();
  EXPECT_FALSE(window.Control(ctl::kClose)->isVisible());
  EXPECT_FALSE(window.Control(ctl::kCommandEdit)->isVisible());
  EXPECT_TRUE(window.Control(ctl::kOpen)->isVisible());
  EXPECT_TRUE(window.Control(ctl::kLogList)->isVisible());
}

TEST(WindowBuild, ControlKindsAndTheirStyles) {
  QtWindow window;
  auto* update = qobject_cast<QPushButton*>(window.Control(ctl::kUpdateFirmware));
  ASSERT_NE(update, nullptr);
  EXPECT_FALSE(update->autoDefault());
  EXPECT_FALSE(update->isDefault());
  EXPECT_NE(qobject_cast<QComboBox*>(window.Control(ctl::kInterfaceCombo)), nullptr);
  EXPECT_NE(qobject_cast<LogView*>(window.Control(ctl::kLogList)), nullptr);
  EXPECT_NE(qobject_cast<QLabel*>(window.Control(ctl::kPercentText)), nullptr);
  auto* bar = qobject_cast<QProgressBar*>(window.Control(ctl::kProgressBar));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  auto* edit = qobject_cast<QLineEdit*>(window.Control(ctl::kCommandEdit));
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->maxLength(), 35);
  // The two groups; "Interface" has no id.
  QStringList groups;
  for (auto* group : window.findChildren<QGroupBox*>()) groups << group->title();
  EXPECT_TRUE(groups.contains("Interface"));
  EXPECT_TRUE(groups.contains("MCU Firmware Update"));
}

TEST(WindowBuild, CaptionSizeIconAndInstanceMark) {
  QtWindow window;
  const DialogTemplate& dialog = MainDialogTemplate();
  EXPECT_EQ(window.windowTitle(), "Morlane V1.0");
  EXPECT_EQ(window.size(), QSize(window.Units().X(dialog.width), window.Units().Y(dialog.height)));
  // The start size is the smallest; larger is the user's to choose.
  EXPECT_EQ(window.minimumSize(), window.size());
  EXPECT_GT(window.maximumWidth(), window.width());
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_EQ(window.property("Kestrum").toInt(), 1);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
}

TEST(WindowBuild, DialogUnitsComeFromTheDialogFont) {
  QtWindow window;
  QFont font = window.DialogFontUsed();
  if (QFontDatabase::families().contains("SimSun")) {
    EXPECT_EQ(font.family(), "SimSun");
  } else {
    EXPECT_EQ(font.family(), QGuiApplication::font().family());
  }
  EXPECT_EQ(font.pointSize(), 9);
  EXPECT_EQ(window.Control(ctl::kOpen)->font(), font);

  DialogUnits units = DialogUnits::ForFont(font);
  QFontMetrics metrics(font);
  EXPECT_EQ(units.baseY, metrics.height());
  // The average letter width, to the nearest pixel.
  int letters = metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  EXPECT_LE(std::abs(units.baseX * 52 - letters), 26);

  // Four horizontal and eight vertical units make one base unit; the rest is rounded.
  DialogUnits fixed{7, 13};
  EXPECT_EQ(fixed.Map(4, 8, 8, 16), QRect(7, 13, 14, 26));
  EXPECT_EQ(fixed.X(1), 2);  // 1.75
  EXPECT_EQ(fixed.X(2), 4);  // 3.5 rounds up
  EXPECT_EQ(fixed.Y(3), 5);  // 4.875
  EXPECT_EQ(fixed.X(413), 723);
}

TEST(WindowBuild, AboutBoxFromItsTemplate) {
  CAboutDlg about(nullptr);
  EXPECT_EQ(about.windowTitle(), "About Tessaly");
  DialogUnits units = DialogUnits::ForFont(about.font());
  EXPECT_EQ(about.size(), QSize(units.X(235), units.Y(55)));
  auto* ok = about.findChild<QPushButton*>("ctl1");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), "OK");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(ok->geometry(), units.Map(178, 34, 50, 14));
  auto* icon = about.findChild<QLabel*>("icon");
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->pos(), QPoint(units.X(11), units.Y(17)));
  EXPECT_FALSE(icon->pixmap().isNull());
}

TEST(FileDialogFilters, TranslatedFromTheBarSeparatedForm) {
  EXPECT_EQ(FileDialogFilters("FirmWare Files (*.bin)|*.bin|All Files (*.*)|*.*|"),
            QStringList({"FirmWare Files (*.bin)", "All Files (*)"}));
  // The pattern after the bar filters, whatever the name shows; lists become spaces.
  EXPECT_EQ(FileDialogFilters("Images|*.bin;*.S19|"), QStringList({"Images (*.bin *.S19)"}));
  EXPECT_EQ(FileDialogFilters("Old (*.txt)|*.S19"), QStringList({"Old (*.S19)"}));
  // A name without its pattern is dropped; nothing usable shows every file.
  EXPECT_EQ(FileDialogFilters("Broken|"), QStringList({"All Files (*)"}));
  EXPECT_EQ(FileDialogFilters(""), QStringList({"All Files (*)"}));
  EXPECT_EQ(FileDialogFilters("|*.bin|"), QStringList({"*.bin (*.bin)"}));
}

}  // namespace
}  // namespace morlane::gui::test
