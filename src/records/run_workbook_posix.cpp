#include "records/run_workbook.h"

#include <xlsxwriter.h>

#include <array>
#include <cstdio>

namespace morlane {

namespace {

// The steps a CPU's programming times, in the order they run.
constexpr std::array<const char*, 7> kSteps = {"select", "connect", "check", "erase",
                                               "burn",   "verify",  "close"};

// "2026-12-08T09:15:03+01:00" as the station's wall clock showed it: the workbook has no
// time zones, and the offset stays in the record.
bool WallClock(const std::string& iso, lxw_datetime* when) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (std::sscanf(iso.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &year, &month, &day, &hour, &minute,
                  &second) != 6) {
    return false;
  }
  *when = lxw_datetime{year, month, day, hour, minute, static_cast<double>(second)};
  return true;
}

class Sheet {
 public:
  Sheet(lxw_worksheet* sheet, lxw_format* date) : sheet_(sheet), date_(date) {}

  void Text(lxw_row_t row, lxw_col_t& col, const std::string& text) {
    if (!text.empty()) Check(worksheet_write_string(sheet_, row, col, text.c_str(), nullptr));
    ++col;
  }
  void Number(lxw_row_t row, lxw_col_t& col, double value) {
    Check(worksheet_write_number(sheet_, row, col, value, nullptr));
    ++col;
  }
  void Date(lxw_row_t row, lxw_col_t& col, const std::string& iso) {
    lxw_datetime when{};
    if (WallClock(iso, &when)) {
      Check(worksheet_write_datetime(sheet_, row, col, &when, date_));
      ++col;
    } else {
      Text(row, col, iso);
    }
  }
  lxw_error Error() const { return error_; }

 private:
  void Check(lxw_error error) {
    if (error != LXW_NO_ERROR && error_ == LXW_NO_ERROR) error_ = error;
  }

  lxw_worksheet* sheet_;
  lxw_format* date_;
  lxw_error error_ = LXW_NO_ERROR;
};

}  // namespace

bool WorkbooksSupported() {
  return true;
}

std::string WhyNoWorkbooks() {
  return {};
}

bool WriteRunsWorkbook(const std::vector<RunRecord>& runs, const std::string& path,
                       std::string* why) {
  lxw_workbook* book = workbook_new(path.c_str());
  if (!book) {
    *why = "cannot write " + path;
    return false;
  }
  lxw_worksheet* worksheet = workbook_add_worksheet(book, "runs");
  lxw_format* date = workbook_add_format(book);
  format_set_num_format(date, "yyyy-mm-dd hh:mm:ss");
  Sheet sheet(worksheet, date);

  lxw_col_t col = 0;
  for (const char* name :
       {"run_id",       "started",     "ended",    "station",   "slot",         "port",
        "port_id",      "unit_id",     "operator", "procedure", "tool_version", "profile",
        "result",       "failed_step", "file",     "sha256",    "bytes",        "cpu",
        "image_result", "step",        "skipped",  "closing"}) {
    sheet.Text(0, col, name);
  }
  for (const char* step : kSteps) sheet.Text(0, col, std::string("seconds_") + step);
  for (const char* name : {"frames", "retries", "naks"}) sheet.Text(0, col, name);
  worksheet_set_column(worksheet, 1, 2, 20, nullptr);

  lxw_row_t row = 1;
  // A run that tried no image still has its row.
  const std::vector<ImageRecord> none(1);
  for (const RunRecord& run : runs) {
    for (const ImageRecord& image : run.images.empty() ? none : run.images) {
      col = 0;
      sheet.Text(row, col, run.runId);
      sheet.Date(row, col, run.started);
      sheet.Date(row, col, run.ended);
      for (const std::string* text : {&run.station, &run.slot, &run.port, &run.portId}) {
        sheet.Text(row, col, *text);
      }
      sheet.Text(row, col, run.unitId.value_or(""));
      sheet.Text(row, col, run.operatorName.value_or(""));
      sheet.Text(row, col, run.procedure);
      sheet.Text(row, col, run.toolVersion);
      sheet.Text(row, col, run.profile.value_or(""));
      sheet.Text(row, col, run.result);
      sheet.Text(row, col, run.failedStep);
      if (run.images.empty()) {
        ++row;
        continue;
      }
      sheet.Text(row, col, image.file);
      sheet.Text(row, col, image.sha256);
      if (image.bytes >= 0) {
        sheet.Number(row, col, static_cast<double>(image.bytes));
      } else {
        ++col;
      }
      sheet.Text(row, col, image.cpu);
      sheet.Text(row, col, image.result);
      sheet.Text(row, col, image.step);
      sheet.Text(row, col, image.skipped ? "true" : "false");
      sheet.Text(row, col, image.closing);
      for (const char* step : kSteps) {
        bool timed = false;
        for (const auto& [name, seconds] : image.seconds) {
          if (name == step && !timed) {
            sheet.Number(row, col, seconds);
            timed = true;
          }
        }
        if (!timed) ++col;
      }
      sheet.Number(row, col, image.frames);
      sheet.Number(row, col, image.retries);
      sheet.Number(row, col, image.naks);
      ++row;
    }
  }
  const lxw_error written = sheet.Error();
  const lxw_error closed = workbook_close(book);
  if (written != LXW_NO_ERROR || closed != LXW_NO_ERROR) {
    *why = "cannot write " + path + ": " + lxw_strerror(written != LXW_NO_ERROR ? written : closed);
    std::remove(path.c_str());
    return false;
  }
  return true;
}

}  // namespace morlane
