#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace morlane {

class CHScrollListBox;

// What the file-open dialog is asked to show.
struct FileDialogRequest {
  std::string defaultExtension;  // "*.bin"
  std::string initialName;       // "*.bin"
  std::string filter;            // "FirmWare Files (*.bin)|*.bin|All Files (*.*)|*.*|"
  bool promptCreate = false;
};

// The user's answer to which CPU a firmware file is for.
enum class CpuChoice { Master, Slave, Cancel };

// Everything the dialog and its procedures need from the windowing system. Every call but
// RunOnWindowThread and OnWindowThread belongs to the window thread; a worker thread
// reaches the window only through RunOnWindowThread, which returns once the window thread
// has carried the request out.
class Window {
 public:
  virtual ~Window() = default;

  virtual void EnableControl(int id, bool enabled) = 0;
  virtual bool IsControlEnabled(int id) const = 0;
  virtual bool IsControlShown(int id) const = 0;
  virtual void SetCheck(int id, int checked) = 0;
  virtual int GetCheck(int id) const = 0;
  // Caption of a button or static, text of the edit box.
  virtual void SetControlText(int id, const std::string& text) = 0;
  virtual std::string GetControlText(int id) const = 0;
  virtual void SetProgressPos(int id, int position) = 0;
  virtual int GetProgressPos(int id) const = 0;

  // The interface combo box.
  virtual void AddComboString(int id, const std::string& text) = 0;
  virtual void SetComboSelection(int id, int index) = 0;
  virtual int GetComboSelection(int id) const = 0;
  virtual std::string GetComboText(int id, int index) const = 0;

  // The log list 1005.
  virtual CHScrollListBox& LogList() = 0;
  // Told of every line AppendLogLine adds, on the thread that adds it, before the line
  // reaches the list.
  virtual void LineAppended(std::string_view /*text*/) {}

  // A modal message box with only an OK button.
  virtual void MessageBox(const std::string& text) = 0;
  // A modal box asking which CPU a firmware file is for, with the buttons "Master",
  // "Slave" and "Cancel"; closing it otherwise is Cancel.
  virtual CpuChoice AskCpu(const std::string& question) = 0;
  // The file-open dialog; nullopt when cancelled.
  virtual std::optional<std::string> OpenFileDialog(const FileDialogRequest& request) = 0;

  virtual void RunOnWindowThread(const std::function<void()>& request) = 0;
  virtual bool OnWindowThread() const = 0;
  // On the window thread: carries out the requests of worker threads that are waiting,
  // waiting up to waitMs for one to come; keeps the window painted meanwhile.
  virtual void ProcessPendingRequests(int waitMs) = 0;
};

}  // namespace morlane
