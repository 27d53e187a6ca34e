#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "ui/hscroll_listbox.h"
#include "ui/window.h"
#include "ui/window_requests.h"
#include "win/log_list_view.h"
#include "win/win32.h"

namespace morlane {
class CKestrumDlg;
}

namespace morlane::win {

class FolderRegistry;

// The main window "Morlane V1.0": the dialog template made into a modeless dialog, and the
// dialog's Window.
//
// Modeless, with the message loop of its own (RunMessageLoop) rather than the dialog
// manager's modal one: the loop decides what Enter does (nothing, whichever button has
// the focus) before the dialog manager sees the key, and the window can be made, driven
// and ended from a test without a loop running.
//
// Handlers and the firmware procedures they start run on this thread and block it. While
// one runs the window is busy: it keeps painting (the procedures wait through WinClock),
// but takes no user input, the close box included; input that arrived meanwhile is
// dropped when the handler returns.
class Win32Window : public Window {
 public:
  using CommandHandler = std::function<void(int id)>;
  // Asks the user for a folder, starting at the given one; nullopt when cancelled.
  using FolderChooser =
      std::function<std::optional<std::filesystem::path>(const std::filesystem::path& start)>;

  // Made hidden; marked as the running instance of the tag's group.
  explicit Win32Window(const std::string& instanceTag = {});
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Clicks, Enter (1) and Escape (2) go to the command handler, the About entry and the
  // close command to the system-command handler.
  void SetCommandHandler(CommandHandler handler) { command_ = std::move(handler); }
  void SetSysCommandHandler(CommandHandler handler) { sysCommand_ = std::move(handler); }
  // Wires the dialog to this window: its handlers, the About box, closing. The dialog
  // may outlive the window, not the other way round. The title shows the dialog's
  // working folder from now on, when it has one.
  void Attach(CKestrumDlg& dialog);
  // Where "Working Folder..." remembers the chosen folder; none, it is not remembered.
  void SetFolderRegistry(const FolderRegistry* registry) { folderRegistry_ = registry; }
  // Replaces the system's folder dialog.
  void SetFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
  // The system menu's "Working Folder...": a chosen folder becomes the dialog's working
  // folder, shown in the title and remembered. Refused while busy.
  void ChooseWorkingFolder();

  HWND Handle() const { return hwnd_; }
  HWND Control(int id) const;
  const std::string& FontFace() const { return fontFace_; }
  HICON Icon() const { return bigIcon_; }
  bool Busy() const { return busy_; }
  // False once the window has gone.
  bool Exists() const { return hwnd_ != nullptr; }
  int WaitingRequests();

  void Show(int how = SW_SHOW);
  // Serves the window until it has gone; the value of WM_QUIT when one comes first.
  int RunMessageLoop();
  // What the loop does with a message before dispatching it: Enter, and the dialog
  // manager's keys. True when the message was taken.
  bool PreTranslate(MSG& msg);
  // Ends the window as the close command does; while a handler runs, once it returned.
  void RequestClose();
  void ShowAbout();
  // The service view: the console, command test and USB controls the template keeps
  // hidden, shown in a panel to the right of the log (the same controls, so the same
  // handlers and enable rules). Off at start; the system menu's entry turns it on and off.
  void SetServiceView(bool on);
  bool ServiceViewShown() const { return serviceView_; }
  // Runs action on this thread once, ms from now (a timer of the window).
  void RunLater(int ms, std::function<void()> action);

  // Window
  void EnableControl(int id, bool enabled) override;
  bool IsControlEnabled(int id) const override;
  bool IsControlShown(int id) const override;
  void SetCheck(int id, int checked) override;
  int GetCheck(int id) const override;
  void SetControlText(int id, const std::string& text) override;
  std::string GetControlText(int id) const override;
  void SetProgressPos(int id, int position) override;
  int GetProgressPos(int id) const override;
  void AddComboString(int id, const std::string& text) override;
  void SetComboSelection(int id, int index) override;
  int GetComboSelection(int id) const override;
  std::string GetComboText(int id, int index) const override;
  CHScrollListBox& LogList() override { return log_; }
  void MessageBox(const std::string& text) override;
  CpuChoice AskCpu(const std::string& question) override;
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  void RunOnWindowThread(const std::function<void()>& request) override;
  bool OnWindowThread() const override;
  void ProcessPendingRequests(int waitMs) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInit(HWND hwnd);
  void OnDestroy();
  bool OnCommand(WPARAM wParam, LPARAM lParam);
  bool OnSysCommand(UINT command);
  bool PaintMinimised();
  // The user sizes the window no smaller than the start size of the view shown.
  void KeepStartSizeAtLeast(MINMAXINFO& limits) const;
  void Dispatch(int id);
  void SysCommand(int command);
  void RunBusy(const std::function<void()>& handler);
  void CloseFromDialog();
  void ShowWorkingFolder();
  void Destroy();
  void DropInput();
  void RepaintIfBusy(HWND control);
  int ServeRequests();

  std::string instanceTag_;
  std::string fontFace_;
  HWND hwnd_ = nullptr;
  std::atomic<HWND> requestTarget_{nullptr};  // where a worker's wake goes
  DWORD windowThread_;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;

  CHScrollListBox log_;
  FixedWidthMeasurer unmeasured_;
  std::unique_ptr<GdiTextMeasurer> measurer_;
  std::unique_ptr<LogListView> logView_;

  CommandHandler command_;
  CommandHandler sysCommand_;
  CKestrumDlg* dialog_ = nullptr;
  const FolderRegistry* folderRegistry_ = nullptr;
  FolderChooser chooseFolder_;
  // Lets the dialog's callbacks find out whether this window still exists.
  std::shared_ptr<Win32Window*> self_;
  bool busy_ = false;
  // The control a handler took the focus from by disabling it.
  HWND focusLeft_ = nullptr;
  bool closeRequested_ = false;
  bool destroyRequested_ = false;
  bool serviceView_ = false;

  std::map<UINT_PTR, std::function<void()>> timers_;
  UINT_PTR nextTimer_ = 1;

  WindowRequests requests_;
  int served_ = 0;
};

}  // namespace morlane::win
