// The station's record store: every run kept, read back as it was written, by several
// stations at once; the figures a line is judged by.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "records/filter_words.h"
#include "records/record_report.h"
#include "records/record_store.h"
#include "support/process.h"
#include "ui/json_text.h"

namespace morlane {
namespace {

using ::testing::HasSubstr;

ImageRecord Image(const std::string& file, const std::string& result, const std::string& step) {
  ImageRecord image;
  image.file = file;
  image.sha256 = std::string(64, 'a');
  image.bytes = 1234;
  image.cpu = "master";
  image.result = result;
  image.step = step;
  image.closing = result == "pass" ? "unanswered" : "";
  image.seconds = {{"select", 0.155}, {"connect", 2.5}, {"erase", 1.25}};
  image.frames = 7;
  image.retries = 1;
  image.naks = 2;
  return image;
}

RunRecord MakeRun(const std::string& unit, int64_t startedMs, const std::string& result,
                  const std::string& step = "") {
  RunRecord run;
  run.runId = NewRunId(startedMs);
  run.station = "line1-st3";
  run.slot = "COM1";
  run.port = "/dev/ttyUSB0";
  run.portId = "0403:6001:A50285BI";
  if (!unit.empty()) run.unitId = unit;
  run.procedure = "auto";
  run.toolVersion = "1.0";
  run.startedMs = startedMs;
  run.endedMs = startedMs + 60000;
  run.started = "2026-12-08T11:05:03+01:00";
  run.ended = "2026-12-08T11:06:03+01:00";
  run.result = result;
  run.failedStep = step;
  run.images.push_back(Image("/images/prüf_master.bin", result, step));
  return run;
}

std::unique_ptr<RecordStore> Open(const std::string& folder) {
  std::string why;
  auto store = RecordStore::Open(folder, RecordStore::Mode::Write, &why);
  EXPECT_TRUE(store) << why;
  return store;
}

TEST(JsonTextTest, UnicodeNamesStayWhole) {
  EXPECT_EQ(JsonString("prüf_中文.bin"), "\"prüf_中文.bin\"");
  // An 8-bit text that is no UTF-8 still gives valid JSON: each such byte on its own.
  EXPECT_EQ(JsonString("\xfc"
                       "ber \xe4"),
            "\"\\u00fcber \\u00e4\"");
  // A surrogate encoded in three bytes and an overlong slash are not well-formed.
  EXPECT_EQ(JsonString("\xed\xa0\x80/\xc0\xaf"), "\"\\u00ed\\u00a0\\u0080/\\u00c0\\u00af\"");
  EXPECT_EQ(JsonString("a\"b\\\n\x01"), "\"a\\\"b\\\\\\n\\u0001\"");
  // What the line's database takes: always UTF-8, the same reading of stray bytes.
  EXPECT_EQ(Utf8Text(std::string("pr\xc3\xbc"
                                 "f \xfc\0!",
                                 9)),
            "pr\xc3\xbc"
            "f \xc3\xbc\xef\xbf\xbd!");
}

TEST(RunResultTest, AUnitsOwnFailureIsNeverAborted) {
  std::vector<ImageRecord> own = {Image("m.bin", "pass", ""), Image("s.bin", "fail", "erase")};
  EXPECT_EQ(RunResult(own, false, true), "fail");
  std::vector<ImageRecord> cut = {Image("m.bin", "pass", ""), Image("s.bin", "aborted", "burn")};
  EXPECT_EQ(RunResult(cut, false, true), "aborted");
  EXPECT_EQ(RunResult({Image("m.bin", "pass", "")}, false, true), "aborted");
  EXPECT_EQ(RunResult({Image("m.bin", "pass", "")}, true, false), "pass");
  // No image tried, nothing stopped: the port or the images were missing.
  EXPECT_EQ(RunResult({}, false, false), "fail");
}

TEST(RecordStoreTest, EveryRunIsKeptAndReadBackAsWritten) {
  test::TempDir dir;
  auto store = Open(dir.File("out"));
  RunRecord first = MakeRun("SN1", 1000, "fail", "erase");
  RunRecord second = MakeRun("", 2000, "pass");
  second.operatorName = "Anna";
  second.profile = std::string(64, 'b');
  ASSERT_TRUE(store->Commit(first, "line 1\nline 2\n", nullptr));
  ASSERT_TRUE(store->Commit(second, "", nullptr));

  std::string why;
  std::vector<RunRecord> runs = store->List(RunFilter{}, &why);
  ASSERT_EQ(runs.size(), 2u) << why;
  EXPECT_EQ(RunRecordJson(runs[0]), RunRecordJson(second));  // newest first
  EXPECT_EQ(RunRecordJson(runs[1]), RunRecordJson(first));
  EXPECT_THAT(RunRecordJson(first), HasSubstr("\"file\": \"/images/prüf_master.bin\""));
  EXPECT_THAT(RunRecordJson(first), HasSubstr("\"unit_id\": \"SN1\", \"operator\": null"));
  EXPECT_THAT(RunRecordJson(first),
              HasSubstr("\"seconds\": {\"select\": 0.155, \"connect\": 2.500, \"erase\": 1.250}, "
                        "\"link\": {\"frames\": 7, \"retries\": 1, \"naks\": 2}"));

  // The files beside the database, whole, and nothing half-written left behind.
  const std::string runs_dir = dir.File("out/runs");
  std::vector<uint8_t> json = dir.Read("out/runs/" + first.runId + ".json");
  EXPECT_EQ(std::string(json.begin(), json.end()), RunRecordJson(first));
  EXPECT_EQ(store->LogOf(first.runId), "line 1\nline 2\n");
  EXPECT_EQ(store->LogOf(second.runId), "");
  EXPECT_EQ(store->LogOf("../records.db"), std::nullopt);
  for (const auto& entry : std::filesystem::directory_iterator(runs_dir)) {
    EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
  }
  // A run id is kept once: the same run committed again is refused, not doubled.
  EXPECT_FALSE(store->Commit(first, "", &why));
  EXPECT_EQ(store->List(RunFilter{}, &why).size(), 2u);
}

TEST(RecordStoreTest, StationsShareAFolderAndANewerSchemaIsRefused) {
  test::TempDir dir;
  auto one = Open(dir.File("out"));
  auto two = Open(dir.File("out"));
  ASSERT_TRUE(one->Commit(MakeRun("SN1", 1000, "pass"), "", nullptr));
  ASSERT_TRUE(two->Commit(MakeRun("SN2", 2000, "pass"), "", nullptr));
  std::string why;
  EXPECT_EQ(one->List(RunFilter{}, &why).size(), 2u);
  one.reset();
  two.reset();

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(dir.File("out/records.db").c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "PRAGMA user_version=7", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_EQ(RecordStore::Open(dir.File("out"), RecordStore::Mode::Read, &why), nullptr);
  EXPECT_THAT(why, HasSubstr("schema version 7 is newer than this tool's (" +
                             std::to_string(RecordStore::kSchemaVersion) + ")"));

  EXPECT_EQ(RecordStore::Open(dir.File("nothing"), RecordStore::Mode::Read, &why), nullptr);
  EXPECT_THAT(why, HasSubstr("records.db not found"));
  // A folder that cannot take the runs' files is refused when the store opens.
  std::filesystem::create_directories(dir.File("blocked"));
  dir.Write("blocked/runs", std::string("a file where the folder should be"));
  EXPECT_EQ(RecordStore::Open(dir.File("blocked"), RecordStore::Mode::Write, &why), nullptr);
}

int UserVersion(const std::string& database) {
  sqlite3* db = nullptr;
  int version = -1;
  if (sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* read = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &read, nullptr);
    if (read && sqlite3_step(read) == SQLITE_ROW) version = sqlite3_column_int(read, 0);
    sqlite3_finalize(read);
  }
  sqlite3_close(db);
  return version;
}

// A reader writes nothing: a store of the first schema version is read as it is, not
// migrated, and a folder whose files are all read-only serves. A writer then brings it up
// to date, and its outbox sets a refused run aside without holding back the others.
TEST(RecordStoreTest, ReadersWriteNothingAndTheOutboxSetsRefusedRunsAside) {
  test::TempDir dir;
  const std::string database = dir.File("out/records.db");
  RunRecord first = MakeRun("SN1", 1000, "pass");
  RunRecord second = MakeRun("SN2", 2000, "fail", "erase");
  RunRecord third = MakeRun("SN3", 3000, "pass");
  {
    auto store = Open(dir.File("out"));
    for (const RunRecord* run : {&first, &second, &third}) {
      ASSERT_TRUE(store->Commit(*run, "", nullptr));
    }
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(database.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "DROP INDEX runs_by_start; ALTER TABLE runs DROP COLUMN step_seconds;"
                         "CREATE INDEX runs_by_start ON runs(started_ms, started, station, slot,"
                         " unit_id, result, failed_step, ended_ms);"
                         "ALTER TABLE runs DROP COLUMN refused; ALTER TABLE runs DROP COLUMN "
                         "package_file; ALTER TABLE runs DROP COLUMN package_sha256; ALTER TABLE "
                         "runs DROP COLUMN package_model; ALTER TABLE runs DROP COLUMN "
                         "package_release; ALTER TABLE runs DROP COLUMN package_signer; PRAGMA "
                         "user_version=1",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  const std::vector<uint8_t> before = dir.Read("out/records.db");

  std::string why;
  auto reader = RecordStore::Open(dir.File("out"), RecordStore::Mode::Read, &why);
  ASSERT_TRUE(reader) << why;
  EXPECT_EQ(reader->List(RunFilter{}, &why).size(), 3u) << why;
  // The figures' rows take each run's step seconds from its images there, and from the
  // run's own column once the writer has brought the store up to date.
  auto stepSeconds = [&why](RecordStore& store) {
    std::vector<YieldRow> rows = store.YieldRows(RunFilter{}, &why);
    return rows.empty() ? std::vector<std::pair<std::string, double>>{} : rows[0].stepSeconds;
  };
  EXPECT_EQ(stepSeconds(*reader), YieldRow::Of(first).stepSeconds) << why;
  reader.reset();
  EXPECT_EQ(dir.Read("out/records.db"), before);
  EXPECT_EQ(UserVersion(database), 1);

  auto writer = Open(dir.File("out"));
  ASSERT_TRUE(writer);
  EXPECT_EQ(UserVersion(database), RecordStore::kSchemaVersion);
  EXPECT_EQ(stepSeconds(*writer), YieldRow::Of(first).stepSeconds) << why;
  ASSERT_TRUE(writer->SetAside(first.runId, "unsupported Unicode escape sequence", &why)) << why;
  EXPECT_EQ(writer->UnsentRunIds(&why), (std::vector<std::string>{second.runId, third.runId}));
  EXPECT_EQ(writer->UnsentRunIds(&why, true, 2),
            (std::vector<std::string>{first.runId, second.runId}));
  std::vector<SetAsideRun> aside = writer->SetAsideRuns(&why);
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(aside[0].runId, first.runId);
  EXPECT_EQ(aside[0].reason, "unsupported Unicode escape sequence");
  // Taken at last: it is no longer set aside, nor waiting.
  ASSERT_TRUE(writer->MarkSent(first.runId, &why));
  EXPECT_TRUE(writer->SetAsideRuns(&why).empty());
  EXPECT_EQ(writer->UnsentRunIds(&why, true).size(), 2u);
}

// Read-only files in a read-only folder are read. Where the permissions bind nobody (an
// administrator's account), a file can still be made there and this proves nothing.
TEST(RecordStoreTest, AReadOnlyFolderIsRead) {
  test::TempDir dir;
  const std::string database = dir.File("out/records.db");
  {
    auto store = Open(dir.File("out"));
    ASSERT_TRUE(store->Commit(MakeRun("SN1", 1000, "pass"), "", nullptr));
  }
  namespace fs = std::filesystem;
  const auto readOnly = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  const auto folder =
      readOnly | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  fs::permissions(database, readOnly);
  fs::permissions(dir.File("out/runs"), folder);
  fs::permissions(dir.File("out"), folder);
  const bool binding = !std::ofstream(dir.File("out/probe")).is_open();
  std::string why;
  size_t runs = 0;
  if (binding) {
    auto reader = RecordStore::Open(dir.File("out"), RecordStore::Mode::Read, &why);
    if (reader) runs = reader->List(RunFilter{}, &why).size();
  }
  fs::permissions(dir.File("out"), fs::perms::owner_all, fs::perm_options::add);
  fs::permissions(dir.File("out/runs"), fs::perms::owner_all, fs::perm_options::add);
  if (!binding) GTEST_SKIP() << "permissions bind nobody here";
  EXPECT_EQ(runs, 1u) << why;
}

TEST(RecordStoreTest, FiltersTakeTheRunsAsked) {
  test::TempDir dir;
  auto store = Open(dir.File("out"));
  for (int i = 0; i < 6; ++i) {
    RunRecord run = MakeRun(i % 2 ? "SN-odd" : "SN-even", 1000 * (i + 1), i == 4 ? "fail" : "pass",
                            i == 4 ? "burn" : "");
    ASSERT_TRUE(store->Commit(run, "", nullptr));
  }
  std::string why;
  RunFilter filter;
  filter.unitId = "SN-even";
  filter.limit = 2;
  std::vector<RunRecord> runs = store->Summaries(filter, &why);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0].startedMs, 5000);
  EXPECT_EQ(runs[1].startedMs, 3000);
  EXPECT_TRUE(runs[0].images.empty());
  filter = RunFilter{};
  filter.result = "fail";
  EXPECT_EQ(store->Summaries(filter, &why).size(), 1u);
  filter = RunFilter{};
  filter.sinceMs = 2000;
  filter.untilMs = 4000;
  EXPECT_EQ(store->Summaries(filter, &why).size(), 2u);
}

TEST(RecordReportTest, YieldCountsUnitsByTheirFirstRun) {
  std::vector<YieldRow> runs;
  for (const RunRecord& run :
       {MakeRun("A", 1000, "fail", "erase"), MakeRun("A", 2000, "pass"), MakeRun("B", 3000, "pass"),
        MakeRun("", 4000, "aborted"), MakeRun("C", 5000, "fail", "verify")}) {
    runs.push_back(YieldRow::Of(run));
  }
  runs[1].endedMs = runs[1].startedMs + 30000;
  std::vector<YieldFigures> all = ComputeYield(runs, YieldBy::All);
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].runs, 5);
  EXPECT_EQ(all[0].passed, 2);
  EXPECT_EQ(all[0].failed, 2);
  EXPECT_EQ(all[0].aborted, 1);
  // A, B, C and the run without a unit id; only B passed at its first run.
  EXPECT_EQ(all[0].units, 4);
  EXPECT_EQ(all[0].firstPassUnits, 1);
  EXPECT_EQ(all[0].failuresByStep, (std::map<std::string, int>{{"erase", 1}, {"verify", 1}}));
  EXPECT_DOUBLE_EQ(all[0].medianSeconds, 60.0);
  EXPECT_DOUBLE_EQ(all[0].p95Seconds, 60.0);
  EXPECT_THAT(YieldTable(all, YieldBy::All), HasSubstr("25.0 %"));
  EXPECT_THAT(YieldJson(all), HasSubstr("\"first_pass_yield\": 0.2500"));
  // A passed at its second run and B at its first: 2 of 4 units passed in the end, and one
  // run of five was a unit tried again.
  EXPECT_EQ(all[0].finalPassUnits, 2);
  EXPECT_THAT(YieldJson(all), HasSubstr("\"final_yield\": 0.5000, \"retest_rate\": 0.2000"));

  std::vector<YieldFigures> bySteps = ComputeYield(runs, YieldBy::Step);
  ASSERT_EQ(bySteps.size(), 3u);  // "-", erase, verify
  EXPECT_EQ(bySteps[0].key, "-");
  EXPECT_EQ(bySteps[0].runs, 3);
}

TEST(RecordReportTest, StepTimesAddARunsImagesAndComeInTheOrderStepsRun) {
  test::TempDir dir;
  RunRecord both = MakeRun("A", 1000, "pass");
  both.images[0].seconds = {{"connect", 2.5}, {"burn", 1.0}};
  both.images.push_back(Image("/images/slave.bin", "pass", ""));
  both.images[1].seconds = {{"burn", 4.0}, {"connect", 0.5}};
  RunRecord failed = MakeRun("B", 2000, "fail", "erase");  // select, connect, erase
  auto store = Open(dir.File("out"));
  ASSERT_TRUE(store->Commit(both, "", nullptr));
  ASSERT_TRUE(store->Commit(failed, "", nullptr));
  std::string why;
  std::vector<YieldRow> kept = store->YieldRows(RunFilter{}, &why);
  ASSERT_EQ(kept.size(), 2u) << why;
  std::sort(kept.begin(), kept.end(), [](auto& a, auto& b) { return a.startedMs < b.startedMs; });
  EXPECT_EQ(kept[0].stepSeconds, YieldRow::Of(both).stepSeconds);
  EXPECT_EQ(kept[1].stepSeconds, YieldRow::Of(failed).stepSeconds);

  const std::vector<YieldFigures> all = ComputeYield(kept, YieldBy::All);
  std::vector<std::string> steps;
  for (const StepTimes& step : all[0].stepTimes) steps.push_back(step.step);
  EXPECT_EQ(steps, (std::vector<std::string>{"select", "connect", "erase", "burn"}));
  // connect: 3.0 s over both CPUs of one run, 2.5 s in the other.
  EXPECT_EQ(all[0].stepTimes[1].runs, 2);
  EXPECT_DOUBLE_EQ(all[0].stepTimes[1].medianSeconds, 2.75);
  EXPECT_DOUBLE_EQ(all[0].stepTimes[1].p95Seconds, 3.0);
  EXPECT_THAT(YieldJson(all),
              HasSubstr("\"burn\": {\"runs\": 1, \"median\": 5.000, \"p95\": 5.000}}"));
}

TEST(RecordReportTest, CsvQuotesAndKeepsRunsWithoutImages) {
  RunRecord run = MakeRun("SN,1", 1000, "pass");
  run.images[0].file = "/images/a \"b\", c.bin";
  RunRecord empty = MakeRun("SN2", 2000, "fail", "connect");
  empty.images.clear();
  std::string csv = RunsCsv({run, empty});
  EXPECT_THAT(csv, HasSubstr(",\"SN,1\","));
  EXPECT_THAT(csv, HasSubstr(",\"/images/a \"\"b\"\", c.bin\","));
  EXPECT_THAT(csv, HasSubstr(",fail,connect,,,,,,,,,,,,\r\n"));
  // One header and one row per image, every row with as many fields as the header.
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 3);
}

// A cell a spreadsheet would take for a formula is written as text.
TEST(RecordReportTest, CsvCellsNeverStartAFormula) {
  RunRecord run = MakeRun("=HYPERLINK(\"http://x\",\"y\")", 1000, "pass");
  run.operatorName = "-2+3+cmd|' /C calc'!A0";
  run.station = "@SUM(A1)";
  run.slot = "\tA";
  run.port = "\r/dev/ttyS0";
  run.images[0].file = "+1.bin";
  const std::string csv = RunsCsv({run});
  EXPECT_THAT(csv, HasSubstr(",\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\","));
  EXPECT_THAT(csv, HasSubstr(",'-2+3+cmd|' /C calc'!A0,"));
  EXPECT_THAT(csv, HasSubstr(",'@SUM(A1),'\tA,\"'\r/dev/ttyS0\","));
  EXPECT_THAT(csv, HasSubstr(",'+1.bin,"));
  // Times, digests and numbers stay as they are.
  EXPECT_THAT(csv, HasSubstr(",2026-12-08T11:05:03+01:00,"));
  EXPECT_EQ(csv.find(",'2"), std::string::npos);
}

TEST(RecordReportTest, DatesAreReadAsTheRecordsWriteThem) {
  int64_t seconds = 0;
  ASSERT_TRUE(ParseIsoTime("2026-12-08T11:05:03+01:00", &seconds));
  EXPECT_EQ(seconds, 1796724303);
  ASSERT_TRUE(ParseIsoTime("2026-12-08T10:05:03Z", &seconds));
  EXPECT_EQ(seconds, 1796724303);
  int64_t since = 0;
  int64_t until = 0;
  ASSERT_TRUE(ParseDate("2026-12-08", false, &since));
  ASSERT_TRUE(ParseDate("2026-12-08", true, &until));
  EXPECT_EQ(until - since, 86400 * 1000);
  EXPECT_FALSE(ParseDate("2026-02-30", false, &since));
  EXPECT_FALSE(ParseDate("yesterday", false, &since));
}

// The command line and the dashboard's queries read a filter's words one way: a value in
// any case, a limit only as digits within its bounds, and a mistake named by its word.
TEST(FilterWordsTest, AWordIsTakenOrNamedAsTheMistake) {
  auto with = [](std::vector<std::pair<std::string FilterWords::*, std::string>> given) {
    FilterWords words;
    for (const auto& [word, value] : given) words.*word = value;
    return words;
  };
  RunFilter filter;
  FilterMistake mistake;
  ASSERT_TRUE(ParseFilterWords(with({{&FilterWords::result, "FAIL"},
                                     {&FilterWords::since, "2026-12-08"},
                                     {&FilterWords::until, "2026-12-08"},
                                     {&FilterWords::limit, "0"}}),
                               &filter, &mistake));
  EXPECT_EQ(filter.result, "fail");
  EXPECT_EQ(filter.untilMs - filter.sinceMs, 86400 * 1000);
  EXPECT_EQ(filter.limit, 0);
  ASSERT_TRUE(ParseFilterWords(with({{&FilterWords::limit, "1000000000"}}), &filter, &mistake));
  EXPECT_EQ(filter.limit, kLimitMax);
  ASSERT_TRUE(ParseFilterWords({}, &filter, &mistake));
  EXPECT_EQ(filter.limit, -1);

  for (const auto& [word, value, named] :
       std::vector<std::tuple<std::string FilterWords::*, std::string, std::string>>{
           {&FilterWords::result, "passed", "result"},
           {&FilterWords::since, "2026-12-08T11:05:03", "since"},
           {&FilterWords::until, "2026-02-30", "until"},
           {&FilterWords::limit, "-1", "limit"},
           {&FilterWords::limit, "+5", "limit"},
           {&FilterWords::limit, "2.5", "limit"},
           {&FilterWords::limit, "1000000001", "limit"},
           {&FilterWords::limit, "99999999999999999999", "limit"}}) {
    EXPECT_FALSE(ParseFilterWords(with({{word, value}}), &filter, &mistake)) << value;
    EXPECT_EQ(mistake.word, named);
  }
  YieldBy by = YieldBy::All;
  EXPECT_TRUE(ParseYieldBy("Station", &by, &mistake));
  EXPECT_EQ(by, YieldBy::Station);
  EXPECT_TRUE(ParseYieldBy("", &by, &mistake));
  EXPECT_EQ(by, YieldBy::All);
  EXPECT_FALSE(ParseYieldBy("week", &by, &mistake));
  EXPECT_THAT(mistake.reason, HasSubstr("\"week\""));
}

}  // namespace
}  // namespace morlane
