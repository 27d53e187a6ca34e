#include "ui/log.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "ui/hscroll_listbox.h"
#include "ui/window.h"

namespace morlane {

void AppendLogLine(Window& window, std::string_view text) {
  window.LineAppended(text);
  auto append = [&window, text] {
    CHScrollListBox& list = window.LogList();
    list.InsertString(list.GetCount(), text);
  };
  if (window.OnWindowThread()) {
    append();
  } else {
    window.RunOnWindowThread(append);
  }
}

std::string FormatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    text.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(args);
  return text;
}

}  // namespace morlane
