// The service view of the native window: the template's hidden console, command test and
// USB controls shown in a panel of their own from the system menu, and put back.
#include <gmock/gmock.h>

#include <map>
#include <string>

#include "ui/control_table.h"
#include "ui/service_panel.h"
#include "win/service_view.h"
#include "win_fixture.h"

namespace morlane::win::test {
namespace {

// What the view must leave as it found it.
struct ControlState {
  HWND handle;
  bool enabled;
  int check;
};

class ServiceViewTest : public ::testing::Test {
 protected:
  ServiceViewTest() {
    window.SetSysCommandHandler([this](int command) { sysCommands.push_back(command); });
    window.Show();
  }

  HWND Dialog() { return window.Handle(); }
  void ChooseEntry() { SendMessageA(Dialog(), WM_SYSCOMMAND, ctl::kServiceViewCommand, 0); }
  bool EntryChecked() {
    return GetMenuState(GetSystemMenu(Dialog(), FALSE), ctl::kServiceViewCommand, MF_BYCOMMAND) &
           MF_CHECKED;
  }
  RECT Client() {
    RECT client{};
    GetClientRect(Dialog(), &client);
    return client;
  }
  RECT ClientOf(int widthUnits) {
    return Mapped(Dialog(), 0, 0, widthUnits, MainDialogTemplate().height);
  }
  std::map<int, ControlState> States() {
    std::map<int, ControlState> states;
    for (const ServicePlacement& placement : ServiceViewPanel().placements) {
      states[placement.id] = {window.Control(placement.id), window.IsControlEnabled(placement.id),
                              window.GetCheck(placement.id)};
    }
    return states;
  }
  // The dialog's own children that can be seen.
  int ShownChildren() {
    int shown = 0;
    for (HWND child = GetWindow(Dialog(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      if (StyleOf(child) & WS_VISIBLE) ++shown;
    }
    return shown;
  }
  // Off: the template's window exactly, the panel's frames made but hidden.
  void ExpectTemplateWindow() {
    EXPECT_FALSE(window.ServiceViewShown());
    EXPECT_FALSE(EntryChecked());
    RECT client = Client(), want = ClientOf(MainDialogTemplate().width);
    EXPECT_TRUE(EqualRect(&client, &want));
    int templateShown = 0;
    for (const ControlSpec& control : MainDialogTemplate().controls) templateShown += control.shown;
    EXPECT_EQ(ShownChildren(), templateShown);
    for (const ServicePlacement& placement : ServiceViewPanel().placements) {
      SCOPED_TRACE(placement.id);
      const ControlSpec* control = FindControl(placement.id);
      ASSERT_NE(control, nullptr);
      EXPECT_FALSE(window.IsControlShown(placement.id));
      RECT place = PlaceOf(window.Control(placement.id));
      RECT home = Mapped(Dialog(), control->x, control->y, control->width, control->height);
      EXPECT_TRUE(EqualRect(&place, &home));
    }
    for (size_t i = 0; i < ServiceViewPanel().frames.size(); ++i) {
      HWND frame = GetDlgItem(Dialog(), ServiceFrameId(i));
      ASSERT_NE(frame, nullptr);
      EXPECT_FALSE(StyleOf(frame) & WS_VISIBLE);
      EXPECT_EQ(FindControl(ServiceFrameId(i)), nullptr);
    }
  }

  // The outer size changed as the user drags the frame's corner.
  void SizeFrameBy(int wider, int taller) {
    RECT outer{};
    GetWindowRect(Dialog(), &outer);
    SetWindowPos(Dialog(), nullptr, 0, 0, outer.right - outer.left + wider,
                 outer.bottom - outer.top + taller, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  Win32Window window{InstanceTag("service")};
  std::vector<int> sysCommands;
};

TEST_F(ServiceViewTest, InALargerWindowThePanelStaysBesideTheLogAtTheRightEdge) {
  const int wider = 110, taller = 70;
  const RECT logStart = PlaceOf(window.Control(ctl::kLogList));
  const RECT clearStart = PlaceOf(window.Control(ctl::kClearLog));
  const RECT openStart = PlaceOf(window.Control(ctl::kOpen));
  SizeFrameBy(wider, taller);

  // On, the window grows by the panel and keeps the room the user gave the log.
  ChooseEntry();
  const RECT withPanel = ClientOf(MainDialogTemplate().width + ServiceViewPanel().width);
  auto expectGrownBy = [&](int right, int down) {
    RECT client = Client();
    EXPECT_EQ(client.right, withPanel.right + right);
    EXPECT_EQ(client.bottom, withPanel.bottom + down);
    RECT log = PlaceOf(window.Control(ctl::kLogList));
    RECT logWant{logStart.left, logStart.top, logStart.right + right, logStart.bottom + down};
    EXPECT_TRUE(EqualRect(&log, &logWant));
    RECT clear = PlaceOf(window.Control(ctl::kClearLog));
    RECT clearWant = clearStart;
    OffsetRect(&clearWant, right, 0);
    EXPECT_TRUE(EqualRect(&clear, &clearWant));
    RECT open = PlaceOf(window.Control(ctl::kOpen));
    EXPECT_TRUE(EqualRect(&open, &openStart));
    for (const ServicePlacement& placement : ServiceViewPanel().placements) {
      SCOPED_TRACE(placement.id);
      RECT place = PlaceOf(window.Control(placement.id));
      RECT want = Mapped(Dialog(), placement.x, placement.y, placement.width, placement.height);
      OffsetRect(&want, right, 0);
      EXPECT_TRUE(EqualRect(&place, &want));
    }
    for (size_t i = 0; i < ServiceViewPanel().frames.size(); ++i) {
      const ControlSpec& frame = ServiceViewPanel().frames[i];
      RECT place = PlaceOf(GetDlgItem(Dialog(), ServiceFrameId(i)));
      RECT want = Mapped(Dialog(), frame.x, frame.y, frame.width, frame.height);
      OffsetRect(&want, right, 0);
      EXPECT_TRUE(EqualRect(&place, &want)) << i;
    }
  };
  expectGrownBy(wider, taller);

  // The start size with the panel is the smallest now.
  SizeFrameBy(-wider - 60, -taller - 30);
  expectGrownBy(0, 0);

  // Off, the window gives the panel's room back and keeps the log's.
  SizeFrameBy(wider, taller);
  ChooseEntry();
  RECT client = Client(), want = ClientOf(MainDialogTemplate().width);
  EXPECT_EQ(client.right, want.right + wider);
  EXPECT_EQ(client.bottom, want.bottom + taller);
  RECT log = PlaceOf(window.Control(ctl::kLogList));
  EXPECT_EQ(log.right, logStart.right + wider);
  EXPECT_EQ(log.bottom, logStart.bottom + taller);
  for (const ServicePlacement& placement : ServiceViewPanel().placements) {
    EXPECT_FALSE(window.IsControlShown(placement.id)) << placement.id;
  }
  SizeFrameBy(-wider, -taller);
  ExpectTemplateWindow();
}

TEST_F(ServiceViewTest, MenuEntryShowsThePanelAndPutsEverythingBack) {
  HMENU menu = GetSystemMenu(Dialog(), FALSE);
  const int entries = GetMenuItemCount(menu);
  EXPECT_EQ(GetMenuItemID(menu, entries - 5), static_cast<UINT>(ctl::kAboutCommand));
  EXPECT_EQ(GetMenuItemID(menu, entries - 4), static_cast<UINT>(ctl::kServiceViewCommand));
  EXPECT_EQ(GetMenuItemID(menu, entries - 3), static_cast<UINT>(ctl::kCloseLinkCommand));
  EXPECT_EQ(GetMenuItemID(menu, entries - 2), static_cast<UINT>(ctl::kWorkingFolderCommand));
  EXPECT_EQ(GetMenuItemID(menu, entries - 1), static_cast<UINT>(ctl::kOpenPackageCommand));
  char entry[64] = {};
  GetMenuStringA(menu, ctl::kServiceViewCommand, entry, sizeof entry, MF_BYCOMMAND);
  EXPECT_STREQ(entry, "Service View");
  ExpectTemplateWindow();

  window.EnableControl(ctl::kSend, true);
  window.EnableControl(ctl::kCommandEdit, false);
  window.SetCheck(ctl::kCheckV2, 1);
  const std::map<int, ControlState> before = States();
  const RECT logPlace = PlaceOf(window.Control(ctl::kLogList));

  ChooseEntry();
  EXPECT_TRUE(window.ServiceViewShown());
  EXPECT_TRUE(EntryChecked());
  const RECT client = Client();
  const RECT grown = ClientOf(MainDialogTemplate().width + ServiceViewPanel().width);
  EXPECT_TRUE(EqualRect(&client, &grown));
  for (const ServicePlacement& placement : ServiceViewPanel().placements) {
    SCOPED_TRACE(placement.id);
    HWND control = window.Control(placement.id);
    EXPECT_TRUE(window.IsControlShown(placement.id));
    RECT place = PlaceOf(control);
    RECT want = Mapped(Dialog(), placement.x, placement.y, placement.width, placement.height);
    EXPECT_TRUE(EqualRect(&place, &want));
    EXPECT_LE(place.right, client.right);
    EXPECT_LE(place.bottom, client.bottom);
  }
  for (size_t i = 0; i < ServiceViewPanel().frames.size(); ++i) {
    const ControlSpec& frame = ServiceViewPanel().frames[i];
    HWND made = GetDlgItem(Dialog(), ServiceFrameId(i));
    EXPECT_TRUE(StyleOf(made) & WS_VISIBLE);
    EXPECT_EQ(TextOf(made), frame.caption);
    RECT place = PlaceOf(made),
         want = Mapped(Dialog(), frame.x, frame.y, frame.width, frame.height);
    EXPECT_TRUE(EqualRect(&place, &want));
  }
  RECT logNow = PlaceOf(window.Control(ctl::kLogList));
  EXPECT_TRUE(EqualRect(&logNow, &logPlace));
  // The same windows, enabled and marked as they were.
  const std::map<int, ControlState> shown = States();
  for (const auto& [id, state] : before) {
    SCOPED_TRACE(id);
    EXPECT_EQ(shown.at(id).handle, state.handle);
    EXPECT_EQ(shown.at(id).enabled, state.enabled);
    EXPECT_EQ(shown.at(id).check, state.check);
  }

  // While a handler runs the entry is refused, as every input is.
  window.SetCommandHandler([this](int) { ChooseEntry(); });
  Click(window, ctl::kOpen);
  EXPECT_TRUE(window.ServiceViewShown());

  // Off again from a control of the panel that has the focus: all back, and the focus
  // on a control that can be seen.
  SetFocus(window.Control(ctl::kSend));
  ChooseEntry();
  ExpectTemplateWindow();
  EXPECT_TRUE(IsWindowVisible(GetFocus()));
  const std::map<int, ControlState> after = States();
  for (const auto& [id, state] : before) {
    SCOPED_TRACE(id);
    EXPECT_EQ(after.at(id).handle, state.handle);
    EXPECT_EQ(after.at(id).enabled, state.enabled);
    EXPECT_EQ(after.at(id).check, state.check);
  }
  // The entry is the window's own: the dialog's system-command handler never saw it.
  EXPECT_TRUE(sysCommands.empty());
}

// The room a control has for its caption, in pixels: a check box's mark and the gap
// after it, a push button's edges, a group box's margins are not the caption's.
int CaptionRoom(HWND control) {
  RECT client{};
  GetClientRect(control, &client);
  const LONG type = StyleOf(control) & 0x0F;
  if (type == BS_GROUPBOX) return client.right - 2 * 7;
  if (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX) {
    return client.right - GetSystemMetrics(SM_CXMENUCHECK) - 4;
  }
  return client.right - 2 * GetSystemMetrics(SM_CXEDGE);
}

// How wide the caption is in the font the control was given.
int CaptionWidth(HWND control) {
  const std::wstring text = [control] {
    wchar_t buffer[256] = {};
    GetWindowTextW(control, buffer, 256);
    return std::wstring(buffer);
  }();
  HDC dc = GetDC(control);
  HGDIOBJ old =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return size.cx;
}

// Maximised, with the view turned on before or after: every control that shows lies inside
// the client area, "Clear Log" at the log's top-right corner, and every caption fits its
// control in the font the control draws with.
TEST_F(ServiceViewTest, MaximisedEveryControlShowsWholeWithItsWholeCaption) {
  const int clearFromLogEdge =
      PlaceOf(window.Control(ctl::kLogList)).right - PlaceOf(window.Control(ctl::kClearLog)).right;
  for (bool onBefore : {true, false}) {
    SCOPED_TRACE(onBefore);
    if (onBefore) ChooseEntry();
    ShowWindow(Dialog(), SW_MAXIMIZE);
    PumpUntil(window, [] { return true; });
    if (!onBefore) ChooseEntry();
    ASSERT_TRUE(IsZoomed(Dialog()));
    ASSERT_TRUE(window.ServiceViewShown());
    const RECT client = Client();
    int shown = 0;
    for (HWND child = GetWindow(Dialog(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      if (!(StyleOf(child) & WS_VISIBLE)) continue;
      ++shown;
      SCOPED_TRACE(TextOf(child));
      const RECT place = PlaceOf(child);
      EXPECT_GE(place.left, 0);
      EXPECT_GE(place.top, 0);
      EXPECT_LE(place.right, client.right);
      EXPECT_LE(place.bottom, client.bottom);
      if (ClassOf(child) == "Button" && !TextOf(child).empty()) {
        EXPECT_LE(CaptionWidth(child), CaptionRoom(child));
      }
    }
    EXPECT_GT(shown, 40);
    const RECT log = PlaceOf(window.Control(ctl::kLogList));
    const RECT clear = PlaceOf(window.Control(ctl::kClearLog));
    EXPECT_EQ(log.right - clear.right, clearFromLogEdge);
    EXPECT_LT(clear.bottom, log.top);
    ShowWindow(Dialog(), SW_RESTORE);
    PumpUntil(window, [] { return true; });
    ChooseEntry();
    ExpectTemplateWindow();
  }
}

}  // namespace
}  // namespace morlane::win::test
