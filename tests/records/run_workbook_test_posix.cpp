// The workbook export as a spreadsheet reads it: unpacked as the zip it is, its cells seen
// as text, numbers and dates.
#include "records/run_workbook.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/process.h"

namespace morlane {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// One part of the workbook, read by Python's own zip reader.
std::string Part(const std::string& book, const std::string& part) {
  test::ProcessResult read = test::RunProcess(
      {"/usr/bin/python3", "-c",
       "import sys, zipfile; sys.stdout.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2])"
       ".decode())",
       book, part},
      "", 30);
  EXPECT_EQ(read.status, 0) << read.err;
  return read.out;
}

TEST(RunWorkbook, IdsStayTextTimesAreDatesAndNothingIsAFormula) {
  RunRecord run;
  run.runId = "20261208T091503Z-3f9a0c1d2b4e";
  run.station = "line1-st3";
  run.slot = "A";
  run.unitId = "0012345";
  run.started = "2026-12-08T10:15:03+01:00";
  run.ended = "2026-12-08T10:15:17+01:00";
  run.result = "fail";
  run.failedStep = "erase";
  ImageRecord image;
  image.file = "=HYPERLINK(\"http://x\",\"y\")";
  image.bytes = 33012;
  image.cpu = "master";
  image.result = "fail";
  image.step = "erase";
  image.seconds = {{"select", 0.25}, {"connect", 2.5}, {"erase", 5.125}};
  run.images = {image};
  RunRecord bare = run;
  bare.runId = "20261208T091504Z-000000000001";
  bare.images.clear();

  test::TempDir dir;
  std::string why;
  ASSERT_TRUE(WriteRunsWorkbook({run, bare}, dir.File("runs.xlsx"), &why)) << why;
  const std::string strings = Part(dir.File("runs.xlsx"), "xl/sharedStrings.xml");
  const std::string sheet = Part(dir.File("runs.xlsx"), "xl/worksheets/sheet1.xml");
  EXPECT_THAT(strings, HasSubstr("<t>0012345</t>"));
  EXPECT_THAT(strings, HasSubstr("=HYPERLINK("));
  EXPECT_THAT(sheet, Not(HasSubstr("<f>")));
  // The start as a date of the station's wall clock (8 December 2026, 10:15:03), styled.
  EXPECT_THAT(sheet, ::testing::ContainsRegex("<c r=\"B2\" s=\"[1-9]\"><v>46364\\.427"));
  // A column per step: erase's seconds under seconds_erase (column Z), none under check.
  EXPECT_THAT(strings, HasSubstr("<t>seconds_erase</t>"));
  EXPECT_THAT(sheet, HasSubstr("<c r=\"Z2\"><v>5.125</v></c>"));
  EXPECT_THAT(sheet, Not(HasSubstr("r=\"Y2\"")));
  EXPECT_THAT(sheet, HasSubstr("<row r=\"3\""));  // the run without an image keeps its row

  EXPECT_FALSE(WriteRunsWorkbook({run}, dir.File("no/such/folder/runs.xlsx"), &why));
  EXPECT_THAT(why, HasSubstr("cannot write"));
}

}  // namespace
}  // namespace morlane
