#include "station/station_setup.h"

#include <cstdlib>

#include "platform/host_inspection.h"
#include "platform/port_table.h"

namespace morlane {

std::string UnclearImageNames(const StationProfile& profile) {
  for (const ApprovedImage& image : profile.images) {
    const std::string name = image.path.substr(image.path.find_last_of("/\\") + 1);
    auto has = [&name](const char* upper, const char* lower) {
      return name.find(upper) != std::string::npos || name.find(lower) != std::string::npos;
    };
    const bool master = has("Master", "master");
    if (master == has("Slave", "slave")) {
      return image.path + " names " + (master ? "more than one" : "no") +
             " CPU in its name (\"master\" or \"slave\")";
    }
  }
  return {};
}

std::optional<StationProfile> ReadStationProfile(const std::string& path, std::string* why) {
  std::optional<StationProfile> profile = ReadProfile(path, why);
  if (!profile) return std::nullopt;
  if (std::string unclear = UnclearImageNames(*profile); !unclear.empty()) {
    *why = path + ": " + unclear;
    return std::nullopt;
  }
  return profile;
}

std::optional<StationProfile> LoadStationProfile(const std::string& path, std::string* why) {
  std::optional<StationProfile> profile = ReadStationProfile(path, why);
  if (!profile) return std::nullopt;
  // A station with a wrong file in its folder never starts.
  if (std::string bad = CheckApprovedImages(*profile); !bad.empty()) {
    *why = "the station does not start: " + bad;
    return std::nullopt;
  }
  return profile;
}

std::vector<StationPort> SlotPorts(const StationProfile& profile, const SerialPortFactory& ports) {
  std::vector<std::string> paths;
  for (size_t i = 0; i < profile.slots.size(); ++i) {
    paths.push_back(ports.PathOf(static_cast<int>(i) + 1));
  }
  HostInspection host(HostRoots::System(), UserIdentity::Current());
  const std::vector<SerialDeviceFacts> facts = host.SerialDevices(paths);
  std::vector<StationPort> slots;
  for (size_t i = 0; i < profile.slots.size(); ++i) {
    const int entry = static_cast<int>(i) + 1;
    const std::string systemName = PortTable::SystemName(paths[i]);
    const int shownAs = systemName.size() > 3 ? std::atoi(systemName.c_str() + 3) : entry;
    StationPort slot{entry, profile.slots[i].name, paths[i], shownAs > 0 ? shownAs : entry};
    if (i < facts.size()) slot.stableId = StablePortId(facts[i]);
    slots.push_back(std::move(slot));
  }
  return slots;
}

std::vector<std::string> SlotDevices(const StationProfile& profile) {
  std::vector<std::string> devices;
  for (const StationSlot& slot : profile.slots) devices.push_back(PortTable::DevicePath(slot.port));
  return devices;
}

std::unique_ptr<FolderLock> LockRecordsFolder(const std::string& folder, std::string* why) {
  FolderLock::Outcome outcome = FolderLock::Outcome::Failed;
  std::string holder;
  std::unique_ptr<FolderLock> lock =
      FolderLock::Take(folder, "station.lock", &outcome, &holder, why);
  if (outcome == FolderLock::Outcome::Held) {
    *why = "another station runs on the records folder " + folder + " (" + holder +
           "): one station per records folder";
  }
  return lock;
}

}  // namespace morlane
