#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/kestrum_dlg.h"
#include "gui/qt_window.h"
#include "platform/inprocess_hid.h"
#include "support/memory_serial.h"
#include "support/virtual_clock.h"

namespace morlane::gui::test {

// A click where a user makes it: on a check box's mark, elsewhere in the middle.
inline void ClickControl(QWidget* widget) {
  ASSERT_NE(widget, nullptr);
  QPoint where = widget->rect().center();
  if (qobject_cast<QCheckBox*>(widget)) where = QPoint(6, widget->height() / 2);
  QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, where);
}

// Runs the event loop until done() holds or ms have passed; returns done().
template <typename Done>
bool WaitUntil(Done done, int ms = 3000) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done()) {
    if (elapsed.elapsed() > ms) return false;
    QTest::qWait(5);
  }
  return true;
}

// Answers the next modal box (About, message box) once it is shown, recording its title
// and text; the test then returns from the call that opened it.
class ModalCloser {
 public:
  ModalCloser() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      titles.push_back(modal->windowTitle().toStdString());
      QString text;
      for (QObject* child : modal->findChildren<QObject*>()) {
        QVariant value = child->property("text");
        if (value.isValid() && !value.toString().isEmpty()) text += value.toString() + "|";
      }
      texts.push_back(text.toStdString());
      modal->close();
    });
    timer_.start();
  }
  std::vector<std::string> titles;
  std::vector<std::string> texts;

 private:
  QTimer timer_;
};

// The window with the dialog in it, on an in-memory COM1 and the virtual clock.
class DialogWindowTest : public ::testing::Test {
 protected:
  DialogWindowTest() {
    ports.Add(1, &com1);
    window.Attach(dialog);
    dialog.OnInitDialog();
    window.show();
  }

  QWidget* Control(int id) { return window.Control(id); }
  void Click(int id) { ClickControl(window.Control(id)); }

  morlane::test::VirtualClock clock;
  morlane::test::MemoryLine com1{clock};
  morlane::test::MemoryPortFactory ports;
  InProcessHidBackend hid;
  QtWindow window;
  CKestrumDlg dialog{window, clock, ports, hid};
};

}  // namespace morlane::gui::test
