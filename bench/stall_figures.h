#pragma once
// What the stall probes of both windows share: the images they program and the figures
// they take from the paint stamps.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "flash/test_image_maker.h"

namespace morlane::bench {

// The unit's slowness in the probes: service answers on both links, and the bootloaders'
// and the MCU updater's replies. A bootloader's must stay under the 200 ms its commands
// wait.
inline constexpr int kProbeAnswerDelayMs = 300;
inline constexpr int kProbeReplyDelayMs = 120;
inline constexpr int kProbeTestRunMs = 3000;

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Master.bin and Slave.bin for "Automatic", which takes every *.bin of the folder.
inline void WriteCpuImages(const std::filesystem::path& dir) {
  WriteBytes(dir / "Master.bin",
             test::MakeInverterImage({{0x2010, test::Words(300, 0x4000)}, {0x9000, {0x0102}}}));
  WriteBytes(dir / "Slave.bin", test::MakeInverterImage({{0x0100, test::Words(200, 0x6000)}}));
}

// tmp.bin of 40 blocks for the MCU update, once "Automatic" is done.
inline void WriteMcuImage(const std::filesystem::path& dir) {
  std::vector<uint8_t> mcuImage(40 * 64);
  for (size_t i = 0; i < mcuImage.size(); ++i) mcuImage[i] = static_cast<uint8_t>(i * 13 + 1);
  WriteBytes(dir / "tmp.bin", mcuImage);
}

struct StallFigures {
  int64_t longestMs = 0;
  int64_t p99Ms = 0;
  size_t paints = 0;
  int64_t spanMs = 0;
};

// The gaps between the paints stamped from `from` to `to`, the stretches before the first
// and after the last included.
inline StallFigures GapsBetween(const std::vector<int64_t>& stamps, int64_t from, int64_t to) {
  std::vector<int64_t> gaps;
  int64_t last = from;
  size_t paints = 0;
  for (int64_t at : stamps) {
    if (at < from || at > to) continue;
    gaps.push_back(at - last);
    last = at;
    ++paints;
  }
  gaps.push_back(to - last);
  std::sort(gaps.begin(), gaps.end());
  size_t p99 = std::min(gaps.size() - 1, (gaps.size() * 99 + 99) / 100 - 1);
  return StallFigures{gaps.back(), gaps[p99], paints, to - from};
}

}  // namespace morlane::bench
