#include "gui/qt_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>

#include "app/kestrum_dlg.h"
#include "gui/about_dlg.h"
#include "gui/app_icon.h"
#include "gui/file_filter.h"
#include "gui/folder_settings.h"
#include "gui/gui_clock.h"
#include "gui/log_view.h"
#include "gui/text_convert.h"
#include "platform/utf8_path.h"
#include "ui/control_ids.h"
#include "ui/dialog_values.h"
#include "ui/service_panel.h"
#include "ui/working_folder.h"

namespace morlane::gui {

namespace {

// "Auto" is set by its handler, never by the click itself.
class ManualCheckBox : public QCheckBox {
 public:
  using QCheckBox::QCheckBox;

 protected:
  void nextCheckState() override {}
};

// String 101, the entry of the window's menu.
constexpr const char* kAboutEntry = "About Tessaly";

bool IsUserInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
      return true;
    default:
      return false;
  }
}

}  // namespace

QtWindow::QtWindow(QWidget* parent) : QWidget(parent) {
  Build();
  qApp->installEventFilter(this);
}

QtWindow::~QtWindow() {
  qApp->removeEventFilter(this);
  // A worker still waiting is let go; its request is not carried out by a window that
  // is going away.
  requests_.Close();
}

void QtWindow::Build() {
  const DialogTemplate& dialog = MainDialogTemplate();
  font_ = DialogFont(dialog);
  setFont(font_);
  units_ = DialogUnits::ForFont(font_);
  setWindowTitle(ToQString(dialog.caption));
  // Caption with system menu, minimise and maximise boxes; the frame sizes the window
  // from its start size up (see GrowRuleOf for what the controls do then).
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  setMinimumSize(StartSize());
  resize(StartSize());
  setWindowIcon(AppIcon());
  // The running instance's mark, as the other front ends know it.
  setProperty("Kestrum", 1);

  for (const ControlSpec& control : dialog.controls) {
    QWidget* widget = CreateControl(control);
    QRect rect = units_.Map(control);
    // A drop-down combo box's rectangle includes its open list; closed, it is one line.
    if (control.kind == ControlKind::ComboBox) rect.setHeight(widget->sizeHint().height());
    widget->setGeometry(rect);
    widget->setEnabled(control.enabledAtStart);
    if (!control.shown) widget->hide();
    widget->setObjectName(control.id ? QStringLiteral("ctl%1").arg(control.id)
                                     : QStringLiteral("group%1").arg(control.y));
    if (control.id != 0) controls_[control.id] = widget;
  }
  for (const ControlSpec& frame : ServiceViewPanel().frames) {
    auto* box = new QGroupBox(ToQString(frame.caption), this);
    box->setGeometry(units_.Map(frame));
    box->setObjectName(QStringLiteral("service%1").arg(serviceFrames_.size()));
    box->hide();
    serviceFrames_.push_back(box);
  }
}

QSize QtWindow::StartSize() const {
  const DialogTemplate& dialog = MainDialogTemplate();
  const int panelWidth = serviceView_ ? ServiceViewPanel().width : 0;
  return {units_.X(dialog.width + panelWidth), units_.Y(dialog.height)};
}

void QtWindow::SetServiceView(bool on) {
  const ServicePanel& panel = ServiceViewPanel();
  // The room the user gave the log is kept: the window grows or shrinks by the panel.
  const QSize extra = (size() - StartSize()).expandedTo(QSize(0, 0));
  serviceView_ = on;
  setMinimumSize(StartSize());
  if (!isMaximized() && !isFullScreen()) resize(StartSize() + extra);
  for (QWidget* frame : serviceFrames_) {
    frame->setVisible(on);
    // Under the controls it frames, so that clicks reach them.
    frame->lower();
  }
  // The controls themselves move: the same widgets, handlers and enabled states.
  for (const ServicePlacement& place : panel.placements) {
    QWidget* widget = Control(place.id);
    if (!widget) continue;
    if (!on) widget->setGeometry(units_.Map(*FindControl(place.id)));
    widget->setVisible(on);
  }
  FollowSize();
}

void QtWindow::FollowSize() {
  const QSize extra = size() - StartSize();
  auto place = [&](QWidget* widget, const QRect& start, GrowRule rule) {
    if (!widget) return;
    const PixelRect at = GrownPlace({start.x(), start.y(), start.width(), start.height()}, rule,
                                    extra.width(), extra.height());
    widget->setGeometry(at.x, at.y, at.width, at.height);
  };
  for (int id : {ctl::kLogList, ctl::kClearLog}) {
    place(Control(id), units_.Map(*FindControl(id)), GrowRuleOf(id, false));
  }
  if (!serviceView_) return;
  const ServicePanel& panel = ServiceViewPanel();
  for (const ServicePlacement& spot : panel.placements) {
    place(Control(spot.id), units_.Map(spot.x, spot.y, spot.width, spot.height),
          GrowRuleOf(spot.id, true));
  }
  for (size_t i = 0; i < serviceFrames_.size() && i < panel.frames.size(); ++i) {
    place(serviceFrames_[i], units_.Map(panel.frames[i]), GrowRuleOf(0, true));
  }
}

void QtWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FollowSize();
}

QWidget* QtWindow::CreateControl(const ControlSpec& control) {
  const QString caption = ToQString(control.caption);
  const int id = control.id;
  switch (control.kind) {
    case ControlKind::GroupBox:
      return new QGroupBox(caption, this);
    case ControlKind::ComboBox:
      return new QComboBox(this);
    case ControlKind::PushButton: {
      auto* button = new QPushButton(caption, this);
      // Enter does nothing in this dialog, whichever button has the focus.
      button->setAutoDefault(false);
      button->setDefault(false);
      connect(button, &QPushButton::clicked, this, [this, id] { Dispatch(id); });
      return button;
    }
    case ControlKind::CheckBox:
    case ControlKind::ManualCheckBox: {
      QCheckBox* box = control.kind == ControlKind::CheckBox ? new QCheckBox(caption, this)
                                                             : new ManualCheckBox(caption, this);
      connect(box, &QCheckBox::clicked, this, [this, id] { Dispatch(id); });
      return box;
    }
    case ControlKind::StaticText: {
      auto* label = new QLabel(caption, this);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setWordWrap(true);
      return label;
    }
    case ControlKind::ProgressBar: {
      auto* bar = new QProgressBar(this);
      bar->setRange(0, 100);
      bar->setValue(0);
      bar->setTextVisible(false);
      return bar;
    }
    case ControlKind::ListBox:
      log_ = new LogView(font_, this);
      return log_;
    case ControlKind::Edit: {
      auto* edit = new QLineEdit(this);
      edit->setMaxLength(static_cast<int>(DialogValues::kCommandTextLimit));
      return edit;
    }
  }
  return new QWidget(this);
}

void QtWindow::Attach(CKestrumDlg& dialog) {
  dialog_ = &dialog;
  dialog.announceClosedLink = true;
  SetCommandHandler([&dialog](int id) { dialog.OnCommand(id); });
  SetSysCommandHandler([&dialog](int command) { dialog.OnSysCommand(command); });
  QPointer<QtWindow> self(this);
  dialog.showAbout = [self] {
    if (self) self->ShowAbout();
  };
  dialog.closeWindow = [self] {
    if (self) self->CloseFromDialog();
  };
  ShowWorkingFolder();
}

void QtWindow::ShowWorkingFolder() {
  const std::filesystem::path folder = dialog_ ? dialog_->workingDir : std::filesystem::path();
  setWindowTitle(ToQString(
      CaptionWithFolder(MainDialogTemplate().caption, folder, dialog_ && dialog_->simulatedUnit)));
}

QString QtWindow::StartDirectory() const {
  if (dialog_ && !dialog_->workingDir.empty()) {
    return ToQString(PathToUtf8(dialog_->workingDir));
  }
  return QDir::currentPath();
}

void QtWindow::ChooseWorkingFolder() {
  // A procedure reads its files from the folder it started with.
  if (busy_ || !dialog_) return;
  std::optional<std::filesystem::path> chosen;
  if (chooseFolder_) {
    chosen = chooseFolder_(PathFromUtf8(FromQString(StartDirectory())));
  } else {
    const QString folder = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Working Folder"), StartDirectory(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty()) chosen = PathFromUtf8(FromQString(folder));
  }
  if (!chosen || chosen->empty()) return;
  dialog_->workingDir = *chosen;
  ShowWorkingFolder();
  if (folderSettings_) folderSettings_->Remember(*chosen);
}

QWidget* QtWindow::Control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void QtWindow::Dispatch(int id) {
  RunBusy([this, id] {
    if (command_) command_(id);
  });
}

void QtWindow::SysCommand(int command) {
  RunBusy([this, command] {
    if (sysCommand_) {
      sysCommand_(command);
    } else if ((command & 0xFFF0) == ctl::kAboutCommand) {
      ShowAbout();
    }
  });
}

void QtWindow::RunBusy(const std::function<void()>& handler) {
  if (busy_) {
    handler();
    return;
  }
  busy_ = true;
  handler();
  // Input held back while the handler ran is delivered now, and dropped by the filter.
  QCoreApplication::processEvents();
  busy_ = false;
  if (closeRequested_) {
    closeRequested_ = false;
    QTimer::singleShot(0, this, [this] { RequestClose(); });
  }
}

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
  if (!busy_ || !IsUserInput(event->type())) return false;
  if (auto* widget = qobject_cast<QWidget*>(watched)) return widget->window() == this;
  if (auto* window = qobject_cast<QWindow*>(watched)) return window == windowHandle();
  return false;
}

void QtWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      Dispatch(CKestrumDlg::kIdOk);
      break;
    case Qt::Key_Escape:
      Dispatch(CKestrumDlg::kIdCancel);
      break;
    case Qt::Key_F1:
      SysCommand(ctl::kAboutCommand);
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
}

void QtWindow::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  if (busy_) {
    event->ignore();
    return;
  }
  // The close box and the window menu's close: the dialog's clean-up runs first and
  // asks for the window to close, which it is doing already.
  closing_ = true;
  SysCommand(CKestrumDlg::kSysClose);
  event->accept();
}

void QtWindow::CloseFromDialog() {
  if (closing_) return;
  closing_ = true;
  close();
}

void QtWindow::RequestClose() {
  if (busy_) {
    closeRequested_ = true;
    return;
  }
  close();
}

void QtWindow::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu = MakeWindowMenu();
  menu->exec(event->globalPos());
  event->accept();
}

std::unique_ptr<QMenu> QtWindow::MakeWindowMenu() {
  auto menu = std::make_unique<QMenu>(this);
  QAction* about = menu->addAction(ToQString(kAboutEntry));
  about->setShortcut(QKeySequence(Qt::Key_F1));
  connect(about, &QAction::triggered, this, [this] { SysCommand(ctl::kAboutCommand); });
  QAction* service = menu->addAction(ToQString(kServiceViewEntry));
  service->setCheckable(true);
  service->setChecked(serviceView_);
  connect(service, &QAction::toggled, this, [this](bool on) { SetServiceView(on); });
  QAction* closeLink = menu->addAction(ToQString(kCloseLinkEntry));
  closeLink->setEnabled(IsControlEnabled(ctl::kClose));
  connect(closeLink, &QAction::triggered, this, [this] {
    if (IsControlEnabled(ctl::kClose)) Dispatch(ctl::kClose);
  });
  QAction* folder = menu->addAction(ToQString(kWorkingFolderEntry));
  folder->setEnabled(dialog_ != nullptr);
  connect(folder, &QAction::triggered, this, [this] { ChooseWorkingFolder(); });
  QAction* package = menu->addAction(ToQString(kOpenPackageEntry));
  package->setEnabled(dialog_ != nullptr);
  connect(package, &QAction::triggered, this, [this] { SysCommand(ctl::kOpenPackageCommand); });
  return menu;
}

void QtWindow::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void QtWindow::Activate() {
  // Minimised, it comes back as the user left it, maximised or not.
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void QtWindow::RepaintIfBusy(QWidget* widget) {
  // Between the waits of a procedure nothing else paints: the change is shown at once.
  if (busy_ && widget->isVisible()) widget->repaint();
}

void QtWindow::EnableControl(int id, bool enabled) {
  if (QWidget* widget = Control(id)) {
    widget->setEnabled(enabled);
    RepaintIfBusy(widget);
  }
}

bool QtWindow::IsControlEnabled(int id) const {
  QWidget* widget = Control(id);
  return widget && widget->isEnabled();
}

bool QtWindow::IsControlShown(int id) const {
  QWidget* widget = Control(id);
  return widget && !widget->isHidden();
}

void QtWindow::SetCheck(int id, int checked) {
  if (auto* box = qobject_cast<QCheckBox*>(Control(id))) {
    box->setChecked(checked != 0);
    RepaintIfBusy(box);
  }
}

int QtWindow::GetCheck(int id) const {
  auto* box = qobject_cast<QCheckBox*>(Control(id));
  return box && box->isChecked() ? 1 : 0;
}

void QtWindow::SetControlText(int id, const std::string& text) {
  QWidget* widget = Control(id);
  QString value = ToQString(text);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(value);
  } else if (auto* label = qobject_cast<QLabel*>(widget)) {
    label->setText(value);
  } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(value);
  } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
    group->setTitle(value);
  } else {
    return;
  }
  RepaintIfBusy(widget);
}

std::string QtWindow::GetControlText(int id) const {
  QWidget* widget = Control(id);
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return FromQString(button->text());
  if (auto* label = qobject_cast<QLabel*>(widget)) return FromQString(label->text());
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return FromQString(edit->text());
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return FromQString(group->title());
  return {};
}

void QtWindow::SetProgressPos(int id, int position) {
  if (auto* bar = qobject_cast<QProgressBar*>(Control(id))) {
    // Out of range, the bar stands at its end, as a progress control does.
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
    RepaintIfBusy(bar);
  }
}

int QtWindow::GetProgressPos(int id) const {
  auto* bar = qobject_cast<QProgressBar*>(Control(id));
  return bar ? bar->value() : 0;
}

void QtWindow::AddComboString(int id, const std::string& text) {
  if (auto* combo = qobject_cast<QComboBox*>(Control(id))) combo->addItem(ToQString(text));
}

void QtWindow::SetComboSelection(int id, int index) {
  if (auto* combo = qobject_cast<QComboBox*>(Control(id))) {
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
  }
}

int QtWindow::GetComboSelection(int id) const {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  return combo ? combo->currentIndex() : -1;
}

std::string QtWindow::GetComboText(int id, int index) const {
  auto* combo = qobject_cast<QComboBox*>(Control(id));
  if (!combo || index < 0 || index >= combo->count()) return {};
  return FromQString(combo->itemText(index));
}

CHScrollListBox& QtWindow::LogList() {
  return log_->List();
}

void QtWindow::MessageBox(const std::string& text) {
  QMessageBox box(QMessageBox::Warning, windowTitle(), ToQString(text), QMessageBox::Ok, this);
  box.exec();
}

CpuChoice QtWindow::AskCpu(const std::string& question) {
  QMessageBox box(QMessageBox::Question, windowTitle(), ToQString(question), QMessageBox::NoButton,
                  this);
  QPushButton* master = box.addButton(QStringLiteral("Master"), QMessageBox::AcceptRole);
  QPushButton* slave = box.addButton(QStringLiteral("Slave"), QMessageBox::AcceptRole);
  QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
  // Nothing is chosen by a stray Enter: the default is Cancel.
  box.setDefaultButton(cancel);
  box.setEscapeButton(cancel);
  box.exec();
  if (box.clickedButton() == master) return CpuChoice::Master;
  if (box.clickedButton() == slave) return CpuChoice::Slave;
  return CpuChoice::Cancel;
}

std::optional<std::string> QtWindow::OpenFileDialog(const FileDialogRequest& request) {
  QFileDialog dialog(this, QString(), StartDirectory());
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setNameFilters(FileDialogFilters(request.filter));
  QString extension = ToQString(request.defaultExtension);
  extension.remove(QLatin1Char('*'));
  if (extension.startsWith(QLatin1Char('.'))) extension.remove(0, 1);
  dialog.setDefaultSuffix(extension);
  // A wildcard as the initial name is the filter again, which the dialog already shows.
  QString initial = ToQString(request.initialName);
  if (!initial.isEmpty() && !initial.contains(QLatin1Char('*')) &&
      !initial.contains(QLatin1Char('?'))) {
    dialog.selectFile(initial);
  }
  // With the prompt-to-create option a name that does not exist yet may be taken, after
  // the user agreed; without it only existing files can be picked.
  dialog.setFileMode(request.promptCreate ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  while (dialog.exec() == QDialog::Accepted) {
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) continue;
    const QString& path = chosen.first();
    if (request.promptCreate && !QFileInfo::exists(path)) {
      auto answer = QMessageBox::question(this, windowTitle(),
                                          QStringLiteral("%1\ndoes not exist.\nCreate the file?")
                                              .arg(QDir::toNativeSeparators(path)),
                                          QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
      if (answer != QMessageBox::Yes) continue;
    }
    return QFile::encodeName(path).toStdString();
  }
  return std::nullopt;
}

void QtWindow::RunOnWindowThread(const std::function<void()>& request) {
  if (OnWindowThread()) {
    request();
    return;
  }
  requests_.Submit(request, [this] {
    QMetaObject::invokeMethod(
        this, [this] { ServeRequests(); }, Qt::QueuedConnection);
  });
}

int QtWindow::WaitingRequests() {
  return requests_.Waiting();
}

bool QtWindow::OnWindowThread() const {
  return QThread::currentThread() == thread();
}

int QtWindow::ServeRequests() {
  int served = requests_.Serve();
  served_ += served;
  return served;
}

void QtWindow::ProcessPendingRequests(int waitMs) {
  QElapsedTimer elapsed;
  elapsed.start();
  const int servedBefore = served_;
  for (;;) {
    GuiClock::KeepWindowAlive();
    ServeRequests();
    if (served_ != servedBefore) return;
    qint64 left = waitMs - elapsed.elapsed();
    if (left <= 0) return;
    requests_.WaitForRequest(static_cast<int>(std::min<qint64>(left, 20)));
  }
}

}  // namespace morlane::gui
