// The station commands of the Windows morlane-cli.exe under Wine take their ports from the
// system: two simulated units on pseudo-terminals, which the Wine prefix maps as COM1 and
// COM40, are all the serial ports the system has, and `ports` and `gang` (no --port) go
// through exactly those, named as Windows names them. A single run given --port COM40 keeps
// that name too.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "flash/test_image_maker.h"
#include "support/process.h"
#include "wine_programs.h"

namespace morlane {
namespace {

using test::ImageSection;
using test::ProcessResult;
using test::RunProcess;
using test::SimProcess;
using test::SplitLines;
using test::TempDir;
using test::WindowsCli;
using test::Words;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::vector<ImageSection> kMaster = {{0x2010, Words(4, 0x1200)}};
const std::vector<ImageSection> kSlave = {{0x0100, Words(3, 0x6000)}};

constexpr const char* kWinePorts = "HKLM\\Software\\Wine\\Ports";
constexpr const char* kDeviceMap = "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

ProcessResult Wine(const std::vector<std::string>& args, const std::string& dir = "") {
  std::vector<std::string> argv{MORLANE_WINE_RUN};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, dir, 120);
}

// Wine enters its ports in the device map when the prefix's session starts, from the
// prefix's mapping of COM names to devices: a changed mapping needs a session that starts
// after it. This waits for the running one to end (the prefix as the Wine runner takes it).
void WaitForWineSessionEnd() {
  ProcessResult waited =
      RunProcess({"/bin/sh", "-c",
                  "WINEPREFIX=\"${MORLANE_WINEPREFIX:-${TMPDIR:-/tmp}/morlane-wine-$(id -u)}\" "
                  "exec wineserver -w"},
                 "", 60);
  EXPECT_EQ(waited.status, 0) << waited.err;
}

// The device map's values: the driver's name of each port ("\Device\Serial0") to the
// port's name ("COM1").
std::map<std::string, std::string> DeviceMap() {
  std::map<std::string, std::string> ports;
  ProcessResult query = Wine({"reg", "query", kDeviceMap});
  for (const std::string& line : SplitLines(query.out)) {
    std::istringstream words(line);
    std::string name, type, port;
    if (words >> name >> type >> port && type == "REG_SZ") ports[name] = port;
  }
  return ports;
}

std::vector<std::string> PortNames(const std::map<std::string, std::string>& map) {
  std::vector<std::string> names;
  for (const auto& [driverName, port] : map) names.push_back(port);
  std::sort(names.begin(), names.end());
  return names;
}

// A Windows program that keeps the prefix's session (and so its device map) alive until
// it goes: cmd's "pause" waits on a pipe that is closed at the end. The session is taken as
// started once "pause" has said its prompt: a program started beside a session that is
// still starting could wait on it for minutes.
class WineSession {
 public:
  WineSession() {
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0) return;
    if (pipe2(output, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      int devnull = open("/dev/null", O_WRONLY);
      dup2(input[0], 0);
      dup2(output[1], 1);
      dup2(devnull, 2);
      execl(MORLANE_WINE_RUN, MORLANE_WINE_RUN, "cmd", "/c", "pause", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(input[0]);
    close(output[1]);
    feed_ = input[1];
    pollfd prompt{output[0], POLLIN, 0};
    started_ = poll(&prompt, 1, 60000) == 1;
    close(output[0]);
  }
  ~WineSession() {
    if (feed_ >= 0) close(feed_);
    if (pid_ <= 0) return;
    for (int i = 0; i < 200; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  WineSession(const WineSession&) = delete;
  WineSession& operator=(const WineSession&) = delete;

  bool Running() const { return pid_ > 0 && started_; }

 private:
  pid_t pid_ = -1;
  bool started_ = false;
  int feed_ = -1;
};

class WineSystemPorts : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(WindowsCli())) {
      GTEST_SKIP() << "no Windows build at " << WindowsCli();
    }
    // A prefix of its own: its session is ended and started again for the mapping to take
    // effect, which must not cut off the other tests' Wine programs in the shared prefix.
    const char* shared = std::getenv("MORLANE_WINEPREFIX");
    if (shared) sharedPrefix_ = shared;
    const std::string base = test::WinePrefix();
    setenv("MORLANE_WINEPREFIX", (base + "-ports").c_str(), 1);
    prefixChanged_ = true;
    ASSERT_TRUE(first_.Running() && second_.Running());
    for (const auto& [name, unit] : {std::pair{"COM1", &first_}, std::pair{"COM40", &second_}}) {
      ProcessResult mapped =
          Wine({"reg", "add", kWinePorts, "/v", name, "/t", "REG_SZ", "/d", unit->Path(), "/f"});
      ASSERT_EQ(mapped.status, 0) << mapped.out << mapped.err;
      mappedNames_.push_back(name);
    }
    WaitForWineSessionEnd();
    session_ = std::make_unique<WineSession>();
    ASSERT_TRUE(session_->Running());

    // Wine also makes a COM port of every serial device of the machine (/dev/ttyS0 and the
    // like), on the first numbers left free. They are taken out of the device map for the
    // session, as if the machine had none; the units' own two must be there.
    std::map<std::string, std::string> map;
    for (int tries = 0; tries < 60; ++tries) {
      map = DeviceMap();
      std::vector<std::string> names = PortNames(map);
      if (std::count(names.begin(), names.end(), "COM1") &&
          std::count(names.begin(), names.end(), "COM40"))
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    for (const auto& [driverName, port] : map) {
      if (port == "COM1" || port == "COM40") continue;
      ProcessResult removed = Wine({"reg", "delete", kDeviceMap, "/v", driverName, "/f"});
      EXPECT_EQ(removed.status, 0) << removed.out << removed.err;
    }
    ASSERT_THAT(PortNames(DeviceMap()), ElementsAre("COM1", "COM40"));
  }

  void TearDown() override {
    for (const std::string& name : mappedNames_) {
      ProcessResult removed = Wine({"reg", "delete", kWinePorts, "/v", name, "/f"});
      EXPECT_EQ(removed.status, 0) << removed.out << removed.err;
    }
    // The next run starts on the prefix's own ports again.
    session_.reset();
    if (!mappedNames_.empty()) WaitForWineSessionEnd();
    if (!prefixChanged_) return;
    if (sharedPrefix_) {
      setenv("MORLANE_WINEPREFIX", sharedPrefix_->c_str(), 1);
    } else {
      unsetenv("MORLANE_WINEPREFIX");
    }
  }

  std::optional<std::string> sharedPrefix_;
  bool prefixChanged_ = false;

  SimProcess first_{MORLANE_UNIT_SIM};
  SimProcess second_{MORLANE_UNIT_SIM};
  std::vector<std::string> mappedNames_;
  std::unique_ptr<WineSession> session_;
  TempDir dir_;
};

TEST_F(WineSystemPorts, PortsAndGangGoThroughThePortsTheSystemHas) {
  ProcessResult ports = Wine({WindowsCli(), "ports"});
  ASSERT_EQ(ports.status, 0) << ports.err;
  EXPECT_THAT(SplitLines(ports.out), ElementsAre("COM1 \\\\.\\COM1 free", "COM40 \\\\.\\COM40 free",
                                                 "USB 0590:004b absent"));

  dir_.Write("Master.bin", test::MakeInverterImage(kMaster));
  dir_.Write("Slave.bin", test::MakeInverterImage(kSlave));

  // A single run on a port given by its COM name: the dialog's line, the record's slot and
  // --unit-id all say COM40; a --unit-id for a slot the run does not have is refused.
  ProcessResult refused = Wine({WindowsCli(), "--port", "COM40", "--records", "single", "--unit-id",
                                "COM1=SN-PULL-1", "flash", "Master.bin"},
                               dir_.Path());
  EXPECT_EQ(refused.status, 2) << refused.out << refused.err;
  EXPECT_THAT(refused.err, HasSubstr("no unit of this run is on COM1"));
  ProcessResult single = Wine({WindowsCli(), "--port", "COM40", "--records", "single", "--unit-id",
                               "COM40=SN-PULL-1", "flash", "Master.bin"},
                              dir_.Path());
  EXPECT_EQ(single.status, 0) << single.out << single.err;
  EXPECT_THAT(single.out,
              HasSubstr("Com40 is opened,please insert com1 cable to inverter and\npc.\n"));
  ProcessResult kept =
      Wine({WindowsCli(), "--records", "single", "records", "list", "--json"}, dir_.Path());
  ASSERT_EQ(kept.status, 0) << kept.err;
  EXPECT_THAT(kept.out, HasSubstr("\"slot\": \"COM40\""));
  EXPECT_THAT(kept.out, HasSubstr("\"port\": \"\\\\\\\\.\\\\COM40\""));
  EXPECT_THAT(kept.out, HasSubstr("\"unit_id\": \"SN-PULL-1\""));

  ProcessResult gang = Wine(
      {WindowsCli(), "--records", "out", "--unit-id", "COM40=SN-3", "gang", "auto"}, dir_.Path());
  EXPECT_EQ(gang.status, 0) << gang.out << gang.err;
  EXPECT_THAT(gang.err, HasSubstr("gang: 2 passed, 0 failed or stopped"));
  // Each unit's dialog says its port by the name the station shows.
  EXPECT_THAT(gang.out, HasSubstr("COM1: Com1 is opened"));
  EXPECT_THAT(gang.out, HasSubstr("COM40: Com40 is opened"));
  // Both CPUs of each unit programmed once by the gang: neither unit was left out or taken
  // twice (the master on COM40 once before, by the single run).
  for (SimProcess* unit : {&first_, &second_}) {
    std::string report = unit->Stop();
    EXPECT_THAT(report,
                HasSubstr(unit == &first_ ? "cpu M: erased 1 times" : "cpu M: erased 2 times"));
    EXPECT_THAT(report, HasSubstr("cpu S: erased 1 times"));
  }

  ProcessResult list =
      Wine({WindowsCli(), "--records", "out", "records", "list", "--json"}, dir_.Path());
  ASSERT_EQ(list.status, 0) << list.err;
  std::vector<std::string> records = SplitLines(list.out);
  ASSERT_EQ(records.size(), 2u) << list.out;
  const std::string& onCom40 =
      records[0].find("\"slot\": \"COM40\"") != std::string::npos ? records[0] : records[1];
  EXPECT_THAT(onCom40, HasSubstr("\"slot\": \"COM40\""));
  EXPECT_THAT(onCom40, HasSubstr("\"unit_id\": \"SN-3\""));
  EXPECT_THAT(onCom40, HasSubstr("\"result\": \"pass\""));
}

}  // namespace
}  // namespace morlane
