// Programs a 64 KiB image into the simulated unit's master CPU over a pseudo-terminal,
// through the dialog as "Update Firmware" runs it, and sets the wall time against the
// protocol's own waits for that image and the tool's CPU time against the wall time.
//
// Targets: wall time within 2 % of the protocol minimum, CPU time under 2 % of the wall.
// "flash_bench --events FILE" runs the same with every event written to FILE as NDJSON,
// for the events' cost against a run without.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "platform/inprocess_hid.h"
#include "platform/port_table.h"
#include "platform/termios_port.h"
#include "sim/pty_server.h"
#include "sim/sim_unit.h"
#include "ui/control_ids.h"
#include "ui/event_file.h"

namespace {

using namespace morlane;

constexpr int kSections = 4;
constexpr int kWordsPerSection = 8192;  // 4 x 16 KiB of data

// The waits the protocol mandates: the selection's 155 ms, the bootloader's start of
// 2085 ms, the handshake's 50 ms, 200 ms after every command frame, and the erase's
// 100 ms plus its first 50 ms poll.
int64_t ProtocolMinimumMs(int programFrames, int verifyFrames) {
  int frames = 1 + programFrames + verifyFrames + 1;  // erase ... closing
  return 155 + 2085 + 50 + 200LL * frames + 100 + 50;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::string WriteImage(const std::filesystem::path& dir) {
  std::vector<uint8_t> out{0x08, 0xAA};
  out.resize(22, 0);
  uint32_t state = 0x2468ACE;
  for (int s = 0; s < kSections; ++s) {
    uint32_t address = static_cast<uint32_t>(s) * 0x4000;
    for (uint32_t v : {static_cast<uint32_t>(kWordsPerSection), address >> 16, address & 0xFFFF}) {
      out.push_back(static_cast<uint8_t>(v >> 8));
      out.push_back(static_cast<uint8_t>(v));
    }
    for (int i = 0; i < kWordsPerSection; ++i) {
      state = state * 1103515245u + 12345u;
      uint16_t word = static_cast<uint16_t>(state >> 16) & 0x7FFF;
      out.push_back(static_cast<uint8_t>(word >> 8));
      out.push_back(static_cast<uint8_t>(word));
    }
  }
  out.insert(out.end(), {0x00, 0x00});
  std::string path = (dir / "bench_master.bin").string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  std::FILE* eventsOut = nullptr;
  if (argc == 3 && std::string(argv[1]) == "--events") {
    eventsOut = std::fopen(argv[2], "w");
    if (!eventsOut) {
      std::fprintf(stderr, "flash_bench: cannot write %s\n", argv[2]);
      return 1;
    }
  }
  std::error_code error;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / "morlane-flash-bench";
  std::filesystem::create_directories(dir, error);
  std::string image = WriteImage(dir);

  sim::SimUnit unit;
  sim::PtyServer server(unit);
  std::string failure;
  if (!server.Start(&failure)) {
    std::fprintf(stderr, "flash_bench: %s\n", failure.c_str());
    return 1;
  }
  TermiosPortFactory ports(PortTable({server.SlavePath()}));
  InProcessHidBackend hid;
  HeadlessWindow window;
  CKestrumDlg dialog(window, RealClock(), ports, hid);
  std::unique_ptr<EventFile> events;
  if (eventsOut) {
    events = std::make_unique<EventFile>(eventsOut);
    dialog.events.Listen(events.get());
  }
  window.SetCommandHandler([&dialog](int id) { dialog.OnCommand(id); });
  dialog.OnInitDialog();
  window.Click(ctl::kOpen);
  window.Click(ctl::kModeManual);
  window.QueueFileDialogAnswer(image);
  window.Click(ctl::kSelectFirmware);

  auto start = std::chrono::steady_clock::now();
  double cpuStart = ThreadCpuSeconds();
  window.Click(ctl::kUpdateFirmware);
  double cpu = ThreadCpuSeconds() - cpuStart;
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  int result = dialog.lastResult;
  dialog.EndDialog();
  server.Stop();
  std::filesystem::remove_all(dir, error);

  int blocks = (kWordsPerSection + kBlockWords - 1) / kBlockWords;
  int programFrames = kSections * blocks;
  double minimum = static_cast<double>(ProtocolMinimumMs(programFrames, kSections)) / 1000.0;
  double overWall = (wall - minimum) / minimum * 100.0;
  double cpuShare = cpu / wall * 100.0;
  if (eventsOut) std::fclose(eventsOut);
  std::printf("events: %s\n", eventsOut ? "every one written as NDJSON" : "none asked for");
  std::printf("image: %d KiB of data in %d sections, %d program frames, %d verify frames\n",
              kSections * kWordsPerSection * 2 / 1024, kSections, programFrames, kSections);
  std::printf("result: %s, %d program frames reached the unit\n",
              result ? "programmed and verified" : "FAILED", unit.Flash('M').programFrames);
  std::printf("wall time:        %8.3f s\n", wall);
  std::printf("protocol minimum: %8.3f s  (wall is %+.2f %%, target within 2 %%)\n", minimum,
              overWall);
  std::printf("tool CPU time:    %8.3f s  (%.3f %% of wall, target under 2 %%)\n", cpu, cpuShare);
  std::printf("targets %s\n", result && overWall < 2.0 && cpuShare < 2.0 ? "met" : "MISSED");
  return result ? 0 : 1;
}
