#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace morlane {

struct DialogValues;

// The thirteen service commands that the automatic test cycles through, in the unit's
// order. Each text sits in a fixed 16-byte field, zero-terminated, ending in a carriage
// return.
class CommandTable {
 public:
  static constexpr int kEntries = 13;
  static constexpr size_t kTextField = 16;

  struct Entry {
    uint8_t enabled = 0;
    std::array<char, kTextField> text{};
  };

  // Every field cleared, the texts copied in, every entry enabled (whatever the check
  // boxes show: they are taken in only when a test starts).
  void InitCommandTable();
  // The enabled flags from the check boxes' member values.
  void TakeCheckBoxes(const DialogValues& values);

  bool Enabled(int entry) const { return entries_[Index(entry)].enabled == 1; }
  // The command text with its carriage return.
  std::string_view Text(int entry) const;
  // The text up to its carriage return, as the log shows it.
  std::string_view Name(int entry) const;

 private:
  static size_t Index(int entry) { return static_cast<size_t>(entry); }
  std::array<Entry, kEntries> entries_{};
};

// The check box that enables an entry. Entry 3 ("V") has none of its own: it follows the
// visible "Auto" box of the firmware group.
int CheckBoxOfEntry(int entry);
// The entry whose command is name (without its carriage return), or -1.
int EntryNamed(std::string_view name);

}  // namespace morlane
