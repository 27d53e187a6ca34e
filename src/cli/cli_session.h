#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/headless_window.h"
#include "app/kestrum_dlg.h"
#include "package/service_package.h"
#include "platform/hid_device.h"
#include "platform/serial_port.h"
#include "records/record_store.h"
#include "records/run_record.h"
#include "station/line_feed.h"
#include "station/press.h"
#include "ui/event_file.h"
#include "ui/json_text.h"

namespace CLI {
class App;
}

namespace morlane {

namespace sim {
class SimUnit;
class HostPlatform;
}  // namespace sim

class CliSession;

struct GlobalOptions {
  std::vector<std::string> ports;
  bool simulate = false;
  int simulateUnits = 0;
  // "N:SWITCH" or "N:SWITCH=VALUE": one of the simulated unit's fault switches for unit N.
  std::vector<std::string> simulateFaults;
  std::string records;
  std::string recordsDb;             // --records-db, else MORLANE_RECORDS_DB
  std::vector<std::string> unitIds;  // "COMn=ID"
  std::string station;
  std::optional<std::string> operatorName;
  std::string dir;
  std::string logJson;
  std::string events;  // --events: NDJSON to this file, "-" for stdout
  bool quiet = false;
  bool skipIdentical = false;
  std::string package;  // --package: the images come from this service package
  std::string
      trustedKeys;    // --trusted-keys: the allowed_signers file, else the user's and system's
  std::string model;  // --model: the unit's model, which a package must name
  bool allowUnsigned = false;
  // What the command must hold before the session writes anything (a station its records
  // folder); false, with why, refuses the start with nothing written. Set by the command.
  std::function<bool(CliSession&, std::string*)> beforeOutputs;
};

// A path of the command line, as git -C takes it: a relative one from --dir (when given),
// then made absolute against where morlane-cli was started.
std::string PathFromDir(const std::string& dir, const std::string& path);

// One run of morlane-cli: the platform (real or simulated), a headless window and the
// dialog in it, initialised as the window would be.
class CliSession {
 public:
  explicit CliSession(const GlobalOptions& options);
  ~CliSession();

  // Starts the simulated unit when asked, builds the dialog with the working directory
  // and initialises it. false with a message on failure.
  bool Setup(std::string* error);

  // Selects "com" (entry 0) or "usb" (entry 1) and presses "Open"; true when a session
  // opened. Close is pressed by Finish.
  bool OpenLink(const std::string& link);
  // Presses "Close" if a link was opened, then ends the dialog.
  void Finish();

  // One line of --log-json, when it was asked for: the text as one JSON string.
  void WriteLogJson(std::string_view text);
  // Why the procedure failed, for the verdict line that ends a run on stderr
  // ("FAIL: erase: erase refused"); the first one said is kept.
  void SetFailure(const std::string& step, const std::string& reason);
  const std::string& FailedStep() const { return failedStep_; }
  const std::string& FailureReason() const { return failureReason_; }

  // Whether a line could not be written to --log-json: the run then does not pass.
  bool LogJsonFailed() const { return jsonFailed_; }

  // --events: the file every unit's events go to; null when not asked for.
  EventFile* Events() { return events_.get(); }
  // With --events - the events are stdout, and the plain log lines stay off it.
  bool LogToStdout() const { return options_.events != "-"; }
  // The run's first and last events, for the command that runs a procedure on the
  // session's own dialog.
  void ReportRunStarted(const std::string& command);
  void ReportRunEnded(int exitStatus, const std::string& command);

  // With --records, a single flash, auto or verify keeps its run as a gang's unit does, on
  // the slot of its port: COM1, or on Windows the COMn the port was given as (--unit-id
  // COMn=ID names the unit). The store is opened before anything is sent:
  // false, with why, when the folder cannot take records. Nothing is kept without --records.
  // With --records-db too, the kept run is sent to the line's database, which the
  // session's end waits for, bounded.
  bool BeginRecord(const std::string& procedure, std::string* why);
  // --package: the package read and checked whole before anything else happens, and the
  // image for needed ("master", "slave", "mcu"; empty: the master's or the slave's) in it;
  // refused, it is said on stderr in one line and false returned. Taken, "Automatic"
  // programs its master and slave images from the bytes read (no file is read again), the
  // MCU's S-record is prepared from them, the log says what it is, the events and the
  // record name it.
  bool TakePackage(const std::string& needed = {});
  // The name a taken package's image for target runs under; "" when it has none.
  std::string PackageImageName(const std::string& target) const;
  const package::PackageReport* Package() const { return dialog_->packageChoice.Taken(); }
  // The images the dialog tried (path: the one image, made absolute, and given: as the
  // command line named it; empty for every image), taken once the procedure ended.
  void RecordImages(const std::string& path, const std::string& given, int passed);
  // After Close: the record finished and committed before the run is reported done; false,
  // with why, when it could not be kept.
  bool KeepRecord(int exitStatus, std::string* why);

  // A path given on the command line, taken from --dir when relative (see PathFromDir).
  std::string PathOf(const std::string& given) const { return PathFromDir(options_.dir, given); }

  HeadlessWindow& Window() { return *window_; }
  CKestrumDlg& Dialog() { return *dialog_; }
  sim::SimUnit* Sim();
  const GlobalOptions& Options() const { return options_; }
  SerialPortFactory& Ports();
  HidBackend& HidDevices();

 private:
  bool ApplySimulatedFaults(std::string* error);
  // A single run is one unit on its port's slot: its --unit-id, if any; false, with why,
  // for an id that is no unit id or names another slot (it would be dropped unseen).
  bool SingleUnitId(std::optional<std::string>* unitId, std::string* why) const;
  // The COM number of the run's port: the one the dialog opened, and before that the first
  // the port search will try (COM1; on Windows COM40 for --port COM40). A single run is
  // recorded on it.
  int RunPort() const;
  static std::string SlotOf(int comNumber);
  void OnLine(std::string_view line);
  void OnProgress(int id, int position);
  void DrawBar();
  void ClearBar();

  GlobalOptions options_;
  std::unique_ptr<sim::HostPlatform> platform_;
  std::unique_ptr<HeadlessWindow> window_;
  std::unique_ptr<CKestrumDlg> dialog_;
  std::FILE* json_ = nullptr;
  bool jsonFailed_ = false;
  std::FILE* eventsOut_ = nullptr;
  std::unique_ptr<EventFile> events_;
  std::string failedStep_;
  std::string failureReason_;
  bool linkOpened_ = false;
  std::unique_ptr<RecordStore> store_;
  std::unique_ptr<LineFeed> lineFeed_;  // goes before the store it reads
  std::optional<RunRecord> record_;
  std::string runId_;              // the recorded run's, named in its first event
  std::optional<RunRecord> kept_;  // the record once kept (or not): the run's verdict
  std::string log_;                // the run's lines, kept for its record
  bool barShown_ = false;
  int barPosition_ = 0;
};

// A command's body; returns the exit status (0 success, 1 failure).
using CommandRunner = std::function<int(CliSession& session)>;

// Each group of commands adds its subcommands to the app; the one chosen on the command
// line stores its body in selected.
void RegisterLinkCommands(CLI::App& app, CommandRunner& selected);
void RegisterFlashCommands(CLI::App& app, CommandRunner& selected);
void RegisterImageCommands(CLI::App& app, CommandRunner& selected);
void RegisterConsoleCommands(CLI::App& app, CommandRunner& selected);

void RegisterGangCommands(CLI::App& app, CommandRunner& selected);
void RegisterStationCommands(CLI::App& app, GlobalOptions& options, CommandRunner& selected);
void RegisterRecordsCommands(CLI::App& app, CommandRunner& selected);
void RegisterPackageCommands(CLI::App& app, CommandRunner& selected);
void RegisterDashboardCommands(CLI::App& app, CommandRunner& selected);

// The runs `records` and the dashboard read: the station's store named by --records (or
// the working directory's), read-only; the line's database when only --records-db (or
// MORLANE_RECORDS_DB) names one. Null, said on stderr with *status the exit status, when
// neither can be read.
std::unique_ptr<RecordSource> OpenRecordSource(const CliSession& session, int* status);

// TEXT into the command box, "+Enter" checked unless noEnter, "Send"; 1 when answered.
int PressSend(HeadlessWindow& window, CKestrumDlg& dialog, const std::string& text, bool noEnter);
// A FILE that cannot be read is a usage error, said on stderr (Unreadable returns the
// status).
bool Readable(const std::string& path);
int Unreadable(const std::string& shown);
// FILE and --cpu of "flash", for the single run and the gang alike.
// With packaged, FILE may be left out for --package.
void AddFlashArguments(CLI::App& flash, std::string& file, std::string& cpu, bool packaged = false);
// Without --cpu the image's path decides the CPU, as the dialog decides it; a path that
// names neither CPU, or both, would leave the choice to chance: such a run is refused as a
// usage error, said on stderr (the status is returned; 0 when the path decides clearly).
// --package given to a command that takes none: said on stderr; the usage status returned.
int RefusePackage(const char* command);
int RefuseUnclearCpu(const std::string& path, const std::string& shown, const std::string& cpu);

// --unit-id's "COMn=ID" pairs by slot: the ID is everything after the first "=" and must be
// a unit id; the slot must be one of the run's; neither a slot nor an ID may be named twice.
// false, with why (never quoting a control character), for anything else.
bool UnitIdsBySlot(const std::vector<std::string>& given, const std::set<std::string>& slots,
                   std::map<std::string, std::string>* ids, std::string* why);

// Exit statuses of morlane-cli.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

}  // namespace morlane
