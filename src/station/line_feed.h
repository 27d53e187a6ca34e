#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "records/line_database.h"
#include "records/record_store.h"

namespace morlane {

// The line's database of a station, fed from its store after every run that was kept,
// with whatever still waits there. A database that cannot be reached is said once, through
// say; the runs wait in the store and go with the next one.
class LineFeed {
 public:
  // Null, with why, when the URL names no database this build can reach.
  static std::unique_ptr<LineFeed> Open(const std::string& url, RecordStore& store,
                                        std::string records, std::string* why);

  // From any unit's thread.
  void Send();
  std::function<void(const std::string& text)> say;

 private:
  LineFeed(const std::string& url, RecordStore& store, std::string records);

  LineDatabase database_;
  RecordStore& store_;
  std::string records_;
  std::mutex mutex_;
  bool warned_ = false;
};

}  // namespace morlane
