#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
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

// Answers the modal widgets that show, one answer each, in order.
class ModalAnswers {
 public:
  explicit ModalAnswers(std::vector<std::function<void(QWidget*)>> answers)
      : answers_(std::move(answers)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && modal == last_ && ++ticksOnLast_ > kMaxTicksOnOne) {
        // An answer that did not close its modal fails the test instead of holding it.
        ADD_FAILURE() << "a " << modal->metaObject()->className() << " stayed open";
        modal->close();
        return;
      }
      if (!modal || modal == last_ || next_ >= answers_.size()) return;
      last_ = modal;
      ticksOnLast_ = 0;
      answers_[next_++](modal);
    });
    timer_.start();
  }
  size_t Answered() const { return next_; }

 private:
  std::vector<std::function<void(QWidget*)>> answers_;
  size_t next_ = 0;
  static constexpr int kMaxTicksOnOne = 500;
  int ticksOnLast_ = 0;
  // Followed as it lives: the next box may be made where the last one was.
  QPointer<QWidget> last_;
  QTimer timer_;
};

inline std::function<void(QWidget*)> ChooseFile(const std::string& path) {
  return [path](QWidget* modal) {
    auto* files = qobject_cast<QFileDialog*>(modal);
    ASSERT_NE(files, nullptr);
    files->selectFile(QString::fromStdString(path));
    // selectFile leaves the name field as it is while the field has the focus, which the
    // shown dialog gives it at a time of its own: the name is typed in as a user would.
    auto* name = files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_NE(name, nullptr);
    name->setText(QString::fromStdString(path));
    QMetaObject::invokeMethod(files, "accept", Qt::DirectConnection);
  };
}

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
