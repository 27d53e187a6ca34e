#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "flash/test_image_maker.h"
#include "link/sha256.h"
#include "support/window_station.h"

namespace morlane::test {

namespace {

using ::testing::HasSubstr;

// Tiny images: every frame costs the bootloader's 200 ms.
const std::vector<ImageSection> kMaster = {{0x2010, Words(3, 0x4000)}};
const std::vector<ImageSection> kSlave = {{0x0100, Words(2, 0x6000)}};
const std::vector<ImageSection> kOtherSlave = {{0x0100, Words(2, 0x6001)}};

int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// Waits until the window's events hold what at least times; false after seconds.
bool WaitForEvents(const Background& window, const std::string& what, int times, int seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (Count(window.Text("events.ndjson"), what) >= times) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace

WindowStationShift::WindowStationShift(const TempDir& dir, SimProcess& a, SimProcess& b,
                                       const std::vector<std::string>& ports)
    : dir_(dir), a_(a), b_(b) {
  dir.Write("master.bin", MakeInverterImage(kMaster));
  dir.Write("slave.bin", MakeInverterImage(kSlave));
  dir.Write("line1.toml",
            "station = \"line1-st3\"\nprocedure = \"auto\"\nstart = \"presence\"\n"
            "presence_absent_s = 1\n"
            "records = \"out\"\nimages = [ { file = \"master.bin\", sha256 = \"" +
                FileSha256(dir.File("master.bin")) + "\" }, { file = \"slave.bin\", sha256 = \"" +
                FileSha256(dir.File("slave.bin")) +
                "\" } ]\n[[slot]]\nname = " + "\"A\"\nport = \"" + ports.at(0) +
                "\"\n[[slot]]\nname = \"B\"\nport = \"" + ports.at(1) + "\"\n");
}

std::vector<std::string> WindowStationShift::WindowArguments() const {
  return {"--station", "line1.toml", "--events", "events.ndjson",
          "--scan",    "A SN-A",     "--scan",   "B SN-B"};
}

void WindowStationShift::Drive(Background& window, const std::function<void()>& stop) {
  a_.Control("in");
  ASSERT_TRUE(WaitForEvents(window, "\"type\":\"run_ended\",\"unit\":\"A\"", 1, 90))
      << window.Text("stderr");

  a_.Control("out");
  // Taken out for longer than the station's two silent asks over 2 s, with room for a
  // slow ask under Wine: a shorter absence can be missed, and the unit is then never
  // started again.
  std::this_thread::sleep_for(std::chrono::milliseconds(4500));
  a_.Control("in");
  // The second run's first image event comes after every image of the unit was read.
  ASSERT_TRUE(WaitForEvents(window, "\"type\":\"image\",\"unit\":\"A\"", 3, 30))
      << window.Text("stderr");
  dir_.Write("slave.bin", MakeInverterImage(kOtherSlave));
  b_.Control("in");
  ASSERT_TRUE(WaitForEvents(window, "\"type\":\"run_ended\",\"unit\":\"B\"", 1, 30))
      << window.Text("stderr");
  EXPECT_EQ(Count(window.Text("events.ndjson"), "\"type\":\"run_ended\",\"unit\":\"A\""), 1)
      << "A's second unit should still run";
  stop();
  EXPECT_EQ(window.Wait(90), 0) << window.Text("stderr");

  EXPECT_THAT(b_.Stop(), HasSubstr("cpu M: erased 0 times, 0 program frames"));
  const std::string aReport = a_.Stop();
  EXPECT_THAT(aReport, HasSubstr("cpu M: erased 2 times"));
  EXPECT_THAT(aReport, HasSubstr("cpu S: erased 2 times"));

  const std::vector<std::string> runs = records();
  ASSERT_EQ(runs.size(), 3u);
  // Newest first by their start: B's unit started while A's second ran.
  EXPECT_THAT(runs[0], HasSubstr("\"unit_id\": \"SN-B\""));
  EXPECT_THAT(runs[0], HasSubstr("\"result\": \"fail\", \"failed_step\": \"image\""));
  EXPECT_THAT(runs[1], HasSubstr("\"slot\": \"A\""));
  EXPECT_THAT(runs[1], HasSubstr("\"unit_id\": null"));
  EXPECT_THAT(runs[1], HasSubstr("\"result\": \"pass\""));
  EXPECT_THAT(runs[2], HasSubstr("\"unit_id\": \"SN-A\""));
  EXPECT_THAT(runs[2], HasSubstr("\"result\": \"pass\""));
  for (const std::string& run : runs) EXPECT_THAT(run, HasSubstr("\"station\": \"line1-st3\""));

  // The window's events: each run framed by its start and end, every line with its slot,
  // the refusal said as the command line says it.
  const std::string events = window.Text("events.ndjson");
  EXPECT_EQ(Count(events, "\"type\":\"run_started\""), 3);
  EXPECT_EQ(Count(events, "\"type\":\"run_ended\""), 3);
  EXPECT_THAT(events, HasSubstr("\"reason\":\"not-approved\""));
  for (const std::string& line : SplitLines(events)) {
    EXPECT_TRUE(std::regex_search(line, std::regex("\"unit\":\"[AB]\""))) << line;
  }
}

}  // namespace morlane::test
