#include "ui/dialog_values.h"

#include <utility>

#include "ui/control_ids.h"
#include "ui/window.h"

namespace morlane {

namespace {

template <typename Values, typename Visit>
void ForEachCheck(Values& values, Visit visit) {
  std::pair<int, decltype(&values.q1)> checks[] = {
      {ctl::kCheckQ1, &values.q1},
      {ctl::kCheckLf, &values.lf},
      {ctl::kCheckBl, &values.bl},
      {ctl::kModeAuto, &values.modeAuto},
      {ctl::kCheckV2, &values.v2},
      {ctl::kCheckV3, &values.v3},
      {ctl::kCheckBtun, &values.btun},
      {ctl::kCheckSi, &values.si},
      {ctl::kCheckBrr, &values.brr},
      {ctl::kCheckUas, &values.uas},
      {ctl::kCheckCf, &values.cf},
      {ctl::kCheckCf2, &values.cf2},
      {ctl::kCheckFwv, &values.fwv},
      {ctl::kPlusEnter, &values.plusEnter},
      {ctl::kProtectSection, &values.protectSectionChecked},
  };
  for (auto& [id, member] : checks) visit(id, *member);
}

}  // namespace

void DialogValues::SaveFromControls(const Window& window) {
  ForEachCheck(*this, [&](int id, int& member) { member = window.GetCheck(id) ? 1 : 0; });
  commandText = window.GetControlText(ctl::kCommandEdit).substr(0, kCommandTextLimit);
}

void DialogValues::LoadIntoControls(Window& window) const {
  ForEachCheck(*this, [&](int id, const int& member) { window.SetCheck(id, member); });
  window.SetControlText(ctl::kCommandEdit, commandText.substr(0, kCommandTextLimit));
}

PathCpu CpuNamedInPath(const std::string& path) {
  auto names = [&path](const char* upper, const char* lower) {
    return path.find(upper) != std::string::npos || path.find(lower) != std::string::npos;
  };
  const bool master = names("Master", "master");
  const bool slave = names("Slave", "slave");
  if (master && slave) return PathCpu::Both;
  if (master) return PathCpu::Master;
  return slave ? PathCpu::Slave : PathCpu::Neither;
}

}  // namespace morlane
