// A unit whose CPUs already hold both images, on the paced line of a pseudo-terminal: the
// time of a gang unit's "Automatic" that programs them again, of one that skips them on
// the station's record (verify only), and of a verify-only run of both.
//
// Target: a skip costs the selection, handshake, verify and closing command only, a few
// seconds against the burn's minute per CPU.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "platform/inprocess_hid.h"
#include "platform/port_table.h"
#include "platform/termios_port.h"
#include "records/record_store.h"
#include "sim/pty_server.h"
#include "sim/sim_unit.h"
#include "station/gang_unit.h"
#include "ui/control_ids.h"

namespace {

using namespace morlane;

constexpr int kWordsPerCpu = 16384;  // 32 KiB of data, a minute of burn at the line's pace

void WriteImage(const std::filesystem::path& path, uint32_t seed) {
  std::vector<uint8_t> out{0x08, 0xAA};
  out.resize(22, 0);
  for (uint32_t v : {static_cast<uint32_t>(kWordsPerCpu), 0u, 0x100u}) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
  }
  for (int i = 0; i < kWordsPerCpu; ++i) {
    seed = seed * 1103515245u + 12345u;
    const uint16_t word = static_cast<uint16_t>(seed >> 16) & 0x7FFF;
    out.push_back(static_cast<uint8_t>(word >> 8));
    out.push_back(static_cast<uint8_t>(word));
  }
  out.insert(out.end(), {0x00, 0x00});
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  std::error_code error;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "morlane-skip-bench";
  std::filesystem::remove_all(dir, error);
  std::filesystem::create_directories(dir / "images", error);
  WriteImage(dir / "images" / "master.bin", 0x1357);
  WriteImage(dir / "images" / "slave.bin", 0x2468);

  sim::SimUnit unit;
  sim::PtyServer server(unit);
  std::string why;
  if (!server.Start(&why)) {
    std::fprintf(stderr, "skip_bench: %s\n", why.c_str());
    return 1;
  }
  TermiosPortFactory ports(PortTable({server.SlavePath()}));
  std::unique_ptr<RecordStore> store =
      RecordStore::Open((dir / "records").string(), RecordStore::Mode::Write, &why);
  if (!store) {
    std::fprintf(stderr, "skip_bench: %s\n", why.c_str());
    return 1;
  }
  GangControl control;
  GangUnit station(StationPort{1, "COM1", server.SlavePath()}, ports, control);
  station.unitId = "SN-BENCH";
  const StationIdentity identity{"bench", std::nullopt};
  auto automatic = [&](bool skip, const char* what) {
    const auto start = std::chrono::steady_clock::now();
    const bool passed = station.Run(GangJob{.procedure = "auto", .skipIdentical = skip},
                                    (dir / "images").string(), *store, identity);
    const double seconds = Seconds(start);
    bool skipped = !station.record.images.empty();
    for (const ImageRecord& image : station.record.images) skipped = skipped && image.skipped;
    std::printf("%-40s %7.2f s  %s%s\n", what, seconds, passed ? "pass" : "FAIL",
                skipped ? ", both skipped" : "");
    return passed ? seconds : -1.0;
  };

  automatic(false, "auto, blank unit (programs both)");
  const double again = automatic(false, "auto, unit holds both, no skip");
  const double skip = automatic(true, "auto --skip-identical, unit holds both");

  // The check alone: both CPUs verified, nothing erased or programmed.
  InProcessHidBackend hid;
  HeadlessWindow window;
  CKestrumDlg dialog(window, RealClock(), ports, hid);
  dialog.workingDir = dir / "images";
  window.SetCommandHandler([&dialog](int id) { dialog.OnCommand(id); });
  dialog.OnInitDialog();
  dialog.flasher.Programmer().verifyOnly = true;
  window.Click(ctl::kOpen);
  window.Click(ctl::kModeAuto);
  const auto start = std::chrono::steady_clock::now();
  window.Click(ctl::kAutomatic);
  const double verify = Seconds(start);
  std::printf("%-40s %7.2f s  %s\n", "verify --auto", verify, dialog.lastResult ? "pass" : "FAIL");
  dialog.EndDialog();
  server.Stop();
  std::filesystem::remove_all(dir, error);

  if (again <= 0 || skip <= 0) return 1;
  std::printf("skip costs %.1f %% of programming again (%.1f times faster); erases: %d, %d\n",
              skip / again * 100.0, again / skip, unit.Flash('M').eraseCount,
              unit.Flash('S').eraseCount);
  return 0;
}
