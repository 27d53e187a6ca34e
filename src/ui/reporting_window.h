#pragma once

#include "ui/run_events.h"
#include "ui/window.h"

namespace morlane {

// The window as the dialog and its procedures see it: every call goes to the front end's
// window, and each log line and message box is reported to the run's events as well, so
// that no front end has to read the log back for them.
class ReportingWindow final : public Window {
 public:
  ReportingWindow(Window& window, RunEvents& events) : window_(window), events_(events) {}

  void EnableControl(int id, bool enabled) override { window_.EnableControl(id, enabled); }
  bool IsControlEnabled(int id) const override { return window_.IsControlEnabled(id); }
  bool IsControlShown(int id) const override { return window_.IsControlShown(id); }
  void SetCheck(int id, int checked) override { window_.SetCheck(id, checked); }
  int GetCheck(int id) const override { return window_.GetCheck(id); }
  void SetControlText(int id, const std::string& text) override {
    window_.SetControlText(id, text);
  }
  std::string GetControlText(int id) const override { return window_.GetControlText(id); }
  void SetProgressPos(int id, int position) override { window_.SetProgressPos(id, position); }
  int GetProgressPos(int id) const override { return window_.GetProgressPos(id); }
  void AddComboString(int id, const std::string& text) override {
    window_.AddComboString(id, text);
  }
  void SetComboSelection(int id, int index) override { window_.SetComboSelection(id, index); }
  int GetComboSelection(int id) const override { return window_.GetComboSelection(id); }
  std::string GetComboText(int id, int index) const override {
    return window_.GetComboText(id, index);
  }
  CHScrollListBox& LogList() override { return window_.LogList(); }
  void LineAppended(std::string_view text) override {
    if (events_.Listening()) events_.Report(event::Log{std::string(text)});
    window_.LineAppended(text);
  }
  void MessageBox(const std::string& text) override {
    if (events_.Listening()) events_.Report(event::Message{text});
    window_.MessageBox(text);
  }
  CpuChoice AskCpu(const std::string& question) override {
    if (events_.Listening()) events_.Report(event::Message{question});
    return window_.AskCpu(question);
  }
  std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) override {
    return window_.OpenFileDialog(request);
  }
  void RunOnWindowThread(const std::function<void()>& request) override {
    window_.RunOnWindowThread(request);
  }
  bool OnWindowThread() const override { return window_.OnWindowThread(); }
  void ProcessPendingRequests(int waitMs) override { window_.ProcessPendingRequests(waitMs); }

 private:
  Window& window_;
  RunEvents& events_;
};

}  // namespace morlane
