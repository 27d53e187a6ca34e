#include "win/win_window.h"

#include <algorithm>
#include <stdexcept>
#include <system_error>

#include "app/kestrum_dlg.h"
#include "platform/utf8_path.h"
#include "ui/control_ids.h"
#include "ui/control_table.h"
#include "ui/dialog_values.h"
#include "ui/service_panel.h"
#include "ui/working_folder.h"
#include "win/about_box.h"
#include "win/app_icon.h"
#include "win/caption_fit.h"
#include "win/dialog_template.h"
#include "win/file_dialog.h"
#include "win/folder_dialog.h"
#include "win/folder_registry.h"
#include "win/service_view.h"
#include "win/single_instance.h"
#include "win/wide_text.h"
#include "win/win_clock.h"

namespace morlane::win {

namespace {

// The entry of the window's system menu.
constexpr const char* kAboutEntry = "About Tessaly";

// A sizing frame and the maximise box: the window grows from its start size, which is
// also its smallest (see GrowRuleOf for what the controls do then).
constexpr DWORD kMainStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX |
                             WS_THICKFRAME | DS_MODALFRAME | DS_CENTER;

bool IsButtonKind(ControlKind kind) {
  return kind == ControlKind::PushButton || kind == ControlKind::CheckBox ||
         kind == ControlKind::ManualCheckBox;
}

// Input the window was given while busy; its own messages and painting are not input.
constexpr UINT kInputRanges[][2] = {
    {WM_KEYFIRST, WM_KEYLAST},
    {WM_MOUSEFIRST, WM_MOUSELAST},
    {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},
};

// The system's message box has no buttons of our naming: while the CPU question is made,
// its Yes, No and Cancel are renamed "Master", "Slave" and "Cancel" as it first shows.
thread_local HHOOK cpuBoxHook = nullptr;

LRESULT CALLBACK NameCpuButtons(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && cpuBoxHook) {
    auto box = reinterpret_cast<HWND>(wParam);
    SetDlgItemTextW(box, IDYES, L"Master");
    SetDlgItemTextW(box, IDNO, L"Slave");
    SetDlgItemTextW(box, IDCANCEL, L"Cancel");
    UnhookWindowsHookEx(cpuBoxHook);
    cpuBoxHook = nullptr;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

Win32Window::Win32Window(const std::string& instanceTag)
    : instanceTag_(instanceTag),
      windowThread_(GetCurrentThreadId()),
      self_(std::make_shared<Win32Window*>(this)) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  const DialogTemplate& dialog = MainDialogTemplate();
  fontFace_ = DialogFace(dialog);
  std::vector<DialogItem> items = ItemsOf(dialog);
  for (DialogItem& frame : ServiceFrameItems()) items.push_back(std::move(frame));
  std::vector<WORD> bytes = EncodeDialog(kMainStyle, WS_EX_APPWINDOW, dialog, fontFace_, items);
  HWND made = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                         reinterpret_cast<const DLGTEMPLATE*>(bytes.data()),
                                         nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
  if (!made) {
    throw std::runtime_error("cannot create the window (error " + std::to_string(GetLastError()) +
                             ")");
  }
}

Win32Window::~Win32Window() {
  *self_ = nullptr;
  // A worker still waiting is let go; its request is not carried out by a window that
  // is going away.
  requests_.Close();
  if (hwnd_) DestroyWindow(hwnd_);
  if (bigIcon_) DestroyIcon(bigIcon_);
  if (smallIcon_) DestroyIcon(smallIcon_);
}

INT_PTR CALLBACK Win32Window::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Win32Window*>(lParam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    self->OnInit(hwnd);
    return TRUE;
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!self || self->hwnd_ != hwnd) return FALSE;
  return self->HandleMessage(message, wParam, lParam);
}

void Win32Window::OnInit(HWND hwnd) {
  hwnd_ = hwnd;
  requestTarget_ = hwnd;
  MarkInstance(hwnd, instanceTag_);

  bigIcon_ = MakeAppIcon(GetSystemMetrics(SM_CXICON));
  smallIcon_ = MakeAppIcon(GetSystemMetrics(SM_CXSMICON));
  SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  SendMessageA(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
  if (HMENU menu = GetSystemMenu(hwnd, FALSE)) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, ctl::kAboutCommand, Wide(kAboutEntry).c_str());
    AppendMenuW(menu, MF_STRING | MF_UNCHECKED, ctl::kServiceViewCommand,
                Wide(kServiceViewEntry).c_str());
    AppendMenuW(menu, MF_STRING | MF_GRAYED, ctl::kCloseLinkCommand, Wide(kCloseLinkEntry).c_str());
    AppendMenuW(menu, MF_STRING, ctl::kWorkingFolderCommand, Wide(kWorkingFolderEntry).c_str());
    AppendMenuW(menu, MF_STRING, ctl::kOpenPackageCommand, Wide(kOpenPackageEntry).c_str());
  }

  for (const ControlSpec& control : MainDialogTemplate().controls) {
    if (control.kind == ControlKind::ProgressBar) {
      SendDlgItemMessageA(hwnd, control.id, PBM_SETRANGE32, 0, 100);
    } else if (control.kind == ControlKind::Edit) {
      SendDlgItemMessageA(hwnd, control.id, EM_LIMITTEXT, DialogValues::kCommandTextLimit, 0);
    }
  }
  // The dialog's face may draw a caption wider than the template's dialog units allow.
  FitCaptions(hwnd);
  HWND list = GetDlgItem(hwnd, ctl::kLogList);
  measurer_ = std::make_unique<GdiTextMeasurer>(list);
  log_.SetMeasurer(measurer_.get());
  SendMessageA(list, LB_SETITEMHEIGHT, 0, measurer_->LineHeight());
  logView_ = std::make_unique<LogListView>(list, log_, [this](int delayMs) {
    RunLater(delayMs, [this] {
      if (logView_) logView_->Sync();
    });
  });
}

void Win32Window::OnDestroy() {
  requests_.Close();
  requestTarget_ = nullptr;
  for (const auto& timer : timers_) KillTimer(hwnd_, timer.first);
  timers_.clear();
  UnmarkInstance(hwnd_);
  // The list outlives its box; measured again without the box's font from now on.
  logView_.reset();
  log_.SetMeasurer(&unmeasured_);
  measurer_.reset();
  hwnd_ = nullptr;
}

INT_PTR Win32Window::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      return OnCommand(wParam, lParam);
    case WM_SYSCOMMAND:
      return OnSysCommand(static_cast<UINT>(wParam));
    case WM_CLOSE:
      // Closed from outside (the task list, a request to end): as the close command.
      if (!busy_) SysCommand(CKestrumDlg::kSysClose);
      return TRUE;
    case WM_HELP:
      if (!busy_) SysCommand(ctl::kAboutCommand);
      return TRUE;
    case WM_QUERYENDSESSION:
      // A procedure may be writing a CPU's flash: the session is asked to wait for it.
      SetWindowLongPtrA(hwnd_, DWLP_MSGRESULT, busy_ ? FALSE : TRUE);
      return TRUE;
    case WM_ENDSESSION:
      // The link and the test log are closed before the process is ended.
      if (wParam && !busy_) SysCommand(CKestrumDlg::kSysClose);
      return TRUE;
    case WM_DRAWITEM:
      if (wParam == ctl::kLogList && logView_) {
        logView_->Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
      }
      return FALSE;
    case WM_PAINT:
      return PaintMinimised();
    case WM_GETMINMAXINFO:
      KeepStartSizeAtLeast(*reinterpret_cast<MINMAXINFO*>(lParam));
      return TRUE;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) {
        FollowClientSize(hwnd_, serviceView_);
        if (logView_) logView_->Resized();
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(bigIcon_);
    case WM_TIMER: {
      auto timer = timers_.find(wParam);
      if (timer == timers_.end()) return FALSE;
      KillTimer(hwnd_, wParam);
      std::function<void()> action = std::move(timer->second);
      timers_.erase(timer);
      action();
      return TRUE;
    }
    case kServeRequestsMessage:
      ServeRequests();
      return TRUE;
    case kCloseRequestMessage:
      RequestClose();
      return TRUE;
    case kOptionsNotAppliedMessage:
      if (dialog_) dialog_->OnOptionsNotApplied();
      return TRUE;
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    default:
      return FALSE;
  }
}

bool Win32Window::OnCommand(WPARAM wParam, LPARAM lParam) {
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  auto from = reinterpret_cast<HWND>(lParam);
  if (!from) {
    // Enter and Escape, from the message loop and the dialog manager.
    if (id != IDOK && id != IDCANCEL) return false;
    Dispatch(id);
    return true;
  }
  if (id == ctl::kLogList && code == LBN_SELCHANGE) {
    if (logView_) logView_->UserSelectionChanged();
    return true;
  }
  const ControlSpec* control = FindControl(id);
  if (code != BN_CLICKED || !control || !IsButtonKind(control->kind)) return false;
  // Only a control the user can see and use is clicked, whoever sends the click.
  if (!IsWindowEnabled(from) || !IsControlShown(id)) return true;
  Dispatch(id);
  return true;
}

bool Win32Window::OnSysCommand(UINT command) {
  const UINT which = command & 0xFFF0;
  if (which == ctl::kServiceViewCommand) {
    // The window's own entry: the dialog has no part in how the window is laid out.
    if (!busy_) SetServiceView(!serviceView_);
    return true;
  }
  if (which == ctl::kCloseLinkCommand) {
    if (!busy_ && IsControlEnabled(ctl::kClose)) Dispatch(ctl::kClose);
    return true;
  }
  if (which == ctl::kWorkingFolderCommand) {
    ChooseWorkingFolder();
    return true;
  }
  if (which != ctl::kAboutCommand && which != ctl::kOpenPackageCommand && which != SC_CLOSE) {
    return false;
  }
  // While busy the close box and the menu's entries are refused, as every input is.
  if (!busy_) SysCommand(static_cast<int>(command));
  return true;
}

bool Win32Window::PaintMinimised() {
  if (!IsIconic(hwnd_)) return false;
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(hwnd_, &paint);
  SendMessageA(hwnd_, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int width = GetSystemMetrics(SM_CXICON);
  const int height = GetSystemMetrics(SM_CYICON);
  RECT client{};
  GetClientRect(hwnd_, &client);
  const int x = (client.right - client.left - width + 1) / 2;
  const int y = (client.bottom - client.top - height + 1) / 2;
  DrawIcon(dc, x, y, bigIcon_);
  EndPaint(hwnd_, &paint);
  return true;
}

void Win32Window::KeepStartSizeAtLeast(MINMAXINFO& limits) const {
  const SIZE start = StartClientSize(hwnd_, serviceView_);
  RECT frame{0, 0, start.cx, start.cy};
  RECT outer{}, inner{};
  if (!IsIconic(hwnd_) && GetWindowRect(hwnd_, &outer) && GetClientRect(hwnd_, &inner)) {
    // The frame the window has now, whatever the system adds around the client area.
    frame.right += (outer.right - outer.left) - inner.right;
    frame.bottom += (outer.bottom - outer.top) - inner.bottom;
  } else {
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongA(hwnd_, GWL_EXSTYLE)));
  }
  limits.ptMinTrackSize.x = frame.right - frame.left;
  limits.ptMinTrackSize.y = frame.bottom - frame.top;
}

void Win32Window::Attach(CKestrumDlg& dialog) {
  dialog_ = &dialog;
  dialog.announceClosedLink = true;
  SetCommandHandler([&dialog](int id) { dialog.OnCommand(id); });
  SetSysCommandHandler([&dialog](int command) { dialog.OnSysCommand(command); });
  std::weak_ptr<Win32Window*> self = self_;
  dialog.showAbout = [self] {
    if (auto window = self.lock(); window && *window) (*window)->ShowAbout();
  };
  dialog.closeWindow = [self] {
    if (auto window = self.lock(); window && *window) (*window)->CloseFromDialog();
  };
  ShowWorkingFolder();
}

void Win32Window::ShowWorkingFolder() {
  if (!hwnd_) return;
  const std::filesystem::path folder = dialog_ ? dialog_->workingDir : std::filesystem::path();
  SetWindowTextW(hwnd_, Wide(CaptionWithFolder(MainDialogTemplate().caption, folder,
                                               dialog_ && dialog_->simulatedUnit))
                            .c_str());
}

void Win32Window::ChooseWorkingFolder() {
  // A procedure reads its files from the folder it started with.
  if (busy_ || !dialog_ || !hwnd_) return;
  std::error_code ignored;
  const std::filesystem::path start =
      dialog_->workingDir.empty() ? std::filesystem::current_path(ignored) : dialog_->workingDir;
  std::optional<std::filesystem::path> chosen;
  if (chooseFolder_) {
    chosen = chooseFolder_(start);
  } else if (std::optional<std::string> folder = RunFolderDialog(hwnd_, PathToUtf8(start))) {
    chosen = PathFromUtf8(*folder);
  }
  if (!chosen || chosen->empty()) return;
  dialog_->workingDir = *chosen;
  ShowWorkingFolder();
  if (folderRegistry_) folderRegistry_->Remember(*chosen);
}

HWND Win32Window::Control(int id) const {
  return hwnd_ ? GetDlgItem(hwnd_, id) : nullptr;
}

int Win32Window::WaitingRequests() {
  return requests_.Waiting();
}

void Win32Window::Show(int how) {
  if (!hwnd_) return;
  ShowWindow(hwnd_, how);
  UpdateWindow(hwnd_);
}

int Win32Window::RunMessageLoop() {
  MSG msg;
  while (hwnd_) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(msg.wParam);
    if (got == -1) return 1;
    if (PreTranslate(msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}

bool Win32Window::PreTranslate(MSG& msg) {
  if (!hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd))) return false;
  if (msg.message == WM_KEYDOWN && msg.wParam == VK_RETURN) {
    // Enter is the dialog's own command (which does nothing), not a click on the button
    // that has the focus; an open drop-down list still takes it to close.
    HWND combo = Control(ctl::kInterfaceCombo);
    if (!combo || !SendMessageA(combo, CB_GETDROPPEDSTATE, 0, 0)) {
      SendMessageA(hwnd_, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
      return true;
    }
  }
  return IsDialogMessageW(hwnd_, &msg);
}

void Win32Window::Dispatch(int id) {
  RunBusy([this, id] {
    if (command_) command_(id);
  });
}

void Win32Window::SysCommand(int command) {
  RunBusy([this, command] {
    if (sysCommand_) {
      sysCommand_(command);
    } else if ((command & 0xFFF0) == ctl::kAboutCommand) {
      ShowAbout();
    } else if ((command & 0xFFF0) == SC_CLOSE) {
      CloseFromDialog();
    }
  });
}

void Win32Window::RunBusy(const std::function<void()>& handler) {
  // Nothing starts inside a running handler: it would run inside the procedure.
  if (busy_) return;
  struct Idle {
    bool& busy;
    ~Idle() { busy = false; }
  } idle{busy_};
  busy_ = true;
  focusLeft_ = nullptr;
  handler();
  busy_ = false;
  DropInput();
  // A handler that disabled the focused control ("Open") enabled the controls that come
  // next ("Auto", "Automatic"): the focus goes to the first of them, not to whatever was
  // enabled when it had to leave.
  if (focusLeft_ && hwnd_) {
    if (HWND next = GetNextDlgTabItem(hwnd_, focusLeft_, FALSE)) {
      SendMessageA(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(next), TRUE);
    }
    focusLeft_ = nullptr;
  }
  if (destroyRequested_) {
    destroyRequested_ = false;
    Destroy();
  } else if (closeRequested_ && hwnd_) {
    closeRequested_ = false;
    PostMessageA(hwnd_, kCloseRequestMessage, 0, 0);
  }
}

void Win32Window::DropInput() {
  MSG msg;
  for (const auto& range : kInputRanges) {
    for (int n = 0; n < 10000 && PeekMessageW(&msg, nullptr, range[0], range[1], PM_REMOVE); ++n) {
    }
  }
}

void Win32Window::CloseFromDialog() {
  if (!hwnd_) return;
  if (busy_) {
    destroyRequested_ = true;
    return;
  }
  Destroy();
}

void Win32Window::Destroy() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void Win32Window::RequestClose() {
  if (!hwnd_) return;
  if (busy_) {
    closeRequested_ = true;
    return;
  }
  SysCommand(CKestrumDlg::kSysClose);
}

void Win32Window::ShowAbout() {
  ShowAboutBox(hwnd_, bigIcon_);
}

void Win32Window::SetServiceView(bool on) {
  if (!hwnd_ || on == serviceView_) return;
  serviceView_ = on;
  ArrangeServiceView(hwnd_, on);
  if (logView_) logView_->Resized();
  if (HMENU menu = GetSystemMenu(hwnd_, FALSE)) {
    CheckMenuItem(menu, ctl::kServiceViewCommand, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
  }
}

void Win32Window::RunLater(int ms, std::function<void()> action) {
  if (!hwnd_) return;
  UINT_PTR id = nextTimer_++;
  if (SetTimer(hwnd_, id, static_cast<UINT>(std::max(ms, 0)), nullptr)) {
    timers_[id] = std::move(action);
  }
}

void Win32Window::RepaintIfBusy(HWND control) {
  // Between the waits of a procedure nothing else paints: the change is shown at once.
  if (busy_ && IsWindowVisible(control)) UpdateWindow(control);
}

void Win32Window::EnableControl(int id, bool enabled) {
  HWND control = Control(id);
  if (!control) return;
  // The focus leaves a control that goes disabled, or the keyboard would reach nothing.
  // Where it lands is decided again once the handler has enabled what follows (see
  // RunBusy): now the next control may be one far off, such as "Clear Log".
  if (!enabled && GetFocus() == control) {
    focusLeft_ = control;
    SendMessageA(hwnd_, WM_NEXTDLGCTL, 0, FALSE);
  }
  EnableWindow(control, enabled);
  RepaintIfBusy(control);
  if (id == ctl::kClose) {
    if (HMENU menu = GetSystemMenu(hwnd_, FALSE)) {
      EnableMenuItem(menu, ctl::kCloseLinkCommand,
                     MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }
  }
}

bool Win32Window::IsControlEnabled(int id) const {
  HWND control = Control(id);
  return control && IsWindowEnabled(control);
}

bool Win32Window::IsControlShown(int id) const {
  HWND control = Control(id);
  return control && (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE);
}

void Win32Window::SetCheck(int id, int checked) {
  HWND control = Control(id);
  if (!control) return;
  SendMessageA(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
  RepaintIfBusy(control);
}

int Win32Window::GetCheck(int id) const {
  HWND control = Control(id);
  return control && SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void Win32Window::SetControlText(int id, const std::string& text) {
  HWND control = Control(id);
  if (!control) return;
  SetWindowTextW(control, Wide(text).c_str());
  RepaintIfBusy(control);
}

std::string Win32Window::GetControlText(int id) const {
  HWND control = Control(id);
  if (!control) return {};
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  int length = GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(std::max(length, 0)));
  return Utf8(text);
}

void Win32Window::SetProgressPos(int id, int position) {
  HWND control = Control(id);
  if (!control) return;
  // Out of range, the bar stands at its end.
  SendMessageA(control, PBM_SETPOS, static_cast<WPARAM>(std::clamp(position, 0, 100)), 0);
  RepaintIfBusy(control);
}

int Win32Window::GetProgressPos(int id) const {
  HWND control = Control(id);
  return control ? static_cast<int>(SendMessageA(control, PBM_GETPOS, 0, 0)) : 0;
}

void Win32Window::AddComboString(int id, const std::string& text) {
  if (HWND control = Control(id)) {
    const std::wstring wide = Wide(text);
    SendMessageW(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  }
}

void Win32Window::SetComboSelection(int id, int index) {
  HWND control = Control(id);
  if (!control) return;
  auto count = static_cast<int>(SendMessageA(control, CB_GETCOUNT, 0, 0));
  SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(index >= 0 && index < count ? index : -1),
               0);
}

int Win32Window::GetComboSelection(int id) const {
  HWND control = Control(id);
  return control ? static_cast<int>(SendMessageA(control, CB_GETCURSEL, 0, 0)) : -1;
}

std::string Win32Window::GetComboText(int id, int index) const {
  HWND control = Control(id);
  if (!control) return {};
  auto length = SendMessageW(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR) return {};
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  auto got = SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(index),
                          reinterpret_cast<LPARAM>(text.data()));
  text.resize(got == CB_ERR ? 0 : static_cast<size_t>(got));
  return Utf8(text);
}

void Win32Window::MessageBox(const std::string& text) {
  MessageBoxW(hwnd_, Wide(text).c_str(), Wide(MainDialogTemplate().caption).c_str(),
              MB_OK | MB_ICONWARNING);
}

CpuChoice Win32Window::AskCpu(const std::string& question) {
  cpuBoxHook = SetWindowsHookExW(WH_CBT, NameCpuButtons, nullptr, GetCurrentThreadId());
  // Cancel is the default button: a stray Enter chooses no CPU.
  const int answer =
      MessageBoxW(hwnd_, Wide(question).c_str(), Wide(MainDialogTemplate().caption).c_str(),
                  MB_YESNOCANCEL | MB_ICONQUESTION | MB_DEFBUTTON3);
  if (cpuBoxHook) {
    UnhookWindowsHookEx(cpuBoxHook);
    cpuBoxHook = nullptr;
  }
  if (answer == IDYES) return CpuChoice::Master;
  if (answer == IDNO) return CpuChoice::Slave;
  return CpuChoice::Cancel;
}

std::optional<std::string> Win32Window::OpenFileDialog(const FileDialogRequest& request) {
  return RunOpenFileDialog(hwnd_, request,
                           dialog_ ? PathToUtf8(dialog_->workingDir) : std::string());
}

void Win32Window::RunOnWindowThread(const std::function<void()>& request) {
  if (OnWindowThread()) {
    request();
    return;
  }
  requests_.Submit(request, [this] {
    if (HWND target = requestTarget_.load()) PostMessageA(target, kServeRequestsMessage, 0, 0);
  });
}

bool Win32Window::OnWindowThread() const {
  return GetCurrentThreadId() == windowThread_;
}

int Win32Window::ServeRequests() {
  int served = requests_.Serve();
  served_ += served;
  return served;
}

void Win32Window::ProcessPendingRequests(int waitMs) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(waitMs, 0));
  const int servedBefore = served_;
  for (;;) {
    WinClock::KeepWindowAlive();
    ServeRequests();
    if (served_ != servedBefore) return;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) return;
    requests_.WaitForRequest(
        static_cast<int>(std::min<ULONGLONG>(deadline - now, WinClock::kPaintSliceMs)));
  }
}

}  // namespace morlane::win
