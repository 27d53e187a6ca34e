// The service view: the console and USB controls, hidden in the template, reached from a
// panel beside the log; with the view off the window is the template's.
#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <regex>

#include "flash/test_image_maker.h"
#include "gui/gui_clock.h"
#include "sim/host_platform.h"
#include "support/process.h"
#include "ui/control_ids.h"
#include "ui/event_file.h"
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

TEST_F(ServiceViewTest, InALargerWindowThePanelStaysBesideTheLogAtTheRightEdge) {
  const QSize extra(110, 70);
  window.resize(TemplateSize() + extra);
  ASSERT_TRUE(WaitUntil([&] { return window.size() == TemplateSize() + extra; }, 2000));
  const QRect logStart = window.Units().Map(*FindControl(ctl::kLogList));
  const QRect clearStart = window.Units().Map(*FindControl(ctl::kClearLog));

  // On, the window grows by the panel and keeps the room the user gave the log.
  ToggleFromMenu();
  const QSize withPanel = window.StartSize();
  EXPECT_GT(withPanel.width(), TemplateSize().width());
  EXPECT_EQ(window.minimumSize(), withPanel);
  ASSERT_TRUE(WaitUntil([&] { return window.size() == withPanel + extra; }, 2000));
  auto expectGrownBy = [&](QSize by) {
    EXPECT_EQ(Control(ctl::kLogList)->geometry(), logStart.adjusted(0, 0, by.width(), by.height()));
    EXPECT_EQ(Control(ctl::kClearLog)->geometry(), clearStart.translated(by.width(), 0));
    EXPECT_EQ(Control(ctl::kOpen)->geometry(), window.Units().Map(*FindControl(ctl::kOpen)));
    for (const ServicePlacement& place : ServiceViewPanel().placements) {
      SCOPED_TRACE(place.id);
      const QRect at =
          window.Units().Map(place.x, place.y, place.width, place.height).translated(by.width(), 0);
      EXPECT_EQ(Control(place.id)->geometry(), at);
      EXPECT_EQ(window.childAt(at.center()), Control(place.id));
    }
  };
  expectGrownBy(extra);

  // The start size with the panel is the smallest now.
  window.resize(TemplateSize());
  ASSERT_TRUE(WaitUntil([&] { return window.size() == withPanel; }, 2000));
  expectGrownBy(QSize(0, 0));

  window.resize(withPanel + extra);
  ASSERT_TRUE(WaitUntil([&] { return window.size() == withPanel + extra; }, 2000));
  ToggleFromMenu();
  EXPECT_EQ(window.minimumSize(), TemplateSize());
  ASSERT_TRUE(WaitUntil([&] { return window.size() == TemplateSize() + extra; }, 2000));
  EXPECT_EQ(Control(ctl::kLogList)->geometry(),
            logStart.adjusted(0, 0, extra.width(), extra.height()));
  for (const ServicePlacement& place : ServiceViewPanel().placements) {
    EXPECT_TRUE(Control(place.id)->isHidden()) << place.id;
  }
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

namespace morlane::gui::test {
namespace {

std::string ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

// The window on the simulated unit over its serial line and the real clock, working in a
// folder of its own.
class ServiceSession : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(platform.Start(true, {}, &error)) << error;
    dialog = std::make_unique<CKestrumDlg>(window, clock, platform.Ports(), platform.HidDevices());
    dialog->workingDir = folder.path().toStdString();
    window.Attach(*dialog);
    dialog->OnInitDialog();
  }

  sim::HostPlatform platform;
  QTemporaryDir folder;
  QtWindow window;
  GuiClock clock;
  std::unique_ptr<CKestrumDlg> dialog;
};

// A technician's service session from the panel, on the simulated unit over its serial
// line and the real clock: open, send "Q1", run the command test, stop it, close.
TEST_F(ServiceSession, FromThePanelOnTheSimulatedUnit) {
  window.SetServiceView(true);
  window.show();
  CHScrollListBox& log = window.LogList();
  auto logged = [&log](const std::string& text) {
    for (int i = 0; i < log.GetCount(); ++i) {
      if (log.GetText(i).starts_with(text)) return true;
    }
    return false;
  };

  ClickControl(window.Control(ctl::kOpen));
  ASSERT_TRUE(window.IsControlEnabled(ctl::kSend));
  QTest::keyClicks(window.Control(ctl::kCommandEdit), "Q1");
  ClickControl(window.Control(ctl::kSend));
  ASSERT_GE(log.GetCount(), 2);
  EXPECT_EQ(log.GetText(log.GetCount() - 2), "Q1");
  EXPECT_EQ(log.GetText(log.GetCount() - 1).substr(0, 1), "(") << log.GetText(log.GetCount() - 1);

  ClickControl(window.Control(ctl::kStart));
  // The worker waits half a second, then sends "Q1" every 300 ms.
  EXPECT_TRUE(WaitUntil([&] { return logged("Send MCU command in auto thread"); }));
  QTest::qWait(1500);
  ClickControl(window.Control(ctl::kStop));
  EXPECT_TRUE(WaitUntil([&] { return window.IsControlEnabled(ctl::kStart); }));
  EXPECT_TRUE(logged("Stop auto send command!"));
  const std::string file = ReadAll(folder.filePath("MCUlog.txt"));
  EXPECT_NE(file.find("\r\nQ1\r\n("), std::string::npos) << file;
  EXPECT_NE(file.find("Test Finish Time: "), std::string::npos);

  ClickControl(window.Control(ctl::kClose));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kOpen));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kSend));
}

// What a program learns of a run, less the log lines (the window adds its own) and the
// times: the images, the steps with their outcomes, the progress and any refusal.
std::string StepsOf(const std::string& stream) {
  std::string kept;
  std::regex time(R"("t":[0-9]+,)");
  size_t start = 0;
  for (size_t end; (end = stream.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = stream.substr(start, end - start);
    if (line.find(R"("type":"log")") != std::string::npos ||
        line.find(R"("type":"run_)") != std::string::npos) {
      continue;
    }
    kept += std::regex_replace(line, time, "") + "\n";
  }
  return kept;
}

// "Automatic" closes the serial port when it ends: the window says so, Open works again,
// and "Close" is in the window's menu whichever view is shown, usable when the button is.
// Its events are the command line's for the same run.
TEST_F(ServiceSession, AfterAutomaticThePortIsClosedAndTheLogSaysHowToGoOn) {
  QFile image(folder.filePath("Master.bin"));
  ASSERT_TRUE(image.open(QIODevice::WriteOnly));
  const std::vector<uint8_t> bytes = morlane::test::MakeInverterImage({{0x2010, {0x0102, 3}}});
  image.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
  image.close();
  window.show();
  std::FILE* eventsOut = std::fopen(folder.filePath("window.ndjson").toUtf8().constData(), "w");
  ASSERT_NE(eventsOut, nullptr);
  EventFile events(eventsOut);
  dialog->events.Listen(&events);
  auto closeEntry = [this] {
    std::unique_ptr<QMenu> menu = window.MakeWindowMenu();
    return menu->actions()[2]->isEnabled();
  };
  EXPECT_FALSE(closeEntry());

  ClickControl(window.Control(ctl::kOpen));
  EXPECT_TRUE(closeEntry());
  ClickControl(window.Control(ctl::kAutomatic));
  CHScrollListBox& log = window.LogList();
  ASSERT_GE(log.GetCount(), 3);
  EXPECT_EQ(log.GetText(log.GetCount() - 3),
            "The serial port is closed now: the update closes it when it ends.");
  EXPECT_EQ(log.GetText(log.GetCount() - 2), "Press Open to work with the unit again.");
  EXPECT_TRUE(window.IsControlEnabled(ctl::kOpen));
  EXPECT_FALSE(window.IsControlEnabled(ctl::kAutomatic));
  EXPECT_FALSE(closeEntry());
  dialog->events.Listen(nullptr);
  std::fclose(eventsOut);
  morlane::test::ProcessResult cli = morlane::test::RunProcess(
      {MORLANE_CLI, "--simulate", "--quiet", "--dir", folder.path().toStdString(), "--events",
       folder.filePath("cli.ndjson").toStdString(), "auto"});
  EXPECT_EQ(cli.status, 0) << cli.err;
  const std::string fromWindow = StepsOf(ReadAll(folder.filePath("window.ndjson")));
  EXPECT_NE(fromWindow.find(R"("step":"verify","cpu":"master","outcome":"ok")"), std::string::npos);
  EXPECT_EQ(fromWindow, StepsOf(ReadAll(folder.filePath("cli.ndjson"))));

  ClickControl(window.Control(ctl::kOpen));
  ASSERT_TRUE(dialog->serial.IsOpen());
  std::unique_ptr<QMenu> menu = window.MakeWindowMenu();
  menu->actions()[2]->trigger();
  EXPECT_FALSE(dialog->serial.IsOpen());
  EXPECT_EQ(log.GetText(log.GetCount() - 2), "Close Serial MCU OK!");
  EXPECT_TRUE(window.IsControlEnabled(ctl::kOpen));
}

}  // namespace
}  // namespace morlane::gui::test
