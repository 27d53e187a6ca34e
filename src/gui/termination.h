#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace morlane::gui {

// Turns SIGTERM, SIGINT and SIGHUP into a call on the window thread, so that a tool
// ended from outside still closes its link and its files on the way out.
class TerminationWatcher : public QObject {
 public:
  explicit TerminationWatcher(std::function<void()> onTerminate, QObject* parent = nullptr);
  ~TerminationWatcher() override;

 private:
  std::function<void()> onTerminate_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace morlane::gui
