#pragma once

#include <map>
#include <memory>
#include <string>

#include "package/service_package.h"

namespace morlane {

class CKestrumDlg;

// A service package the dialog programs from: read and checked whole when it is chosen,
// its images kept as read. "Automatic" then programs its master and slave images (master
// first), "Update Firmware" the one CPU's, and the USB "Select Firmware File" prepares its
// S-record, each from those bytes; no file is read again and nothing else is programmed
// until another package or none is chosen.
class PackageChoice {
 public:
  explicit PackageChoice(CKestrumDlg& dialog) : dialog_(dialog) {}

  // Reads and checks the package; the log says what it is or why it is refused. Refused,
  // the choice before is dropped too: nothing is programmed from a package half taken.
  bool Open(const std::string& path, const package::PackageTrust& trust);
  void Clear();

  // The package taken; null when none is.
  const package::PackageReport* Taken() const { return report_.get(); }
  // Why the last package chosen was refused; "" when it was taken.
  const std::string& Refusal() const { return refusal_; }
  // The name the taken package's image for target ("master", "slave", "mcu") runs under
  // (the package's path and the image's name in it); "" when it holds none.
  std::string ImageName(const std::string& target) const;

 private:
  CKestrumDlg& dialog_;
  std::unique_ptr<package::PackageReport> report_;
  std::string refusal_;
  std::map<std::string, std::string> held_;   // the images' bytes by the name they run as
  std::map<std::string, std::string> names_;  // those names by target
};

}  // namespace morlane
