#include "console/command_table.h"

#include <algorithm>
#include <cstring>

#include "ui/control_ids.h"
#include "ui/dialog_values.h"

namespace morlane {

namespace {

struct CommandDefinition {
  const char* text;
  int checkBox;
  int DialogValues::*value;
};

constexpr CommandDefinition kCommands[CommandTable::kEntries] = {
    {"Q1\r", ctl::kCheckQ1, &DialogValues::q1},
    {"Lf?\r", ctl::kCheckLf, &DialogValues::lf},
    {"Bl?\r", ctl::kCheckBl, &DialogValues::bl},
    {"V\r", ctl::kModeAuto, &DialogValues::modeAuto},
    {"V2\r", ctl::kCheckV2, &DialogValues::v2},
    {"V3\r", ctl::kCheckV3, &DialogValues::v3},
    {"BTUN\r", ctl::kCheckBtun, &DialogValues::btun},
    {"Si?\r", ctl::kCheckSi, &DialogValues::si},
    {"BRR\r", ctl::kCheckBrr, &DialogValues::brr},
    {"UAS\r", ctl::kCheckUas, &DialogValues::uas},
    {"CF\r", ctl::kCheckCf, &DialogValues::cf},
    {"CF2\r", ctl::kCheckCf2, &DialogValues::cf2},
    {"FWV\r", ctl::kCheckFwv, &DialogValues::fwv},
};

bool ValidEntry(int entry) {
  return entry >= 0 && entry < CommandTable::kEntries;
}

}  // namespace

void CommandTable::InitCommandTable() {
  for (int i = 0; i < kEntries; ++i) {
    Entry& entry = entries_[Index(i)];
    entry.text.fill(0);
    // Every text is shorter than its field, so the zero after it always stays.
    std::memcpy(entry.text.data(), kCommands[i].text,
                std::min(std::strlen(kCommands[i].text), kTextField - 1));
    entry.enabled = 1;
  }
}

void CommandTable::TakeCheckBoxes(const DialogValues& values) {
  for (int i = 0; i < kEntries; ++i) {
    entries_[Index(i)].enabled = (values.*kCommands[i].value) ? 1 : 0;
  }
}

std::string_view CommandTable::Text(int entry) const {
  const auto& field = entries_[Index(entry)].text;
  return std::string_view(field.data(), strnlen(field.data(), kTextField));
}

std::string_view CommandTable::Name(int entry) const {
  std::string_view text = Text(entry);
  size_t end = text.find('\r');
  return end == std::string_view::npos ? text : text.substr(0, end);
}

int CheckBoxOfEntry(int entry) {
  return ValidEntry(entry) ? kCommands[entry].checkBox : 0;
}

int EntryNamed(std::string_view name) {
  for (int i = 0; i < CommandTable::kEntries; ++i) {
    std::string_view text = kCommands[i].text;
    if (text.substr(0, text.size() - 1) == name) return i;
  }
  return -1;
}

}  // namespace morlane
