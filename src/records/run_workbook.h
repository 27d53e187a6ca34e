#pragma once

#include <string>
#include <vector>

#include "records/run_record.h"

namespace morlane {

// Whether this build can write workbooks; WhyNoWorkbooks says what it lacks.
bool WorkbooksSupported();
std::string WhyNoWorkbooks();

// The rows of the CSV export as a workbook at path: one row per image of every run, after a
// header row. Run ids, unit ids and every other text are text cells, never numbers or
// formulas (0012345 keeps its zeros, "=HYPERLINK(...)" stays words); the start and end are
// dates; each step's seconds has a column of its own. False, with why, when the file cannot
// be written.
bool WriteRunsWorkbook(const std::vector<RunRecord>& runs, const std::string& path,
                       std::string* why);

}  // namespace morlane
