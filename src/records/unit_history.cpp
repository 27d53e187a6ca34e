#include "records/unit_history.h"

#include <vector>

namespace morlane {

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
      if (image->cpu == cpu) return image->result == "pass" && image->sha256 == sha256;
    }
  }
  return false;
}

}  // namespace morlane
