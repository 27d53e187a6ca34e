#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "records/record_source.h"
#include "records/run_record.h"

namespace morlane {

// The one reading of runs that the station's store and the line's database share: which
// runs a filter takes, as SQL either database runs, and the columns of a run and of an
// image read back into a record. Whatever reads runs, from either, takes the same runs in
// the same order and the same facts of each.

// A filter's WHERE clause (and its order and limit) with numbered parameters, marker and
// number ("?1" for the station's store, "$1" for the line's database); parameter k + 1 is
// values[k].
struct FilterSql {
  std::string clause;
  std::vector<std::variant<int64_t, std::string>> values;
};
FilterSql FilterClause(const RunFilter& filter, char marker, bool ordered = true);

// The columns RunFromRow and ImageFromRow read, in their order.
inline constexpr const char* kRunColumns =
    "run_id, station, slot, port, port_id, unit_id, operator, procedure, tool_version,"
    " profile, started, ended, started_ms, ended_ms, result, failed_step";
inline constexpr const char* kImageColumns =
    "file, sha256, bytes, cpu, result, step, skipped, closing, seconds, frames, retries, naks";

// The service package a run took its images from, read after kRunColumns: the station's
// store keeps it in columns of its own, the line's database reads it from the record it
// keeps whole (so that its tables, made by older tools, need no new columns).
inline constexpr const char* kStorePackageColumns =
    ", package_file, package_sha256, package_model, package_release, package_signer";
inline constexpr const char* kLinePackageColumns =
    ", record->'package'->>'file', record->'package'->>'sha256', record->'package'->>'model',"
    " record->'package'->>'release', record->'package'->>'signer'";

// A row of either database: Text, OptionalText, Int, IsNull and Flag of a column.
template <typename Row>
RunRecord RunFromRow(Row& row) {
  RunRecord run;
  run.runId = row.Text(0);
  run.station = row.Text(1);
  run.slot = row.Text(2);
  run.port = row.Text(3);
  run.portId = row.Text(4);
  run.unitId = row.OptionalText(5);
  run.operatorName = row.OptionalText(6);
  run.procedure = row.Text(7);
  run.toolVersion = row.Text(8);
  run.profile = row.OptionalText(9);
  run.started = row.Text(10);
  run.ended = row.Text(11);
  run.startedMs = row.Int(12);
  run.endedMs = row.Int(13);
  run.result = row.Text(14);
  run.failedStep = row.Text(15);
  if (!row.IsNull(16)) {
    run.package =
        PackageRecord{row.Text(16), row.Text(17), row.Text(18), row.Text(19), row.OptionalText(20)};
  }
  return run;
}

// The step seconds are kept as each database keeps them; parse reads that text.
template <typename Row, typename Parse>
ImageRecord ImageFromRow(Row& row, Parse parse) {
  ImageRecord image;
  image.file = row.Text(0);
  image.sha256 = row.Text(1);
  image.bytes = row.IsNull(2) ? -1 : row.Int(2);
  image.cpu = row.Text(3);
  image.result = row.Text(4);
  image.step = row.Text(5);
  image.skipped = row.Flag(6);
  image.closing = row.Text(7);
  image.seconds = parse(row.Text(8));
  image.frames = static_cast<int>(row.Int(9));
  image.retries = static_cast<int>(row.Int(10));
  image.naks = static_cast<int>(row.Int(11));
  return image;
}

// Step seconds in the order the steps run, whatever order a database gave them in (the
// line's database keeps an object's keys in an order of its own); steps it does not know
// come last, in the order given.
void InStepOrder(std::vector<std::pair<std::string, double>>& seconds);
// Where a step comes in that order; every unknown step the same, after them all.
int StepRank(std::string_view step);

}  // namespace morlane
