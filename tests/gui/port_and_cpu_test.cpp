// The window's port list, its title with the simulated unit, and the CPU question of a
// firmware file whose path does not say which CPU it is for.
#include <QAbstractButton>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>

#include <gmock/gmock.h>

#include <functional>

#include "support/process.h"
#include "ui/control_ids.h"
#include "ui/hscroll_listbox.h"
#include "ui/listed_ports.h"
#include "window_fixture.h"

namespace morlane::gui::test {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

// Presses the box's button of that caption, and notes the buttons it had.
std::function<void(QWidget*)> Press(const QString& caption, QStringList* buttons) {
  return [caption, buttons](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    for (QAbstractButton* button : box->buttons()) buttons->append(button->text());
    for (QAbstractButton* button : box->buttons()) {
      if (button->text() == caption) {
        button->click();
        return;
      }
    }
    box->reject();
  };
}

// The window on an in-memory COM1 with two more ports of the system beside it.
class PortListTest : public ::testing::Test {
 protected:
  PortListTest() {
    ports.Add(1, &com1);
    auto system = std::make_unique<morlane::test::MemoryPortFactory>();
    system->Add(1, &com1);
    system->Add(2, &usb3);
    system->Add(3, &acm0);
    listed = std::make_unique<ListedPortFactory>(
        ports, std::vector<std::string>{"mem:1", "/dev/ttyUSB3", "/dev/ttyACM0"},
        std::move(system));
    dialog = std::make_unique<CKestrumDlg>(window, clock, *listed, hid);
    dialog->listedPorts = listed->Listed();
    dialog->simulatedUnit = true;
    window.Attach(*dialog);
    dialog->OnInitDialog();
    window.show();
  }

  QComboBox* Combo() { return qobject_cast<QComboBox*>(window.Control(ctl::kInterfaceCombo)); }
  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    for (int i = 0; i < window.LogList().GetCount(); ++i)
      lines.push_back(window.LogList().GetText(i));
    return lines;
  }

  morlane::test::VirtualClock clock;
  morlane::test::MemoryLine com1{clock}, usb3{clock}, acm0{clock};
  morlane::test::MemoryPortFactory ports;
  std::unique_ptr<ListedPortFactory> listed;
  InProcessHidBackend hid;
  QtWindow window;
  std::unique_ptr<CKestrumDlg> dialog;
};

TEST_F(PortListTest, SystemPortsFollowTheFirstTwoAndOpenAsChosen) {
  QComboBox* combo = Combo();
  ASSERT_NE(combo, nullptr);
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  // The port the search found is not listed again.
  EXPECT_EQ(items, QStringList({"COM1", "USB", "/dev/ttyUSB3", "/dev/ttyACM0"}));
  EXPECT_EQ(combo->currentIndex(), 0);
  EXPECT_EQ(window.windowTitle().toStdString().rfind("Morlane V1.0 - SIMULATED UNIT", 0), 0u);

  const int searchOpens = com1.Opens();
  combo->setCurrentIndex(3);
  ClickControl(window.Control(ctl::kOpen));
  EXPECT_EQ(dialog->session.sessionState, SessionState::Serial);
  EXPECT_EQ(acm0.Opens(), 1);
  EXPECT_EQ(usb3.Opens(), 0);
  EXPECT_EQ(com1.Opens(), searchOpens);
  EXPECT_EQ(dialog->serial.Port(), dialog->session.comPortNumber);
  EXPECT_EQ(listed->PathOf(dialog->session.comPortNumber), "mem:3");
}

TEST_F(PortListTest, ManualModeAsksForTheCpuOfAPathThatNamesNone) {
  morlane::test::TempDir dir;
  dir.Write("fw_\xc3\x9f.bin", std::string("\x08\xaa"));
  dir.Write("master and slave.bin", std::string("\x08\xaa"));
  ClickControl(window.Control(ctl::kOpen));
  ClickControl(window.Control(ctl::kModeManual));
  ASSERT_TRUE(window.IsControlEnabled(ctl::kSelectFirmware));

  QStringList buttons;
  {
    ModalAnswers answers({ChooseFile(dir.File("fw_\xc3\x9f.bin")), Press("Slave", &buttons)});
    ClickControl(window.Control(ctl::kSelectFirmware));
    ASSERT_TRUE(WaitUntil([&] { return answers.Answered() == 2; }));
  }
  EXPECT_EQ(buttons, QStringList({"Master", "Slave", "Cancel"}));
  EXPECT_EQ(dialog->selection.cpuTarget, 1);
  EXPECT_THAT(Log(), Contains("beginning burn slave cpu....\n"));
  EXPECT_TRUE(window.IsControlEnabled(ctl::kUpdateFirmware));

  // Both CPUs named, and the question cancelled: the earlier choice stands, nothing is
  // logged, nothing written to the unit.
  const size_t lines = Log().size();
  const size_t written = com1.Writes().size();
  {
    ModalAnswers answers({ChooseFile(dir.File("master and slave.bin")), Press("Cancel", &buttons)});
    ClickControl(window.Control(ctl::kSelectFirmware));
    ASSERT_TRUE(WaitUntil([&] { return answers.Answered() == 2; }));
  }
  EXPECT_THAT(dialog->selection.firmwarePath, HasSubstr("fw_"));
  EXPECT_EQ(Log().size(), lines);
  EXPECT_EQ(com1.Writes().size(), written);

  {
    ModalAnswers answers({ChooseFile(dir.File("master and slave.bin")), Press("Master", &buttons)});
    ClickControl(window.Control(ctl::kSelectFirmware));
    ASSERT_TRUE(WaitUntil([&] { return answers.Answered() == 2; }));
  }
  EXPECT_EQ(dialog->selection.cpuTarget, 0);
  EXPECT_THAT(Log(), Contains("beginning burn master cpu ...\n"));
}

}  // namespace
}  // namespace morlane::gui::test
