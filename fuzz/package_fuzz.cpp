// A service package's reader on any bytes: the zip, the manifest, the signature and the
// allowed signers' lines, each of which comes from outside.
#include <cstddef>
#include <cstdint>
#include <string>

#include "package/service_package.h"
#include "package/ssh_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  morlane::package::PackageTrust trust;
  trust.allowUnsigned = true;
  morlane::package::PackageReport report = morlane::package::ReadPackageBytes("fuzz", bytes, trust);
  // A package taken is whole: every image its manifest names, each as large as it says.
  if (report.Usable()) {
    if (!report.manifest || report.images.size() != report.manifest->images.size())
      __builtin_trap();
    for (const auto& image : report.images) {
      if (image.data.size() != image.facts.bytes) __builtin_trap();
    }
  }
  // The same bytes as a signature and as allowed signers' lines.
  std::string why;
  (void)morlane::package::ParseSignature(bytes, &why);
  (void)morlane::package::AllowedSigners::Parse(bytes, bytes, &why);
  return 0;
}
