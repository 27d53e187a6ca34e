// The service view: the console and USB controls, hidden in the template, reached from a
// panel beside the log; with the view off the window is the template's.
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "ui/control_ids.h"
#include "ui/hscroll_listbox.h"
#include "ui/service_panel.h"
#include "window_fixture.h"

namespace morlane::gui::test {
namespace {

class ServiceViewTest : public DialogWindowTest {
 protected:
  ServiceViewTest() { dialog.workingDir = folder.path().toStdString(); }

  // Chooses "Service View" in the window's menu, as the user does.
  void ToggleFromMenu() {
    std::unique_ptr<QMenu> menu = window.MakeWindowMenu();
    for (QAction* action : menu->actions()) {
      if (action->text() == kServiceViewEntry) {
        action->trigger();
        return;
      }
    }
    ADD_FAILURE() << "no Service View entry";
  }

  QSize TemplateSize() const {
    const DialogTemplate& dialog = MainDialogTemplate();
    return {window.Units().X(dialog.width), window.Units().Y(dialog.height)};
  }

  QTemporaryDir folder;
};

TEST_F(ServiceViewTest, TheMenuShowsThePanelsControlsThemselvesAndTakesThemBack) {
  ASSERT_FALSE(window.ServiceViewShown());
  EXPECT_EQ(window.size(), TemplateSize());
  std::map<int, QWidget*> before;
  for (const ServicePlacement& place : ServiceViewPanel().placements) {
    before[place.id] = Control(place.id);
    EXPECT_FALSE(window.IsControlShown(place.id)) << place.id;
  }

  ToggleFromMenu();
  ASSERT_TRUE(window.ServiceViewShown());
  EXPECT_GT(window.width(), TemplateSize().width());
  for (const ServicePlacement& place : ServiceViewPanel().placements) {
    SCOPED_TRACE(place.id);
    ASSERT_EQ(Control(place.id), before[place.id]);
    EXPECT_TRUE(Control(place.id)->isVisible());
    EXPECT_EQ(Control(place.id)->geometry(),
              window.Units().Map(place.x, place.y, place.width, place.height));
    EXPECT_TRUE(window.rect().contains(Control(place.id)->geometry()));
    // Nothing of the panel covers it: a click there reaches this control.
    EXPECT_EQ(window.childAt(Control(place.id)->geometry().center()), Control(place.id));
  }
  // The template's own controls stay where they were.
  EXPECT_EQ(Control(ctl::kOpen)->geometry(), window.Units().Map(*FindControl(ctl::kOpen)));

  ToggleFromMenu();
  EXPECT_FALSE(window.ServiceViewShown());
  EXPECT_EQ(window.size(), TemplateSize());
  for (const ServicePlacement& place : ServiceViewPanel().placements) {
    EXPECT_TRUE(Control(place.id)->isHidden()) << place.id;
    EXPECT_EQ(Control(place.id)->geometry(), window.Units().Map(*FindControl(place.id)));
  }
}

TEST_F(ServiceViewTest, SendInThePanelSendsTheTypedCommandOverTheOpenLink) {
  window.SetServiceView(true);
  com1.SetPeer([](const std::vector<uint8_t>& written, int, morlane::test::MemoryLine& line) {
    if (!written.empty() && written.back() == '\r') {
      const std::string answer = "(230.0 49.9\r";
      line.Queue({answer.begin(), answer.end()});
    }
  });
  Click(ctl::kOpen);
  ASSERT_TRUE(window.IsControlEnabled(ctl::kSend));
  com1.ClearWrites();
  QTest::keyClicks(Control(ctl::kCommandEdit), "Q1");
  Click(ctl::kSend);
  const std::vector<uint8_t> sent = com1.AllWritten();
  EXPECT_EQ(std::string(sent.begin(), sent.end()), "Q1\r");
  CHScrollListBox& log = window.LogList();
  ASSERT_GE(log.GetCount(), 3);
  EXPECT_EQ(log.GetText(log.GetCount() - 3), "Send MCU command");
  EXPECT_EQ(log.GetText(log.GetCount() - 2), "Q1");
  EXPECT_EQ(log.GetText(log.GetCount() - 1), "(230.0 49.9\r");
}

TEST_F(ServiceViewTest, TheCommandTestsButtonRulesHoldInThePanel) {
  window.SetServiceView(true);
  Click(ctl::kOpen);
  Click(ctl::kStart);
  EXPECT_TRUE(WaitUntil([&] {
    return !window.IsControlEnabled(ctl::kStart) && window.IsControlEnabled(ctl::kStop);
  }));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kClose));
  // A click on the disabled "Start" in the panel starts nothing.
  Click(ctl::kStart);
  Click(ctl::kStop);
  EXPECT_TRUE(WaitUntil([&] {
    return window.IsControlEnabled(ctl::kStart) && !window.IsControlEnabled(ctl::kStop);
  }));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kClose));
  EXPECT_TRUE(QFile::exists(folder.filePath("MCUlog.txt")));
  Click(ctl::kClose);
  EXPECT_TRUE(window.IsControlEnabled(ctl::kOpen));
}

}  // namespace
}  // namespace morlane::gui::test
