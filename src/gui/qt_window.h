#pragma once

#include <QFont>
#include <QWidget>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "gui/dialog_units.h"
#include "ui/window.h"
#include "ui/window_requests.h"

class QMenu;

namespace morlane {
class CKestrumDlg;
}

namespace morlane::gui {

class FolderSettings;
class LogView;

// The main window "Morlane V1.0", built from the dialog template, and the dialog's Window.
//
// Handlers and the firmware procedures they start run on this thread and block it. While
// one runs the window is busy: it keeps painting (the procedures wait through GuiClock),
// but takes no user input, the close box included; input that arrived meanwhile is
// dropped when the handler returns.
class QtWindow : public QWidget, public Window {
 public:
  using CommandHandler = std::function<void(int id)>;
  // Asks the user for a folder, starting at the given one; nullopt when cancelled.
  using FolderChooser =
      std::function<std::optional<std::filesystem::path>(const std::filesystem::path& start)>;

  explicit QtWindow(QWidget* parent = nullptr);
  ~QtWindow() override;

  // Clicks (and Enter, Escape) go to the command handler, the About entry and the close
  // command to the system-command handler.
  void SetCommandHandler(CommandHandler handler) { command_ = std::move(handler); }
  void SetSysCommandHandler(CommandHandler handler) { sysCommand_ = std::move(handler); }
  // Wires the dialog to this window: its handlers, the About box, closing. The dialog
  // may outlive the window, not the other way round. The title shows the dialog's
  // working folder from now on, when it has one.
  void Attach(CKestrumDlg& dialog);
  // Where "Working Folder..." remembers the chosen folder; none, it is not remembered.
  void SetFolderSettings(FolderSettings* settings) { folderSettings_ = settings; }
  // Replaces the system's folder dialog.
  void SetFolderChooser(FolderChooser chooser) { chooseFolder_ = std::move(chooser); }
  // The menu's "Working Folder...": a chosen folder becomes the dialog's working folder,
  // shown in the title and remembered. Refused while busy.
  void ChooseWorkingFolder();

  QWidget* Control(int id) const;
  LogView& Log() const { return *log_; }
  const DialogUnits& Units() const { return units_; }
  const QFont& DialogFontUsed() const { return font_; }
  bool Busy() const { return busy_; }
  // Worker requests queued and not yet carried out.
  int WaitingRequests();

  // A later start asked for this window: restored and brought to the front.
  void Activate();
  // Ends the window as the close command does; while a handler runs, once it returned.
  void RequestClose();
  void ShowAbout();
  // The window's menu (the context menu here; the system menu cannot be extended).
  std::unique_ptr<QMenu> MakeWindowMenu();
  // The service view: the hidden console and USB controls shown in a panel beside the log.
  // Off, the layout is the template's.
  void SetServiceView(bool on);
  bool ServiceViewShown() const { return serviceView_; }
  // The template's size, widened by the panel with the service view: the window's
  // layout as the dialog draws it, and the smallest the user can make the window.
  QSize StartSize() const;

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
  CHScrollListBox& LogList() override;
  void MessageBox(const std::string& text) override;
  CpuChoice AskCpu(const std::string& question) override;
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override;
  void RunOnWindowThread(const std::function<void()>& request) override;
  bool OnWindowThread() const override;
  void ProcessPendingRequests(int waitMs) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Build();
  QWidget* CreateControl(const ControlSpec& control);
  // Places the log, "Clear Log" and the service panel for the window's size.
  void FollowSize();
  void Dispatch(int id);
  void SysCommand(int command);
  void RunBusy(const std::function<void()>& handler);
  void CloseFromDialog();
  void ShowWorkingFolder();
  // Where the file dialogs start: the dialog's working folder.
  QString StartDirectory() const;
  void RepaintIfBusy(QWidget* widget);
  int ServeRequests();

  QFont font_;
  DialogUnits units_;
  std::map<int, QWidget*> controls_;
  std::vector<QWidget*> serviceFrames_;
  bool serviceView_ = false;
  LogView* log_ = nullptr;
  CommandHandler command_;
  CommandHandler sysCommand_;
  CKestrumDlg* dialog_ = nullptr;
  FolderSettings* folderSettings_ = nullptr;
  FolderChooser chooseFolder_;
  bool busy_ = false;
  bool closing_ = false;
  bool closeRequested_ = false;

  WindowRequests requests_;
  int served_ = 0;
};

}  // namespace morlane::gui
