#include "ui/working_folder.h"

#include <system_error>

#include "platform/utf8_path.h"

namespace morlane {

std::string CaptionWithFolder(std::string_view caption, const std::filesystem::path& folder,
                              bool simulatedUnit) {
  std::string text(caption);
  if (simulatedUnit) text += " - SIMULATED UNIT";
  if (folder.empty()) return text;
  std::filesystem::path shown = folder;
  shown.make_preferred();
  return text + " - " + PathToUtf8(shown);
}

std::filesystem::path StartFolder(std::string_view rememberedUtf8) {
  std::error_code error;
  if (!rememberedUtf8.empty()) {
    std::filesystem::path remembered = PathFromUtf8(rememberedUtf8);
    if (std::filesystem::is_directory(remembered, error)) return remembered;
  }
  return std::filesystem::current_path(error);
}

}  // namespace morlane
