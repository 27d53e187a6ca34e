// records list|show|export|yield: what the station's record store holds.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli_session.h"
#include "records/filter_words.h"
#include "records/line_database.h"
#include "records/record_report.h"
#include "records/record_store.h"
#include "records/run_workbook.h"
#include "records/unkept_runs.h"

namespace morlane {

namespace {

struct RecordsArgs {
  std::string unit;
  std::string result;
  std::string station;
  std::string release;
  std::string since;
  std::string until;
  std::string limit;
  bool json = false;
  bool csv = false;
  std::string xlsx;  // export: the workbook's path
  std::string by;    // empty: every run as one group
  std::string runId;
  std::string importFrom;  // import: the fallback folder
};

void Print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

// Whether the line database's address can be used here; said on stderr when not (a usage
// error: nothing has run). The password is never printed.
bool LineAddressUsable(const std::string& url) {
  std::string why;
  if (!LineDatabase::Supported()) {
    why = LineDatabase::WhyUnsupported();
  } else if (LineDatabase::CheckAddress(url, &why)) {
    return true;
  }
  std::fprintf(stderr, "morlane-cli: --records-db: %s\n", why.c_str());
  return false;
}

std::unique_ptr<RecordStore> OpenStore(const CliSession& session, RecordStore::Mode mode) {
  const GlobalOptions& options = session.Options();
  const std::string folder = !options.records.empty() ? options.records
                             : !options.dir.empty()   ? options.dir
                                                      : ".";
  std::string why;
  std::unique_ptr<RecordStore> store = RecordStore::Open(folder, mode, &why);
  if (!store) std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
  return store;
}

// The filters of list, export and yield, read as the dashboard reads its queries; false,
// said on stderr, for a word it cannot read.
bool Filter(const RecordsArgs& args, RunFilter* filter) {
  FilterMistake mistake;
  if (ParseFilterWords(
          {args.unit, args.result, args.station, args.release, args.since, args.until, args.limit},
          filter, &mistake)) {
    return true;
  }
  std::fprintf(stderr, "morlane-cli: --%s %s\n", mistake.word.c_str(), mistake.reason.c_str());
  return false;
}

int RunList(CliSession& session, const RecordsArgs& args) {
  RunFilter filter;
  if (!Filter(args, &filter)) return kExitUsage;
  int status = kExitFailed;
  std::unique_ptr<RecordSource> store = OpenRecordSource(session, &status);
  if (!store) return status;
  std::string why;
  std::vector<RunRecord> runs =
      args.json ? store->List(filter, &why) : store->Summaries(filter, &why);
  if (!why.empty()) {
    std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
    return kExitFailed;
  }
  for (const RunRecord& run : runs) Print(args.json ? RunRecordJson(run) : RunLine(run));
  return kExitOk;
}

int RunShow(CliSession& session, const RecordsArgs& args) {
  int status = kExitFailed;
  std::unique_ptr<RecordSource> store = OpenRecordSource(session, &status);
  if (!store) return status;
  std::string why;
  std::optional<RunRecord> run = store->Load(args.runId, &why);
  if (!run) {
    std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
    return kExitFailed;
  }
  Print(RunRecordJson(*run));
  std::optional<std::string> log = store->LogOf(run->runId);
  if (!log) {
    std::fprintf(stderr, "morlane-cli: the log of run %s cannot be read\n", run->runId.c_str());
    return kExitFailed;
  }
  Print(*log);
  return kExitOk;
}

int RunExport(CliSession& session, const RecordsArgs& args) {
  RunFilter filter;
  if (!Filter(args, &filter)) return kExitUsage;
  if (!args.xlsx.empty() && !WorkbooksSupported()) {
    std::fprintf(stderr, "morlane-cli: --xlsx: %s\n", WhyNoWorkbooks().c_str());
    return kExitUsage;
  }
  int status = kExitFailed;
  std::unique_ptr<RecordSource> store = OpenRecordSource(session, &status);
  if (!store) return status;
  std::string why;
  std::vector<RunRecord> runs = store->List(filter, &why);
  if (!why.empty()) {
    std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
    return kExitFailed;
  }
  if (args.xlsx.empty()) {
    Print(RunsCsv(runs));
    return kExitOk;
  }
  if (!WriteRunsWorkbook(runs, session.PathOf(args.xlsx), &why)) {
    std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

int RunYield(CliSession& session, const RecordsArgs& args) {
  RunFilter filter;
  if (!Filter(args, &filter)) return kExitUsage;
  YieldBy by = YieldBy::All;
  if (FilterMistake mistake; !ParseYieldBy(args.by, &by, &mistake)) {
    std::fprintf(stderr, "morlane-cli: --by %s\n", mistake.reason.c_str());
    return kExitUsage;
  }
  int status = kExitFailed;
  std::unique_ptr<RecordSource> store = OpenRecordSource(session, &status);
  if (!store) return status;
  std::string why;
  std::vector<YieldRow> runs = store->YieldRows(filter, &why);
  if (!why.empty()) {
    std::fprintf(stderr, "morlane-cli: %s\n", why.c_str());
    return kExitFailed;
  }
  std::vector<YieldFigures> groups = ComputeYield(runs, by);
  Print(args.json ? YieldJson(groups) : YieldTable(groups, by));
  return kExitOk;
}

// Sends every run of the outbox, those the server refused before among them; each run it
// refuses now is printed with its reason.
int RunPush(CliSession& session) {
  const std::string& url = session.Options().recordsDb;
  if (url.empty()) {
    std::fprintf(stderr,
                 "morlane-cli: records push needs --records-db URL (or MORLANE_RECORDS_DB)\n");
    return kExitUsage;
  }
  if (!LineAddressUsable(url)) return kExitUsage;
  std::unique_ptr<RecordStore> store = OpenStore(session, RecordStore::Mode::Update);
  if (!store) return kExitFailed;
  LineDatabase line(url);
  const Delivery delivery = line.SendBacklog(*store, -1, true);
  std::printf("%d runs sent\n", delivery.sent);
  std::string why;
  const std::vector<SetAsideRun> setAside = store->SetAsideRuns(&why);
  for (const SetAsideRun& run : setAside) {
    std::printf("%s refused: %s\n", run.runId.c_str(), run.reason.c_str());
  }
  std::fflush(stdout);
  int status = kExitOk;
  if (!delivery.error.empty()) {
    const size_t waiting = store->UnsentRunIds(&why).size();
    if (delivery.unreachable) {
      std::fprintf(stderr,
                   "morlane-cli: the line database cannot be reached at %s (%s); %zu runs "
                   "still wait\n",
                   line.Where().c_str(), delivery.error.c_str(), waiting);
    } else {
      std::fprintf(stderr, "morlane-cli: the line database %s: %s; %zu runs still wait\n",
                   line.Where().c_str(), delivery.error.c_str(), waiting);
    }
    status = kExitFailed;
  }
  if (!setAside.empty()) {
    std::fprintf(stderr,
                 "morlane-cli: the line database %s refused %zu runs; they stay set aside in the "
                 "records\n",
                 line.Where().c_str(), setAside.size());
    status = kExitFailed;
  }
  return status;
}

// Takes the runs a station could not keep in its store back into one, each once.
int RunImport(CliSession& session, const RecordsArgs& args) {
  std::unique_ptr<RecordStore> store = OpenStore(session, RecordStore::Mode::Write);
  if (!store) return kExitFailed;
  ImportCount count;
  std::string why;
  const bool imported = ImportRuns(session.PathOf(args.importFrom), *store, &count, &why);
  std::printf("%d runs imported, %d already in the store\n", count.added, count.present);
  std::fflush(stdout);
  if (!imported) {
    std::fprintf(stderr, "morlane-cli: records import %s: %s\n", args.importFrom.c_str(),
                 why.c_str());
    return kExitFailed;
  }
  return kExitOk;
}

// The value's name as the manual page and the shell's completion read it: the choices the
// parser of the filters takes.
std::string Choices(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
  return "TEXT:{" + text + "}";
}

void AddFilters(CLI::App& command, RecordsArgs& args, bool withLimit) {
  command.add_option("--unit", args.unit, "only the runs of this unit id")->type_name("ID");
  command.add_option("--result", args.result, "only runs with this result")
      ->type_name(Choices(ResultNames()));
  command.add_option("--station", args.station, "only runs of this station")->type_name("NAME");
  command
      .add_option("--release", args.release,
                  "only runs that took their images from a service package of this release")
      ->type_name("RELEASE");
  command.add_option("--since", args.since, "only runs started on or after DATE (YYYY-MM-DD)")
      ->type_name("DATE");
  command.add_option("--until", args.until, "only runs started on or before DATE (YYYY-MM-DD)")
      ->type_name("DATE");
  if (withLimit) {
    command.add_option("--limit", args.limit, "at most N runs, the newest")->type_name("N");
  }
}

}  // namespace

std::unique_ptr<RecordSource> OpenRecordSource(const CliSession& session, int* status) {
  const GlobalOptions& options = session.Options();
  if (options.records.empty() && !options.recordsDb.empty()) {
    if (!LineAddressUsable(options.recordsDb)) {
      *status = kExitUsage;
      return nullptr;
    }
    return std::make_unique<LineDatabase>(options.recordsDb);
  }
  *status = kExitFailed;
  return OpenStore(session, RecordStore::Mode::Read);
}

void RegisterRecordsCommands(CLI::App& app, CommandRunner& selected) {
  auto args = std::make_shared<RecordsArgs>();
  auto* records = app.add_subcommand("records", "What the station's record store holds");
  records->require_subcommand(1);

  auto* list = records->add_subcommand("list", "One line per run, newest first");
  AddFilters(*list, *args, true);
  list->add_flag("--json", args->json, "one whole run record per line");
  list->callback([&selected, args] {
    selected = [args](CliSession& session) { return RunList(session, *args); };
  });

  auto* show = records->add_subcommand("show", "A run's record as JSON, then its log");
  show->add_option("RUN_ID", args->runId, "the run")->required();
  show->callback([&selected, args] {
    selected = [args](CliSession& session) { return RunShow(session, *args); };
  });

  auto* exporting =
      records->add_subcommand("export", "One CSV row (or workbook row) per image of every run");
  CLI::Option* csv =
      exporting->add_flag("--csv", args->csv, "as CSV (RFC 4180, with a header line)");
  exporting
      ->add_option("--xlsx", args->xlsx,
                   "as a workbook written to FILE: ids as text, times as dates, a column per "
                   "step's seconds")
      ->type_name("FILE")
      ->excludes(csv);
  AddFilters(*exporting, *args, true);
  exporting->callback([&selected, args] {
    if (!args->csv && args->xlsx.empty()) {
      throw CLI::ValidationError("export", "give --csv, or --xlsx FILE");
    }
    selected = [args](CliSession& session) { return RunExport(session, *args); };
  });

  auto* push = records->add_subcommand(
      "push",
      "Send to --records-db every run not yet there; prints how many were sent, and each run "
      "the server refused with its reason");
  push->callback([&selected] { selected = [](CliSession& session) { return RunPush(session); }; });

  auto* importing = records->add_subcommand(
      "import",
      "Put the runs a station kept in its fallback folder (it could not keep them in its store) "
      "into the store, each once");
  importing->add_option("DIR", args->importFrom, "the fallback folder")->required();
  importing->callback([&selected, args] {
    selected = [args](CliSession& session) { return RunImport(session, *args); };
  });

  auto* yield = records->add_subcommand(
      "yield",
      "Runs, passed, failed, aborted, first-pass yield (and with --json final yield and retest "
      "rate), failures by step, run times");
  yield->add_option("--by", args->by, "one line per day, hour, station, slot or failed step")
      ->type_name(Choices(YieldGroupingNames()));
  AddFilters(*yield, *args, false);
  yield->add_flag("--json", args->json, "one JSON object per line");
  yield->callback([&selected, args] {
    selected = [args](CliSession& session) { return RunYield(session, *args); };
  });
}

}  // namespace morlane
