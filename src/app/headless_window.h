#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/control_table.h"
#include "ui/hscroll_listbox.h"
#include "ui/window.h"
#include "ui/window_requests.h"

namespace morlane {

// A window without a screen: the control states of the dialog template kept in a table.
// Tests and morlane-cli drive the dialog through it as a technician would: set a check
// box, type into the edit box, click a button, read the log and the enabled states.
class HeadlessWindow : public Window, private ListBoxObserver {
 public:
  using CommandHandler = std::function<void(int id)>;
  using LineHandler = std::function<void(std::string_view line)>;
  using MessageHandler = std::function<void(const std::string& text)>;
  using FileDialogHandler =
      std::function<std::optional<std::string>(const FileDialogRequest& request)>;
  using ProgressHandler = std::function<void(int id, int position)>;

  explicit HeadlessWindow(int charWidth = 8);
  ~HeadlessWindow() override;

  // Where clicks go: the dialog's command handler.
  void SetCommandHandler(CommandHandler handler) { commandHandler_ = std::move(handler); }
  void SetLineHandler(LineHandler handler) { lineHandler_ = std::move(handler); }
  void SetMessageHandler(MessageHandler handler) { messageHandler_ = std::move(handler); }
  void SetFileDialogHandler(FileDialogHandler handler) { fileDialog_ = std::move(handler); }
  void SetProgressHandler(ProgressHandler handler) { progressHandler_ = std::move(handler); }
  // Answers for the next file dialogs, in order; an empty answer cancels.
  void QueueFileDialogAnswer(std::optional<std::string> answer);
  // How the CPU question is answered from now on; nullopt (the default) cancels it.
  void SetCpuAnswer(std::optional<CpuChoice> answer) { cpuAnswer_ = answer; }
  const std::vector<std::string>& CpuQuestions() const { return cpuQuestions_; }
  // The thread that owns the window; by default the one that built it.
  void AdoptWindowThread() { windowThread_ = std::this_thread::get_id(); }

  // A click as the user makes it: nothing when the control is disabled; an automatic
  // check box toggles before the handler runs. Returns whether the click was taken.
  bool Click(int id);
  void TypeText(int id, const std::string& text) { SetControlText(id, text); }

  std::vector<std::string> LogLines() const;
  const std::vector<std::string>& MessageBoxes() const { return messages_; }
  const std::vector<FileDialogRequest>& FileDialogs() const { return fileDialogs_; }

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
  struct ControlState {
    ControlKind kind = ControlKind::StaticText;
    bool enabled = true;
    bool shown = true;
    int check = 0;
    int progress = 0;
    std::string text;
    std::vector<std::string> items;
    int selection = -1;
  };
  ControlState& State(int id);
  const ControlState* Find(int id) const;

  // ListBoxObserver
  void ItemInserted(int index) override;
  void ItemRemoved(int) override {}
  void ContentReset() override {}
  void SelectionChanged(int) override {}
  void HorizontalExtentChanged(int) override {}

  FixedWidthMeasurer measurer_;
  CHScrollListBox log_;
  std::map<int, ControlState> controls_;
  CommandHandler commandHandler_;
  LineHandler lineHandler_;
  MessageHandler messageHandler_;
  FileDialogHandler fileDialog_;
  ProgressHandler progressHandler_;
  std::deque<std::optional<std::string>> fileAnswers_;
  std::vector<std::string> messages_;
  std::optional<CpuChoice> cpuAnswer_;
  std::vector<std::string> cpuQuestions_;
  std::vector<FileDialogRequest> fileDialogs_;
  std::thread::id windowThread_;

  WindowRequests requests_;
};

}  // namespace morlane
