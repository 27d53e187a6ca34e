#include "app/package_choice.h"

#include "app/kestrum_dlg.h"
#include "platform/utf8_path.h"
#include "ui/log.h"

namespace morlane {

bool PackageChoice::Open(const std::string& path, const package::PackageTrust& trust) {
  Clear();
  auto report = std::make_unique<package::PackageReport>(package::ReadPackage(path, trust));
  Window& window = dialog_.window;
  if (!report->Usable()) {
    refusal_ = report->refusal;
    AppendLogLine(window, "Package refused: " + path + ": " + report->refusal);
    return false;
  }
  const package::Manifest& manifest = *report->manifest;
  const std::string signer = report->takenUnsigned
                                 ? "UNSIGNED (taken with --allow-unsigned)"
                                 : report->signer->principal + " " + report->signer->fingerprint;
  AppendLogLine(window, "Package: " + path + ", model " + manifest.model + ", release " +
                            manifest.release + ", signed by " + signer);
  // Master before slave, whatever order the manifest lists them in; then the MCU's.
  for (const char* target : {"master", "slave", "mcu"}) {
    const package::PackageImage* image = report->Image(target);
    if (!image) continue;
    // Named inside the package, so that the log and the record say where the bytes came
    // from; no such file exists.
    const std::string name = PathToUtf8(PathFromUtf8(path) / PathFromUtf8(image->facts.file));
    held_[name] = std::string(image->data.begin(), image->data.end());
    names_[target] = name;
    AppendLogLine(window, "Package image: " + image->facts.file + " for the " + target + ", " +
                              std::to_string(image->facts.bytes) + " bytes");
    if (std::string(target) == "mcu") continue;
    dialog_.flasher.imageList.push_back(name);
    dialog_.flasher.imageCpus.emplace_back(name, target[0] == 'm' ? 'M' : 'S');
  }
  auto held = [this](const std::string& name) -> const std::string* {
    const auto found = held_.find(name);
    return found == held_.end() ? nullptr : &found->second;
  };
  dialog_.flasher.Programmer().heldImage = held;
  dialog_.usbFirmware.heldImage = held;
  report_ = std::move(report);
  return true;
}

void PackageChoice::Clear() {
  dialog_.flasher.imageList.clear();
  dialog_.flasher.imageCpus.clear();
  dialog_.flasher.Programmer().heldImage = nullptr;
  dialog_.usbFirmware.heldImage = nullptr;
  held_.clear();
  names_.clear();
  report_.reset();
  refusal_.clear();
}

std::string PackageChoice::ImageName(const std::string& target) const {
  const auto found = names_.find(target);
  return found == names_.end() ? std::string() : found->second;
}

}  // namespace morlane
