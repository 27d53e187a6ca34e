#include "station/station_check.h"

#include <filesystem>

#include "platform/utf8_path.h"
#include "records/line_database.h"
#include "records/record_store.h"
#include "station/station_setup.h"

namespace morlane {

namespace {

void CheckImages(const StationProfile& profile, std::vector<StationFinding>* findings) {
  for (const ApprovedImage& image : profile.images) {
    std::string bytes;
    const std::string why = ReadApprovedImage(image, &bytes);
    findings->push_back(why.empty() ? StationFinding{true, "image " + image.path + ": as approved"}
                                    : StationFinding{false, "image " + why});
  }
}

void CheckRecords(const std::string& records, std::vector<StationFinding>* findings) {
  std::string why;
  std::error_code ignored;  // a folder that cannot be made is said by the store
  std::filesystem::create_directories(PathFromUtf8(records), ignored);
  // Taken and let go at once: held, it says which station runs on the folder.
  if (!LockRecordsFolder(records, &why)) {
    findings->push_back({false, "records: " + why});
    return;
  }
  std::unique_ptr<RecordStore> store = RecordStore::Open(records, RecordStore::Mode::Write, &why);
  findings->push_back(store ? StationFinding{true, "records " + records + ": writable, with room"}
                            : StationFinding{false, "records: " + why});
}

void CheckLineDatabase(const std::string& url, std::vector<StationFinding>* findings) {
  std::string why;
  if (!LineDatabase::Supported()) {
    findings->push_back({false, "line database: " + LineDatabase::WhyUnsupported()});
    return;
  }
  if (!LineDatabase::CheckAddress(url, &why)) {
    findings->push_back({false, "line database: " + why});
    return;
  }
  LineDatabase line(url);
  findings->push_back(line.CheckWritable(&why)
                          ? StationFinding{true, "line database " + line.Where() +
                                                     ": reachable, and runs can be added"}
                          : StationFinding{false, "line database " + line.Where() + ": " + why});
}

void CheckPorts(const StationProfile& profile, SerialPortFactory& ports,
                std::vector<StationFinding>* findings) {
  for (size_t i = 0; i < profile.slots.size(); ++i) {
    const StationSlot& slot = profile.slots[i];
    const std::string head = "slot " + slot.name + ": " + slot.port;
    PortOpenError error = PortOpenError::None;
    if (ports.Open(static_cast<int>(i) + 1, &error)) {
      findings->push_back({true, head + " is there and free"});
    } else if (error == PortOpenError::NotFound && profile.start != "scan") {
      findings->push_back({true, head + " is not there yet: the slot waits for its unit"});
    } else if (error == PortOpenError::Busy) {
      findings->push_back({false, head + " is held by another program"});
    } else {
      findings->push_back({false, head + ": " + PortOpenErrorText(error)});
    }
  }
}

}  // namespace

std::vector<StationFinding> CheckStation(const StationProfile& profile, const std::string& records,
                                         const std::string& recordsDb, SerialPortFactory& ports) {
  std::vector<StationFinding> findings;
  CheckImages(profile, &findings);
  CheckRecords(records, &findings);
  if (!recordsDb.empty()) CheckLineDatabase(recordsDb, &findings);
  CheckPorts(profile, ports, &findings);
  return findings;
}

std::string FindingLine(const StationFinding& finding) {
  return (finding.ready ? "ok: " : "not ready: ") + finding.text;
}

}  // namespace morlane
