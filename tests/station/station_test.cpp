// What a scanner's lines do to a station's slots, before any unit runs.
#include "station/station.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/process.h"

namespace morlane {
namespace {

using ::testing::HasSubstr;

// No port opens: these scans never reach a unit.
class NoPorts : public SerialPortFactory {
 public:
  std::unique_ptr<SerialPort> Open(int, PortOpenError* error) override {
    if (error) *error = PortOpenError::NotFound;
    return nullptr;
  }
  std::string PathOf(int) const override { return "/dev/null"; }
};

class StationScans : public ::testing::Test {
 protected:
  std::unique_ptr<Station> Make(const std::string& start) {
    std::string why;
    store = RecordStore::Open(dir.Path(), RecordStore::Mode::Write, &why);
    EXPECT_TRUE(store) << why;
    StationProfile profile;
    profile.procedure = "auto";
    profile.start = start;
    std::vector<StationPort> slots;
    for (int i = 1; i <= 2; ++i) {
      const std::string name(1, static_cast<char>('A' + i - 1));
      profile.slots.push_back({name, "/dev/null"});
      slots.push_back(StationPort{i, name, "/dev/null", i});
    }
    auto station = std::make_unique<Station>(profile, ports, slots, *store, StationIdentity{"s", std::nullopt});
    station->onRemark = [this](const std::string& text) { remarks += text + "\n"; };
    return station;
  }

  test::TempDir dir;
  std::unique_ptr<RecordStore> store;
  NoPorts ports;
  std::string remarks;
};

TEST_F(StationScans, EachUnitGoesToOneFreeSlotOnce) {
  std::unique_ptr<Station> station = Make("scan");
  EXPECT_EQ(station->Scan("SN1"), "");
  EXPECT_EQ(station->Scan("  \r"), "");  // an empty line is no scan
  EXPECT_EQ(station->Scan("SN1"), "SN1 is already on slot A");
  EXPECT_EQ(station->Scan("A SN2"), "slot A is busy with SN1: SN2 not started");
  EXPECT_EQ(station->Scan("C SN2"), "no slot \"C\" in the profile: SN2 not started");
  EXPECT_EQ(station->Scan("B SN2 x"), "\"B SN2 x\" is no scan: give UNIT_ID or SLOT UNIT_ID");
  EXPECT_EQ(station->Scan("SN2\r"), "");
  EXPECT_EQ(station->Scan("SN3"), "no slot is free: SN3 not started");
  std::vector<SlotView> view = station->View();
  EXPECT_EQ(view[0].nextId, "SN1");
  EXPECT_EQ(view[1].nextId, "SN2");
  EXPECT_TRUE(station->Busy());
  station->Finish();
  EXPECT_THAT(remarks, HasSubstr("A: SN1 not started: the station is stopping"));
  EXPECT_EQ(station->Scan("SN4"), "the station is stopping: SN4 not started");
  EXPECT_FALSE(station->Busy());
}

// With presence alone a scan names the unit that will come; it starts nothing by itself.
TEST_F(StationScans, PresenceTakesTheScanForTheNextUnit) {
  std::unique_ptr<Station> station = Make("presence");
  EXPECT_EQ(station->Scan("SN1"), "");
  EXPECT_EQ(station->Scan("SN2"), "");
  EXPECT_FALSE(station->Busy());
  EXPECT_EQ(station->Scan("A SN3"), "");
  EXPECT_THAT(remarks, HasSubstr("A: SN3 replaces SN1"));
  EXPECT_EQ(station->Scan("SN4"), "no slot is free: SN4 not started");
  EXPECT_EQ(station->View()[0].nextId, "SN3");
}

}  // namespace
}  // namespace morlane
