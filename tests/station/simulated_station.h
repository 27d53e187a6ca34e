#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "flash/test_image_maker.h"
#include "link/sha256.h"
#include "records/record_store.h"
#include "sim/host_platform.h"
#include "station/station.h"
#include "station/station_setup.h"
#include "support/process.h"

namespace morlane::test {

// What the station views' tests drive: two slots, A and B, on simulated units (B's refuses
// its erase), tiny approved images and the records in dir. Open() says why it failed.
class SimulatedStation {
 public:
  explicit SimulatedStation(const TempDir& dir) : dir_(dir) {}

  ::testing::AssertionResult Open() {
    dir_.Write("master.bin", MakeInverterImage({{0x2010, Words(2, 1)}}));
    dir_.Write("slave.bin", MakeInverterImage({{0x0100, Words(2, 2)}}));
    StationProfile profile;
    profile.procedure = "auto";
    for (const char* name : {"master.bin", "slave.bin"}) {
      profile.images.push_back({name, dir_.File(name), FileSha256(dir_.File(name))});
    }
    profile.slots = {{"A", "COM1"}, {"B", "COM2"}};
    std::string why;
    if (!platform_.StartUnits(2, {}, &why) || !platform_.ApplyFaults({"2:refuse-erase"}, &why)) {
      return ::testing::AssertionFailure() << why;
    }
    store_ = RecordStore::Open(dir_.File("out"), RecordStore::Mode::Write, &why);
    if (!store_) return ::testing::AssertionFailure() << why;
    station_ =
        std::make_unique<Station>(profile, platform_.Ports(), SlotPorts(profile, platform_.Ports()),
                                  *store_, StationIdentity{"line1", std::nullopt});
    return ::testing::AssertionSuccess();
  }

  Station& Engine() { return *station_; }
  RecordStore& Records() { return *store_; }

 private:
  const TempDir& dir_;
  sim::HostPlatform platform_;
  std::unique_ptr<RecordStore> store_;
  std::unique_ptr<Station> station_;
};

}  // namespace morlane::test
