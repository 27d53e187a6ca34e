// The Windows build carries no PostgreSQL client: its stations keep their records in
// their own store, and --records-db is refused there with this reason.
#include "records/line_database.h"

namespace morlane {

LineDatabase::LineDatabase(std::string url) : url_(std::move(url)) {}

bool LineDatabase::CheckAddress(const std::string&, std::string* why) {
  *why = WhyUnsupported();
  return false;
}

std::string LineDatabase::Scrubbed(std::string text) const {
  return text;
}

LineDatabase::~LineDatabase() = default;

bool LineDatabase::Supported() {
  return false;
}

std::string LineDatabase::WhyUnsupported() {
  return "this Windows build has no PostgreSQL client; records stay in the station's own store";
}

Delivery LineDatabase::SendBacklog(RecordStore&, int, bool) {
  Delivery delivery;
  delivery.unreachable = true;
  delivery.error = WhyUnsupported();
  return delivery;
}

bool LineDatabase::CheckWritable(std::string* error) {
  *error = WhyUnsupported();
  return false;
}

bool LineDatabase::Connect(std::string* error) {
  *error = WhyUnsupported();
  return false;
}

bool LineDatabase::MakeSchema(std::string* error) {
  *error = WhyUnsupported();
  return false;
}

LineDatabase::Sent LineDatabase::Send(const RunRecord&, const std::string&, std::string* reason) {
  *reason = WhyUnsupported();
  return Sent::Waits;
}

void LineDatabase::Disconnect() {}

bool LineDatabase::ReportLive(const LiveStation&, std::string* error) {
  *error = WhyUnsupported();
  return false;
}

std::vector<LiveStation> LineDatabase::ReadLive(std::string* error) {
  *error = WhyUnsupported();
  return {};
}

bool LineDatabase::WaitForNews(int, News*, std::string* error) {
  *error = WhyUnsupported();
  return false;
}

std::vector<RunRecord> LineDatabase::Runs(const RunFilter&, bool, std::string* error) {
  *error = WhyUnsupported();
  return {};
}

std::vector<RunRecord> LineDatabase::List(const RunFilter& filter, std::string* error) {
  return Runs(filter, true, error);
}

std::vector<RunRecord> LineDatabase::Summaries(const RunFilter& filter, std::string* error) {
  return Runs(filter, false, error);
}

std::vector<YieldRow> LineDatabase::YieldRows(const RunFilter&, std::string* error) {
  *error = WhyUnsupported();
  return {};
}

std::optional<RunRecord> LineDatabase::Load(const std::string&, std::string* error) {
  *error = WhyUnsupported();
  return std::nullopt;
}

std::optional<std::string> LineDatabase::LogOf(const std::string&) {
  return std::nullopt;
}

}  // namespace morlane
