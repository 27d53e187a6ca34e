#include "records/unkept_runs.h"

#include "platform/file_io.h"
#include "platform/utf8_path.h"

namespace morlane {

std::string UnkeptRunsFolder() {
  const std::string state = UserStateFolder();
  if (state.empty()) return {};
  return PathToUtf8(PathFromUtf8(state) / "unkept");
}

bool KeepUnkept(const std::string& folder, const RunRecord& run, std::string_view log,
                std::string* error) {
  if (folder.empty()) {
    *error = "this system names no folder for runs that could not be kept";
    return false;
  }
  std::unique_ptr<RecordStore> store = RecordStore::Open(folder, RecordStore::Mode::Write, error);
  return store && store->Commit(run, log, error);
}

std::string KeepRefusedRun(const std::string& folder, RunRecord& run, std::string_view log) {
  MarkUnkept(run);
  std::string why;
  if (!KeepUnkept(folder, run, log, &why)) return "nowhere (" + why + ")";
  return "in " + folder + "; take it back with: morlane-cli records import " + folder;
}

bool ImportRuns(const std::string& folder, RecordStore& target, ImportCount* count,
                std::string* error) {
  std::unique_ptr<RecordStore> source = RecordStore::Open(folder, RecordStore::Mode::Read, error);
  if (!source) return false;
  std::vector<RunRecord> runs = source->List(RunFilter{}, error);
  if (!error->empty()) return false;
  // Oldest first, as they were run: the target's outbox sends them to the line in order.
  for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
    std::string unknown;
    if (target.Load(run->runId, &unknown)) {
      ++count->present;
      continue;
    }
    const std::string log = source->LogOf(run->runId).value_or(std::string());
    if (!target.Commit(*run, log, error)) {
      *error = "run " + run->runId + ": " + *error;
      return false;
    }
    ++count->added;
  }
  return true;
}

}  // namespace morlane
