#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "records/record_store.h"
#include "station/gang_unit.h"
#include "station/presence.h"
#include "station/profile.h"
#include "station/station_port.h"

namespace morlane {

// Where a slot stands.
enum class SlotPhase {
  Idle,     // nothing run yet, or ready for the next unit
  Present,  // a unit answers, but the station needs its unit id first
  Running,
  Done,  // its last run ended; shown until the next one starts
  // Its port could not be opened when the station started (missing, or held by another
  // program): it takes no unit until the station starts again.
  OutOfService,
};

// What the operator's screen shows of one slot.
struct SlotView {
  std::string name;
  std::string port;
  SlotPhase phase = SlotPhase::Idle;
  std::optional<std::string> unitId;  // of the unit running or last run
  std::optional<std::string> nextId;  // scanned for the next unit (presence start)
  std::string step;                   // running: "burn master"
  int percent = 0;
  double seconds = 0;  // running: so far; done: the run's length
  std::string result;  // done: "pass", "fail" or "aborted"
  std::string failedStep;
  std::string reason;            // done and failed: why, in words ("the unit refused the erase")
  std::string instruction;       // done and failed: the profile's instruction for its step
  bool awaitingRemoval = false;  // presence: the last unit still answers
  std::string outOfService;      // why the slot takes no unit ("/dev/ttyUSB9: not found")
  // Runs ended on the slot this shift: a screen that sounds a failure sounds it once, when
  // this grows with a failed run.
  int runsEnded = 0;
};

// The shift's counters. A unit is its unit id; a run without one is a unit of its own.
struct StationTally {
  int passed = 0;
  int failed = 0;  // aborted runs included
  int units = 0;
  int firstPassUnits = 0;  // units whose first run of the shift passed

  // Units whose first run passed, over units, in whole percent; 100 before the first unit.
  int FirstPassYield() const { return units > 0 ? firstPassUnits * 100 / units : 100; }
};

// A production station: one slot per fixture, each looping wait, program, record, show
// on a thread of its own with its own dialog, port, clock and headless window, whatever
// the others do. Units start by a scan of their label, by their presence on the slot's
// port, or both, as the profile says. Every run is kept in the store before its slot
// shows it done.
class Station {
 public:
  // slots[i] is profile.slots[i] as opened through ports.
  Station(const StationProfile& profile, SerialPortFactory& ports, std::vector<StationPort> slots,
          RecordStore& store, StationIdentity identity);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Every slot's thread starts waiting for its first unit.
  void Start();

  // One line a scanner typed: "UNIT_ID" for the first idle slot, "SLOT UNIT_ID" for that
  // one, or the operator's badge (operator_prefix, then the name). "" when taken; else why
  // it was refused (a busy slot, no idle slot, a unit id already on a slot, longer than a
  // label's, not of the profile's pattern or passed here before, a label with a space, the
  // station stopping). A warning that lets the unit start is a remark.
  std::string Scan(std::string_view line);

  // The operator of the runs that start from now on: --operator, or the last badge.
  std::optional<std::string> Operator();

  // No unit starts any more; the running ones finish. Then Join returns.
  void Finish();
  // Every running unit stops now, within its own waits (a second Ctrl-C).
  void StopNow();
  // Waits until every slot's thread has ended (after Finish).
  void Join();

  // Whether a unit runs or a start waits on any slot.
  bool Busy();
  std::vector<SlotView> View();
  StationTally Tally();
  // Whether every unit run so far passed and was kept, and no station fault stopped it.
  bool AllPassed() const { return allPassed_; }
  // The station's fault, "" while none: why it starts no unit any more (records that
  // cannot be kept, an approved image that changed). Held for the rest of the shift: the
  // station is started again once the cause is mended, which checks everything anew.
  std::string Fault();

  // What the operator should know that comes from beside the slots (the line's database),
  // said as the station's own remarks are.
  void Say(const std::string& text) { Remark(text); }
  // The station's last remark, numbered from 1 (0: none yet), for a screen that shows the
  // newest one: it asks whenever it draws.
  struct LastRemark {
    int number = 0;
    std::string text;
  };
  LastRemark NewestRemark();

  // "A SN123 started", "A SN123 PASS 62.1 s", "A SN123 FAIL erase 5.3 s": a line per
  // slot event, from the slot's thread.
  std::function<void(const std::string& line)> onNotice;
  // What the operator should know that is no slot event ("A: a unit is present; scan its
  // unit id"), and a unit's message boxes and lines that could not be kept.
  std::function<void(const std::string& text)> onRemark;
  // Each slot's log lines, "A" and the line.
  std::function<void(const std::string& slot, std::string_view line)> onLine;
  // Called after each run was kept (the line's database is fed from the store).
  std::function<void()> afterKept;
  // Every slot's events, each with its slot as unit; null when nobody asked.
  EventFile* events = nullptr;
  // How long an idle slot waits between two asks for a unit, and for the answer.
  int presencePeriodMs = 1000;
  int presenceAnswerMs = 500;

 private:
  struct Slot {
    std::unique_ptr<GangUnit> unit;
    std::thread thread;
    SlotView view;                         // under mutex_, but step and percent from the unit
    bool startRequested = false;           // a scan started it
    int64_t startedMs = 0;                 // steady clock, of the run shown
    std::unique_ptr<PresenceProbe> probe;  // the slot's thread's alone
    // Presence, after a unit's run: asks it has not answered in a row, and since when.
    int silentAsks = 0;
    int64_t silentSinceMs = 0;
  };

  void Loop(Slot& slot);
  void Serve(Slot& slot);
  // The slot taken for the unit, in the same hold of mutex_ as the start is taken from the
  // scan or the presence: a scan in between would find the slot free and queue a second
  // unit on it, and the same label could start on another slot.
  void MarkRunning(Slot& slot, const std::optional<std::string>& unitId);
  // The unit's run, from its "started" to its record kept and shown.
  void RunUnit(Slot& slot, const std::optional<std::string>& unitId);
  bool ScanStarts() const { return profile_.start != "presence"; }
  bool PresenceStarts() const { return profile_.start != "scan"; }
  Slot* SlotNamed(std::string_view name);
  // The slot the unit id is on (running, waiting to start or scanned for); null if none.
  Slot* SlotHolding(const std::string& unitId);
  void Count(const RunRecord& record);
  void Remark(const std::string& text);
  // The profile's rules for a scanned unit id: "" when it may start, else why not. A unit
  // run here before that may start again is said in *warning.
  std::string UnitIdRule(const std::string& unitId, std::string* warning);
  // Each slot's port tried once before the first unit: a port that cannot be opened takes
  // the slot out of service (with presence start a port not there yet only waits).
  void CheckPorts();
  // The station's fault set once (the first cause stays) and said. Takes mutex_.
  void SetFault(const std::string& fault);
  // Whether a unit may start now: no fault, and the store takes runs (else the fault is
  // set). Asked before every unit.
  bool ReadyForUnit();

  StationProfile profile_;
  SerialPortFactory& ports_;
  RecordStore& store_;
  StationIdentity identity_;  // its operator under mutex_: a badge changes it
  std::optional<std::regex> unitIdPattern_;
  GangJob job_;
  GangControl control_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool finishing_ = false;
  std::string fault_;
  StationTally tally_;
  std::map<std::string, bool> seenUnits_;
  std::atomic<bool> allPassed_{true};
  std::mutex remarkMutex_;  // alone: remarks are made with mutex_ held and without
  LastRemark lastRemark_;
};

}  // namespace morlane
