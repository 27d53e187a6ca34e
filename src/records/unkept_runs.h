#pragma once

#include <string>
#include <string_view>

#include "records/record_store.h"
#include "records/run_record.h"

namespace morlane {

// Where a run goes that its store could not keep (a records folder that became read-only
// or full): a store of its own under the user's state folder, "unkept", which
// `records import` takes back into a store. "" when the system names no such place.
std::string UnkeptRunsFolder();

// Keeps the run in the store at folder, made when missing. True when it is kept there;
// else false with why.
bool KeepUnkept(const std::string& folder, const RunRecord& run, std::string_view log,
                std::string* error);

// A run its store refused: marked failed at "record" (a unit's programming is not vouched
// for without its record) and kept in folder. Where it went, said for a message: "in FOLDER;
// take it back with: morlane-cli records import FOLDER", or "nowhere (WHY)".
std::string KeepRefusedRun(const std::string& folder, RunRecord& run, std::string_view log);

struct ImportCount {
  int added = 0;    // runs put into the store
  int present = 0;  // runs the store held already (imported before, or never unkept)
};

// Puts every run of the store at folder that the target does not hold yet into the target,
// with its log, each once: importing the same folder again adds nothing. Stops at the first
// run the target cannot keep, saying why; what was added until then stays.
bool ImportRuns(const std::string& folder, RecordStore& target, ImportCount* count,
                std::string* error);

}  // namespace morlane
