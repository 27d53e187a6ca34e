#include "app/headless_window.h"

namespace morlane {

HeadlessWindow::HeadlessWindow(int charWidth)
    : measurer_(charWidth), log_(&measurer_), windowThread_(std::this_thread::get_id()) {
  for (const ControlSpec& control : MainDialogTemplate().controls) {
    if (control.id == 0) continue;
    ControlState& state = controls_[control.id];
    state.kind = control.kind;
    state.enabled = control.enabledAtStart;
    state.shown = control.shown;
    state.text = control.caption;
  }
  log_.SetObserver(this);
}

HeadlessWindow::~HeadlessWindow() {
  log_.SetObserver(nullptr);
}

HeadlessWindow::ControlState& HeadlessWindow::State(int id) {
  return controls_[id];
}

const HeadlessWindow::ControlState* HeadlessWindow::Find(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : &it->second;
}

void HeadlessWindow::QueueFileDialogAnswer(std::optional<std::string> answer) {
  fileAnswers_.push_back(std::move(answer));
}

bool HeadlessWindow::Click(int id) {
  const ControlState* state = Find(id);
  if (!state || !state->enabled) return false;
  if (state->kind == ControlKind::CheckBox) SetCheck(id, state->check ? 0 : 1);
  if (commandHandler_) commandHandler_(id);
  return true;
}

std::vector<std::string> HeadlessWindow::LogLines() const {
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(log_.GetCount()));
  for (int i = 0; i < log_.GetCount(); ++i) lines.push_back(log_.GetText(i));
  return lines;
}

void HeadlessWindow::EnableControl(int id, bool enabled) {
  State(id).enabled = enabled;
}

bool HeadlessWindow::IsControlEnabled(int id) const {
  const ControlState* state = Find(id);
  return state && state->enabled;
}

bool HeadlessWindow::IsControlShown(int id) const {
  const ControlState* state = Find(id);
  return state && state->shown;
}

void HeadlessWindow::SetCheck(int id, int checked) {
  State(id).check = checked;
}

int HeadlessWindow::GetCheck(int id) const {
  const ControlState* state = Find(id);
  return state ? state->check : 0;
}

void HeadlessWindow::SetControlText(int id, const std::string& text) {
  State(id).text = text;
}

std::string HeadlessWindow::GetControlText(int id) const {
  const ControlState* state = Find(id);
  return state ? state->text : std::string();
}

void HeadlessWindow::SetProgressPos(int id, int position) {
  State(id).progress = position;
  if (progressHandler_) progressHandler_(id, position);
}

int HeadlessWindow::GetProgressPos(int id) const {
  const ControlState* state = Find(id);
  return state ? state->progress : 0;
}

void HeadlessWindow::AddComboString(int id, const std::string& text) {
  State(id).items.push_back(text);
}

void HeadlessWindow::SetComboSelection(int id, int index) {
  ControlState& state = State(id);
  state.selection = (index >= 0 && index < static_cast<int>(state.items.size())) ? index : -1;
}

int HeadlessWindow::GetComboSelection(int id) const {
  const ControlState* state = Find(id);
  return state ? state->selection : -1;
}

std::string HeadlessWindow::GetComboText(int id, int index) const {
  const ControlState* state = Find(id);
  if (!state || index < 0 || index >= static_cast<int>(state->items.size())) return {};
  return state->items[static_cast<size_t>(index)];
}

void HeadlessWindow::MessageBox(const std::string& text) {
  messages_.push_back(text);
  if (messageHandler_) messageHandler_(text);
}

CpuChoice HeadlessWindow::AskCpu(const std::string& question) {
  cpuQuestions_.push_back(question);
  return cpuAnswer_.value_or(CpuChoice::Cancel);
}

std::optional<std::string> HeadlessWindow::OpenFileDialog(const FileDialogRequest& request) {
  fileDialogs_.push_back(request);
  if (!fileAnswers_.empty()) {
    std::optional<std::string> answer = std::move(fileAnswers_.front());
    fileAnswers_.pop_front();
    return answer;
  }
  if (fileDialog_) return fileDialog_(request);
  return std::nullopt;
}

void HeadlessWindow::RunOnWindowThread(const std::function<void()>& request) {
  if (OnWindowThread()) {
    request();
    return;
  }
  requests_.Submit(request);
}

bool HeadlessWindow::OnWindowThread() const {
  return std::this_thread::get_id() == windowThread_;
}

void HeadlessWindow::ProcessPendingRequests(int waitMs) {
  if (requests_.Serve() == 0 && waitMs > 0 && requests_.WaitForRequest(waitMs)) requests_.Serve();
}

void HeadlessWindow::ItemInserted(int index) {
  if (lineHandler_) lineHandler_(log_.TextAt(index));
}

}  // namespace morlane
