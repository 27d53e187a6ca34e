#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_port.h"
#include "records/record_store.h"
#include "records/run_record.h"
#include "station/profile.h"
#include "station/station_port.h"
#include "ui/event_file.h"
#include "ui/run_events.h"

namespace morlane {

class CKestrumDlg;

// What every unit of a production run does: "auto", or "flash" with one image; a single
// run records "verify" as well.
struct GangJob {
  std::string procedure{};  // "auto", "flash" or "verify"
  std::string path{};       // flash: the image, made absolute; empty for every image
  std::string file{};       // flash: the image's path as given, which its record keeps
  std::string cpu{};        // flash: "master", "slave" or empty (the path decides)
  // A CPU the records show this unit last passed with the same bytes, and that verifies
  // against them now, is neither erased nor programmed. Needs the unit's id.
  bool skipIdentical = false;
  // A production station's: the only images it may send. When not empty, each is read and
  // checked against its digest before the unit's port is opened (a mismatch fails the unit
  // at step "image"), the bytes read for every CPU are checked again before its selection,
  // and "auto" programs exactly these, in this order.
  std::vector<ApprovedImage> approved{};
  // The service package the approved images come from, for every run's record and events.
  std::optional<PackageRecord> package{};
  int retries = 0;                       // more tries for a CPU whose selection or handshake failed
  std::optional<std::string> profile{};  // the station profile's SHA-256, for the record
  std::string command{};                 // run_started's; empty: "gang PROCEDURE"
  // Where a run the store could not keep is kept instead (see KeepUnkept); "" for nowhere.
  std::string unkeptFolder{};
};

// Shared by the units and the station's main thread: Ctrl-C once holds every unit before
// its next CPU, twice stops every unit now.
struct GangControl {
  std::atomic<bool> holdNextCpu{false};
  std::atomic<bool> abortNow{false};
};

// What every record of one station's run says of where and by whom.
struct StationIdentity {
  std::string station;
  std::optional<std::string> operatorName;
};

// A run's record as it starts: the station, the operator, the procedure, the start and a
// new run id. The slot, port and unit are the caller's to fill.
RunRecord StartRecord(const StationIdentity& identity, const std::string& procedure);
// The images the dialog tried, with what the programmer saw of each (cut: the station's
// stop cut the last one short). Taken while the link is still open.
void AddImages(RunRecord& record, const GangJob& job, int passed, CKestrumDlg& dialog, bool cut);
// Once the procedure ended: its verdict and its end.
void FinishRecord(RunRecord& record, const RunEnding& ending);

// What the live view shows of one unit, from its events.
struct UnitView {
  std::string step;  // the step running: "erase master"
  int percent = 0;
  bool done = false;
  std::string verdict;  // "PASS", "FAIL: ..." or "ABORTED" once done
};

// One unit of a production run: its own dialog on its own thread with a headless window,
// seeing its one port of the table as its only port, under the port's name (the unit on
// COM45 logs "Com45 is opened"). Its run is kept in the station's record store before the
// unit is shown as done.
class GangUnit : public RunEvents {
 public:
  // port.entry is where ports opens it.
  GangUnit(StationPort port, SerialPortFactory& ports, GangControl& control);

  // Runs the job to its end on the calling thread and keeps its record; true when the unit
  // passed and its record was kept.
  bool Run(const GangJob& job, const std::string& workingDir, RecordStore& store,
           const StationIdentity& identity);

  // The unit on this slot, as scanned; none when nobody said.
  std::optional<std::string> unitId;
  // The port's stable identity (see StablePortId).
  std::string portId;

  // "COM3": the slot's name in the lines, the live view, the records and --unit-id.
  const std::string& Name() const { return port_.name; }
  const std::string& Port() const { return port_.path; }
  int Entry() const { return port_.entry; }
  UnitView View();

  // Where each log line goes besides the unit's own log: the station's stdout, prefixed.
  std::function<void(const std::string& unit, std::string_view line)> onLine;
  std::function<void(const std::string& unit, const std::string& text)> onMessage;
  // Called once the unit's run is kept and shown as done: the line's database is fed.
  std::function<void()> afterKept;
  // Where the unit's events go besides its live view; null when nobody asked for them.
  EventFile* events = nullptr;

  // The unit's dialog reports here.
  void Report(const RunEvent& event) override;

  RunRecord record;
  // The last run's failure in words for the operator ("the unit refused the erase"); ""
  // when it passed.
  std::string failReason;
  // A fault of the station's that the last run met, "" when none: an approved image that
  // changed, or a record the store could not keep. No unit should start after it.
  std::string stationFault;
  // A fault of the slot's that the last run met, "" when none: its port held by another
  // program. The slot takes no unit after it.
  std::string slotFault;

 private:
  void Line(std::string_view line);
  // A station's job: the dialog programs its approved images only, with its retries.
  void ApproveOnly(const GangJob& job, CKestrumDlg& dialog);
  // Each approved image read once into held_ and checked; why the first that does not
  // match is refused (logged and reported), "" when all match.
  std::string HoldImages(const GangJob& job);
  // Keeps the record in the store, else in the job's fallback folder; whether the store
  // kept it.
  bool Keep(const GangJob& job, RecordStore& store);

  StationPort port_;
  SerialPortFactory& ports_;
  GangControl& control_;
  // Set when the station's stop refused one of this unit's port calls: the step that
  // failed then was cut short, not failed by the unit.
  std::atomic<bool> cut_{false};
  std::string log_;
  std::map<std::string, std::string> held_;  // an approved image's path: its bytes
  // The first step of the run that failed, as reported, for its reason in words.
  std::optional<event::StepEnded> firstFailure_;
  std::mutex viewMutex_;
  UnitView view_;
};

}  // namespace morlane
