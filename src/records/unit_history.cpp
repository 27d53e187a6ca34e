#include "records/unit_history.h"

#include <algorithm>
#include <vector>

namespace morlane {

namespace {

bool Timed(const ImageRecord& image, const char* step) {
  return std::any_of(image.seconds.begin(), image.seconds.end(),
                     [step](const auto& time) { return time.first == step; });
}

// The image was erased, burned and verified, and passed: what the CPU holds is known.
bool Programmed(const RunRecord& run, const ImageRecord& image) {
  return run.procedure != "verify" && run.result == "pass" && image.result == "pass" &&
         !image.skipped && Timed(image, "erase") && Timed(image, "burn") && Timed(image, "verify");
}

}  // namespace

bool LastPassedWith(RecordSource& records, const std::string& unitId, const std::string& cpu,
                    const std::string& sha256) {
  if (unitId.empty() || cpu.empty() || sha256.empty()) return false;
  RunFilter filter;
  filter.unitId = unitId;
  std::string why;
  const std::vector<RunRecord> runs = records.List(filter, &why);
  for (const RunRecord& run : runs) {
    // The last image a run tried on the CPU is what the CPU was left with.
    for (auto image = run.images.rbegin(); image != run.images.rend(); ++image) {
      if (image->cpu == cpu) return Programmed(run, *image) && image->sha256 == sha256;
    }
  }
  return false;
}

}  // namespace morlane
