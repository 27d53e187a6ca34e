#include "win/file_dialog.h"

#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "win/wide_text.h"

namespace morlane::win {

namespace {

constexpr size_t kPathBuffer = 32768;

std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    size_t bar = text.find('|', start);
    if (bar == std::string_view::npos) {
      fields.push_back(text.substr(start));
      return fields;
    }
    fields.push_back(text.substr(start, bar - start));
    start = bar + 1;
  }
}

}  // namespace

std::string OpenDialogFilter(std::string_view filter) {
  const std::vector<std::string_view> fields = Fields(filter);
  std::string out;
  for (size_t i = 0; i + 1 < fields.size(); i += 2) {
    std::string_view name = fields[i], pattern = fields[i + 1];
    if (pattern.empty()) continue;
    out.append(name.empty() ? pattern : name);
    out.push_back('\0');
    out.append(pattern);
    out.push_back('\0');
  }
  if (out.empty()) out.append("All Files (*.*)\0*.*\0", 20);
  out.push_back('\0');
  return out;
}

std::string DefaultExtension(std::string_view pattern) {
  if (pattern.starts_with("*")) pattern.remove_prefix(1);
  if (pattern.starts_with(".")) pattern.remove_prefix(1);
  if (pattern.find_first_of("*?; ") != std::string_view::npos) return {};
  return std::string(pattern);
}

std::optional<std::string> RunOpenFileDialog(HWND owner, const FileDialogRequest& request,
                                             const std::string& startFolder) {
  const std::wstring filter = Wide(OpenDialogFilter(request.filter));
  const std::wstring extension = Wide(DefaultExtension(request.defaultExtension));
  const std::wstring initialName = Wide(request.initialName);
  std::vector<wchar_t> file(kPathBuffer, L'\0');
  std::copy_n(initialName.begin(), std::min(initialName.size(), kPathBuffer - 1), file.begin());
  std::vector<wchar_t> directory(kPathBuffer, L'\0');
  DWORD directoryLength = 0;
  if (startFolder.empty()) {
    directoryLength = GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data());
  } else {
    const std::wstring start = Wide(startFolder);
    directoryLength = static_cast<DWORD>(std::min(start.size(), kPathBuffer - 1));
    std::copy_n(start.begin(), directoryLength, directory.begin());
  }

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir =
      directoryLength > 0 && directoryLength < directory.size() ? directory.data() : nullptr;
  dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  // With the prompt to create, a name that does not exist yet may be taken once the user
  // agreed; without it only existing files.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                 (request.promptCreate ? OFN_CREATEPROMPT : OFN_FILEMUSTEXIST);
  if (!GetOpenFileNameW(&dialog)) return std::nullopt;
  return Utf8(file.data());
}

}  // namespace morlane::win
