// What a scanner's lines do to a station's slots, before any unit runs.
#include "station/station.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "flash/test_image_maker.h"
#include "link/sha256.h"
#include "sim/host_platform.h"
#include "sim/sim_unit.h"
#include "station/station_setup.h"
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
  std::unique_ptr<Station> Make(const std::string& start, StationProfile profile = {}) {
    std::string why;
    store = RecordStore::Open(dir.Path(), RecordStore::Mode::Write, &why);
    EXPECT_TRUE(store) << why;
    profile.procedure = "auto";
    profile.start = start;
    std::vector<StationPort> slots;
    for (int i = 1; i <= 2; ++i) {
      const std::string name(1, static_cast<char>('A' + i - 1));
      profile.slots.push_back({name, "/dev/null"});
      slots.push_back(StationPort{i, name, "/dev/null", i});
    }
    auto station = std::make_unique<Station>(profile, ports, slots, *store,
                                             StationIdentity{"s", std::nullopt});
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
  EXPECT_EQ(station->Scan("SN 2"),
            "the label \"SN 2\" holds a space, and SN names no slot: not "
            "started");
  EXPECT_EQ(station->Scan("B SN2 x"), "\"B SN2 x\" is no scan: give UNIT_ID or SLOT UNIT_ID");
  EXPECT_EQ(station->Scan("A " + std::string(129, '7')),
            "a label of 129 characters is no unit id (at most 128): not started");
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
// A unit id is printable text in any script, up to a label's 128 characters; a control
// character would play on the operator's terminal, so it is refused and never said back.
TEST_F(StationScans, UnitIdsArePrintableText) {
  std::unique_ptr<Station> station = Make("presence");
  EXPECT_EQ(station->Scan("SN\x1b]0;PWNED\x07"), "a unit id with control characters: not started");
  EXPECT_EQ(station->Scan("A SN\xc2\x85"), "a unit id with control characters: not started");
  EXPECT_EQ(station->Scan("SN\xff"), "a unit id that is not UTF-8 text: not started");
  std::string wide;
  for (int i = 0; i < 128; ++i) wide += "\xe5\x8f\xb7";  // 128 characters, 384 bytes
  EXPECT_EQ(station->Scan(wide), "");
  EXPECT_EQ(station->Scan("B " + wide + "\xe5\x8f\xb7"),
            "a label of 129 characters is no unit id (at most 128): not started");
  EXPECT_EQ(station->Scan("B J\xc3\xbcrgen-<h1>&1</h1>"), "");
}

// The line's rules: the unit ids it takes, a unit that passed here before, the badge.
TEST_F(StationScans, TheProfilesRulesDecideWhatAScanStarts) {
  StationProfile profile;
  profile.unitIdPattern = "SN-[0-9]{4}";
  profile.rescan = "refuse";
  profile.operatorPrefix = "OP:";
  std::unique_ptr<Station> station = Make("scan", profile);
  auto run = [](const char* where, const char* unit, const char* result) {
    RunRecord record;
    record.runId = std::string(where) + unit;
    record.station = where;
    record.unitId = unit;
    record.result = result;
    record.started = "2026-12-09T06:01:02+01:00";
    return record;
  };
  // Another station may share the folder; a unit that failed here comes back reworked.
  const std::vector<RunRecord> runs = {run("s", "SN-1000", "pass"), run("other", "SN-2000", "pass"),
                                       run("s", "SN-3000", "fail")};
  std::string why;
  ASSERT_TRUE(store->ImportRuns(runs, &why)) << why;

  // As a whole: a longer id holding a match is no match.
  EXPECT_EQ(station->Scan("SN-10000"),
            "SN-10000 does not match unit_id_pattern \"SN-[0-9]{4}\": not started");
  EXPECT_EQ(station->Scan("SN-1000"),
            "SN-1000 passed here before (2026-12-09T06:01:02+01:00): not started (rescan = "
            "\"refuse\")");
  EXPECT_EQ(station->Scan("  OP:Anna Lee\r"), "");
  EXPECT_EQ(station->Operator(), "Anna Lee");
  EXPECT_THAT(remarks, HasSubstr("operator: Anna Lee"));
  EXPECT_EQ(station->Scan("SN-2000"), "");
  EXPECT_EQ(station->Scan("SN-3000"), "");
  EXPECT_FALSE(station->View()[0].unitId.has_value());  // a badge started nothing
  EXPECT_EQ(station->View()[0].nextId, "SN-2000");
  station->Finish();

  station.reset();
  profile.rescan = "warn";
  remarks.clear();
  station = Make("scan", profile);
  EXPECT_EQ(station->Scan("B SN-1000"), "");
  EXPECT_THAT(remarks, HasSubstr("B: warning: SN-1000 passed here before"));
  station->Finish();
}

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

// Counts the opens of the ports it hands on.
class CountedPorts : public SerialPortFactory {
 public:
  explicit CountedPorts(SerialPortFactory& ports) : ports_(ports) {}
  std::unique_ptr<SerialPort> Open(int com, PortOpenError* error) override {
    ++opens;
    return ports_.Open(com, error);
  }
  std::string PathOf(int com) const override { return ports_.PathOf(com); }
  std::atomic<int> opens{0};

 private:
  SerialPortFactory& ports_;
};

// A station started by its units' presence, with two tiny approved images in dir.
StationProfile PresenceProfile(const test::TempDir& dir) {
  dir.Write("master.bin", test::MakeInverterImage({{0x2010, test::Words(2, 1)}}));
  dir.Write("slave.bin", test::MakeInverterImage({{0x0100, test::Words(2, 2)}}));
  StationProfile profile;
  profile.procedure = "auto";
  profile.start = "presence";
  for (const char* name : {"master.bin", "slave.bin"}) {
    profile.images.push_back({name, dir.File(name), FileSha256(dir.File(name))});
  }
  return profile;
}

// A unit that brings its own USB port makes it appear when it is plugged in; a port that
// another program holds is no port the slot can ever use.
class PluggedPorts : public SerialPortFactory {
 public:
  explicit PluggedPorts(SerialPortFactory& ports) : ports_(ports) {}
  std::unique_ptr<SerialPort> Open(int com, PortOpenError* error) override {
    if (com == 1 && !plugged) {
      if (error) *error = PortOpenError::NotFound;
      return nullptr;
    }
    if (com == 2) {
      if (error) *error = PortOpenError::Busy;
      return nullptr;
    }
    return ports_.Open(com, error);
  }
  std::string PathOf(int com) const override { return ports_.PathOf(com); }
  std::atomic<bool> plugged{false};

 private:
  SerialPortFactory& ports_;
};

TEST(StationPresence, APortNotThereYetWaitsAndOneHeldElsewhereIsOutOfService) {
  test::TempDir dir;
  StationProfile profile = PresenceProfile(dir);
  profile.slots = {{"A", "/dev/ttyACM0"}, {"B", "/dev/ttyACM1"}};
  sim::HostPlatform platform;
  std::string why;
  ASSERT_TRUE(platform.StartUnits(2, {}, &why)) << why;
  PluggedPorts ports(platform.Ports());
  std::unique_ptr<RecordStore> store =
      RecordStore::Open(dir.File("out"), RecordStore::Mode::Write, &why);
  ASSERT_TRUE(store) << why;
  Station station(profile, ports, SlotPorts(profile, ports), *store, {"s", std::nullopt});
  station.presencePeriodMs = 20;
  station.presenceAnswerMs = 30;
  std::mutex mutex;
  std::string remarks;
  station.onRemark = [&](const std::string& text) {
    std::lock_guard lock(mutex);
    remarks += text + "\n";
  };
  std::atomic<int> passed{0};
  station.onNotice = [&passed](const std::string& line) {
    if (line.find("PASS") != std::string::npos) ++passed;
  };
  station.Start();
  {
    std::lock_guard lock(mutex);
    EXPECT_THAT(remarks, HasSubstr("A: " + ports.PathOf(1) +
                                   " is not there yet: the slot waits for its unit"));
    EXPECT_THAT(remarks, HasSubstr("B: out of service: its port " + ports.PathOf(2) +
                                   " is held by another program"));
  }
  std::vector<SlotView> views = station.View();
  EXPECT_EQ(views[0].phase, SlotPhase::Idle);
  EXPECT_EQ(views[1].phase, SlotPhase::OutOfService);
  EXPECT_EQ(station.Scan("B SN2"), "slot B is out of service (" + ports.PathOf(2) +
                                       ": held by another program): SN2 not started");

  ports.plugged = true;
  for (int i = 0; i < 600 && passed.load() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(passed.load(), 1);
  station.Finish();
  station.Join();
}

// An idle slot asks for its unit many times a shift: every open of a real port sets the
// adapter's control lines again, so the port stays open between the asks and is given up
// only for the unit's own run.
TEST(StationPresence, AnIdleSlotAsksOnAPortItKeepsOpen) {
  test::TempDir dir;
  StationProfile profile = PresenceProfile(dir);
  profile.slots = {{"A", "/dev/null"}};
  sim::HostPlatform platform;
  std::string why;
  ASSERT_TRUE(platform.StartUnits(1, {}, &why)) << why;
  platform.SimulatedUnit(1)->Faults().takenOut = true;
  CountedPorts ports(platform.Ports());
  std::unique_ptr<RecordStore> store =
      RecordStore::Open(dir.File("out"), RecordStore::Mode::Write, &why);
  ASSERT_TRUE(store) << why;
  Station station(profile, ports, SlotPorts(profile, ports), *store, {"s", std::nullopt});
  station.presencePeriodMs = 20;
  station.presenceAnswerMs = 30;
  std::atomic<int> ended{0};
  std::atomic<int> started{0};
  station.onNotice = [&ended, &started](const std::string& line) {
    if (line.find("PASS") != std::string::npos) ++ended;
    if (line.find("started") != std::string::npos) ++started;
  };
  station.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(600));  // a dozen asks
  EXPECT_EQ(ports.opens.load(), 1);

  platform.SimulatedUnit(1)->Faults().takenOut = false;
  for (int i = 0; i < 600 && ended.load() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(ended.load(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Its run opened the port for itself; the asks after it opened it once more.
  const int afterRun = ports.opens.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(ports.opens.load(), afterRun);
  EXPECT_EQ(ended.load(), 1);  // still in its fixture: not started again
  // Silent for a few asks, as a unit busy after its reset may be: not taken out yet.
  platform.SimulatedUnit(1)->Faults().takenOut = true;
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  platform.SimulatedUnit(1)->Faults().takenOut = false;
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(started.load(), 1);
  station.Finish();
  station.Join();
}

}  // namespace
}  // namespace morlane
