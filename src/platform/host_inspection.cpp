#include "platform/host_inspection.h"

#include <algorithm>

namespace morlane {

HostRoots HostRoots::Under(const std::string& prefix) {
  HostRoots roots;
  roots.dev = prefix + "/dev";
  roots.proc = prefix + "/proc";
  roots.sys = prefix + "/sys";
  roots.etc = prefix + "/etc";
  roots.usrLib = prefix + "/usr/lib";
  return roots;
}

bool UserIdentity::HasGroup(uint32_t id) const {
  return id == gid || std::find(groups.begin(), groups.end(), id) != groups.end();
}

}  // namespace morlane
