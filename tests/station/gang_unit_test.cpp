// A unit of a station on a port the dialog's own search of COM1 to COM32 would not reach.
#include "station/gang_unit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "flash/test_image_maker.h"
#include "sim/host_platform.h"
#include "support/process.h"
#include "ui/event_file.h"

namespace morlane {
namespace {

using ::testing::HasSubstr;

TEST(GangUnit, UnitOnComFortyFiveIsProgrammedAndKeptUnderThatName) {
  test::TempDir dir;
  dir.Write("Master.bin", test::MakeInverterImage({{0x2010, test::Words(4, 0x1200)}}));
  dir.Write("Slave.bin", test::MakeInverterImage({{0x0100, test::Words(3, 0x6000)}}));
  sim::HostPlatform platform;
  std::string why;
  ASSERT_TRUE(platform.StartUnits(1, {}, &why)) << why;
  std::unique_ptr<RecordStore> store =
      RecordStore::Open(dir.Path(), RecordStore::Mode::Write, &why);
  ASSERT_TRUE(store) << why;

  GangControl control;
  GangUnit unit(StationPort{1, "COM45", platform.Ports().PathOf(1)}, platform.Ports(), control);
  std::string log;
  unit.onLine = [&log](const std::string& name, std::string_view line) {
    log += name + ": " + std::string(line) + "\n";
  };
  EXPECT_TRUE(unit.Run(GangJob{.procedure = "auto"}, dir.Path(), *store, {"line1", std::nullopt}))
      << log;
  EXPECT_THAT(log, HasSubstr("COM45: Com45 is opened"));
  EXPECT_EQ(unit.record.slot, "COM45");
  EXPECT_EQ(unit.record.result, "pass");

  // The next unit is programmed, but its run cannot be written: it has not passed, and
  // everything that shows it says so alike.
  std::filesystem::remove_all(dir.File("runs"));
  dir.Write("runs", std::string("a file where the runs folder should be"));
  std::FILE* events = std::tmpfile();
  ASSERT_NE(events, nullptr);
  EventFile eventFile(events);
  unit.events = &eventFile;
  EXPECT_FALSE(unit.Run(GangJob{.procedure = "auto"}, dir.Path(), *store, {"line1", std::nullopt}));
  EXPECT_EQ(unit.record.result, "fail");
  EXPECT_EQ(unit.record.failedStep, "record");
  EXPECT_EQ(unit.View().verdict, "FAIL at record");
  std::string written(1 << 20, '\0');
  std::rewind(events);
  written.resize(std::fread(written.data(), 1, written.size(), events));
  std::fclose(events);
  EXPECT_THAT(written, HasSubstr("\"result\":\"fail\",\"failed_step\":\"record\",\"exit\":1"));
}

}  // namespace
}  // namespace morlane
