#include "station/line_feed.h"

namespace morlane {

std::unique_ptr<LineFeed> LineFeed::Open(const std::string& url, RecordStore& store,
                                         std::string records, std::string* why) {
  if (!LineDatabase::Supported()) {
    *why = LineDatabase::WhyUnsupported();
    return nullptr;
  }
  return std::unique_ptr<LineFeed>(new LineFeed(url, store, std::move(records)));
}

LineFeed::LineFeed(const std::string& url, RecordStore& store, std::string records)
    : database_(url), store_(store), records_(std::move(records)) {}

void LineFeed::Send() {
  int sent = 0;
  std::string why;
  if (database_.SendBacklog(store_, &sent, &why)) return;
  std::lock_guard lock(mutex_);
  if (warned_) return;
  warned_ = true;
  if (say) {
    say("the line database cannot be reached (" + why + "); runs are kept in " + records_ +
        " and sent later");
  }
}

}  // namespace morlane
