// prepare, mcu-update
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "cli/cli_session.h"
#include "platform/file_io.h"
#include "ui/control_ids.h"

namespace morlane {

namespace {

// A FILE that cannot be read is a usage error, found before anything is opened. A pipe or
// a device is no S-record file and is refused without waiting on it.
std::string CheckReadable(const std::string& path) {
  InputFile file;
  return file.Open(path) ? std::string() : "cannot read " + path;
}

struct PrepareArgs {
  std::string file;
  std::string shown;  // FILE as it was given, for what is said about it
  std::string link = "usb";
};

int RunPrepare(CliSession& session, const PrepareArgs& args) {
  CKestrumDlg& dialog = session.Dialog();
  bool offline = args.link == "none";
  if (!offline && !session.OpenLink(args.link)) return kExitFailed;
  session.Window().QueueFileDialogAnswer(args.file);
  // The control is created hidden, so it is pressed through the dialog's handler.
  dialog.OnCommand(ctl::kSelectUsbFirmware);
  // Without a link the files are the whole point: the run succeeds when both were
  // written, although the dialog reports the missing link.
  const bool prepared = offline ? dialog.usbFirmware.filesWritten == 1 : dialog.lastResult == 1;
  if (prepared) return kExitOk;
  // A refused S-record file is named with the line at fault, for the one who fixes it.
  const S19Refusal& refusal = dialog.usbFirmware.image.refusal;
  if (!refusal.reason.empty()) {
    const std::string where =
        refusal.line > 0 ? args.shown + " line " + std::to_string(refusal.line) : args.shown;
    std::fprintf(stderr, "refused: %s: %s\n", where.c_str(), refusal.detail.c_str());
    session.SetFailure("prepare", where + " refused (" + refusal.reason + ")");
    return kExitFailed;
  }
  session.SetFailure("prepare", "tmp.txt and tmp.bin were not made from " + args.file);
  return kExitFailed;
}

int RunMcuUpdate(CliSession& session, const std::string& cpu) {
  CKestrumDlg& dialog = session.Dialog();
  const bool packaged = !session.Options().package.empty();
  if (packaged && !session.TakePackage("mcu")) return kExitFailed;
  if (!session.OpenLink("usb")) return kExitFailed;
  if (packaged) {
    // The package's S-record is prepared as the window prepares a chosen file: tmp.txt
    // and tmp.bin in the working directory, from the bytes checked against the manifest.
    session.Window().QueueFileDialogAnswer(session.PackageImageName("mcu"));
    dialog.OnCommand(ctl::kSelectUsbFirmware);
    if (dialog.lastResult != 1) {
      session.SetFailure("prepare", "the package's MCU image could not be prepared");
      return kExitFailed;
    }
  }
  dialog.selection.cpuTarget = cpu == "slave" ? 1 : 0;
  // "Update Firmware" is enabled only by choosing a file, which over USB decides
  // nothing but the CPU: the handler is called as the enabled button would.
  dialog.OnCommand(ctl::kUpdateFirmware);
  if (dialog.lastResult == 1) return kExitOk;
  session.SetFailure("mcu-update", "the MCU was not updated from tmp.bin");
  return kExitFailed;
}

}  // namespace

void RegisterImageCommands(CLI::App& app, CommandRunner& selected) {
  auto prepareArgs = std::make_shared<PrepareArgs>();
  auto* prepare = app.add_subcommand("prepare", "Write tmp.txt and tmp.bin from an S-record file");
  prepare->add_option("FILE", prepareArgs->file, "the .S19 file")->required();
  prepare->add_option("--link", prepareArgs->link, "usb, com or none")
      ->transform(CLI::IsMember({"usb", "com", "none"}, CLI::ignore_case));
  prepare->callback([&selected, prepareArgs] {
    // The file dialog hands over full paths: FILE is made one, from --dir when relative.
    prepareArgs->shown = prepareArgs->file;
    selected = [prepareArgs](CliSession& session) {
      prepareArgs->file = session.PathOf(prepareArgs->shown);
      if (!CheckReadable(prepareArgs->file).empty()) return Unreadable(prepareArgs->shown);
      return RunPrepare(session, *prepareArgs);
    };
  });

  auto cpu = std::make_shared<std::string>("master");
  auto* update = app.add_subcommand("mcu-update", "Send tmp.bin to the unit's MCU over USB");
  update->add_option("--cpu", *cpu, "master or slave")
      ->transform(CLI::IsMember({"master", "slave"}, CLI::ignore_case));
  update->callback([&selected, cpu] {
    selected = [cpu](CliSession& session) { return RunMcuUpdate(session, *cpu); };
  });
}

}  // namespace morlane
