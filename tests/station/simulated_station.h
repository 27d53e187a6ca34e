#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "flash/test_image_maker.h"
#include "link/sha256.h"
#include "records/record_store.h"
#include "sim/host_platform.h"
#include "station/station.h"
#include "station/station_setup.h"
#include "station/station_shift.h"
#include "support/process.h"

namespace morlane::test {

// What the station views' tests drive: a window's shift of two slots, A and B, on simulated
// units (B's refuses its erase), tiny approved images and the records in dir, the line's
// database at recordsDb when given. Open() says why it failed.
class SimulatedStation {
 public:
  explicit SimulatedStation(const TempDir& dir) : dir_(dir) {}

  ::testing::AssertionResult Open(const std::string& recordsDb = "") {
    dir_.Write("master.bin", MakeInverterImage({{0x2010, Words(2, 1)}}));
    dir_.Write("slave.bin", MakeInverterImage({{0x0100, Words(2, 2)}}));
    StationProfile profile;
    profile.procedure = "auto";
    for (const char* name : {"master.bin", "slave.bin"}) {
      profile.images.push_back({name, dir_.File(name), FileSha256(dir_.File(name))});
    }
    profile.slots = {{"A", "COM1"}, {"B", "COM2"}};
    profile.station = "line1";
    profile.records = dir_.File("out");
    profile.recordsDb = recordsDb;
    profile.instructions = instructions;
    std::string why;
    if (!platform_.StartUnits(2, {}, &why) || !platform_.ApplyFaults({"2:refuse-erase"}, &why)) {
      return ::testing::AssertionFailure() << why;
    }
    shift_ = StationShift::Open(profile, platform_.Ports(), "", std::nullopt, &why);
    if (!shift_) return ::testing::AssertionFailure() << why;
    return ::testing::AssertionSuccess();
  }

  // The profile's [instructions], step to what the operator does with a unit failed there;
  // set before Open().
  std::map<std::string, std::string> instructions;

  Station& Engine() { return shift_->Engine(); }
  RecordStore& Records() { return shift_->Records(); }

 private:
  const TempDir& dir_;
  sim::HostPlatform platform_;
  std::unique_ptr<StationShift> shift_;
};

}  // namespace morlane::test
