#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/folder_lock.h"
#include "platform/serial_port.h"
#include "station/profile.h"
#include "station/station_port.h"

namespace morlane {

// The profile read and every check a station makes before it starts: its images' names
// and their digests. Nothing, with why, when the station must not start.
std::optional<StationProfile> LoadStationProfile(const std::string& path, std::string* why);
// The same without the digests (a check says each of them as a finding of its own):
// nothing, with why, only for a profile that cannot be read or whose image names are
// unclear.
std::optional<StationProfile> ReadStationProfile(const std::string& path, std::string* why);

// A unit's images go by their names to a CPU, as "Automatic" sends them; an image whose
// name names no CPU, or both, would be sent to a CPU by chance. "" when every name is clear,
// else what is not ("app.bin names no CPU in its name ...").
std::string UnclearImageNames(const StationProfile& profile);

// The profile's slots as opened through ports: slot i is COM i+1 of ports, known to its
// dialog by the system's number on Windows ("Com7 is opened") and by its place elsewhere,
// with the port's stable identity for the records.
std::vector<StationPort> SlotPorts(const StationProfile& profile, const SerialPortFactory& ports);

// The device paths of the profile's slots, in order ("COM7" becomes \\.\COM7 on Windows),
// for a port table.
std::vector<std::string> SlotDevices(const StationProfile& profile);

// One station per records folder: two on one folder would take each other's ports and
// units. Held until the lock is let go; null, with why naming the station that holds it
// (its process id and host), when another has it.
std::unique_ptr<FolderLock> LockRecordsFolder(const std::string& folder, std::string* why);

}  // namespace morlane
