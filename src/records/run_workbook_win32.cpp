#include "records/run_workbook.h"

namespace morlane {

// The Windows build carries no workbook writer: the CSV export opens in any spreadsheet.
bool WorkbooksSupported() {
  return false;
}

std::string WhyNoWorkbooks() {
  return "this Windows build cannot write workbooks: export with --csv";
}

bool WriteRunsWorkbook(const std::vector<RunRecord>&, const std::string&, std::string* why) {
  *why = WhyNoWorkbooks();
  return false;
}

}  // namespace morlane
