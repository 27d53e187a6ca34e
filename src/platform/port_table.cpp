#include "platform/port_table.h"

#include <cstdlib>

namespace morlane {

namespace {

// COM numbers run from 1 to 32; entries beyond can never be reached.
constexpr size_t kMaxPorts = 32;

std::vector<std::string> Capped(std::vector<std::string> paths) {
  if (paths.size() > kMaxPorts) paths.resize(kMaxPorts);
  return paths;
}

std::vector<std::string> SplitPaths(const std::string& text) {
  std::vector<std::string> paths;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(PortTable::PathSeparator(), start);
    if (end == std::string::npos) end = text.size();
    if (end > start) paths.push_back(PortTable::DevicePath(text.substr(start, end - start)));
    start = end + 1;
  }
  return paths;
}

}  // namespace

namespace {

// The --port paths, else MORLANE_PORTS, else the system's part; the system is asked only
// when neither says.
std::vector<std::string> ChosenPaths(const std::vector<std::string>& cliPorts,
                                     std::vector<std::string> (*system)()) {
  if (!cliPorts.empty()) {
    std::vector<std::string> paths;
    for (const std::string& port : cliPorts) paths.push_back(PortTable::DevicePath(port));
    return paths;
  }
  if (const char* fromEnvironment = std::getenv("MORLANE_PORTS")) {
    std::vector<std::string> paths = SplitPaths(fromEnvironment);
    if (!paths.empty()) return paths;
  }
  return system();
}

}  // namespace

PortTable PortTable::Discover(const std::vector<std::string>& cliPorts) {
  return PortTable(Capped(ChosenPaths(cliPorts, SystemSerialDevices)));
}

// A station makes a unit of every entry and names it by the port, so nothing caps it.
PortTable PortTable::DiscoverPresent(const std::vector<std::string>& cliPorts) {
  return PortTable(ChosenPaths(cliPorts, PresentSerialDevices));
}

std::unique_ptr<SerialPort> TablePortFactory::Open(int comNumber, PortOpenError* error) {
  std::string path = table_.PathOf(comNumber);
  if (path.empty()) {
    if (error) *error = PortOpenError::NotFound;
    return nullptr;
  }
  return open_(path, error);
}

SystemNumberedPorts::SystemNumberedPorts(std::unique_ptr<SerialPortFactory> table)
    : table_(std::move(table)) {
  for (int entry = 1;; ++entry) {
    const std::string path = table_->PathOf(entry);
    if (path.empty()) break;
    const int number = PortTable::SystemNumber(path);
    if (number <= 0 || !entries_.emplace(number, entry).second) {
      entries_.clear();
      return;
    }
  }
}

int SystemNumberedPorts::EntryOf(int comNumber) const {
  if (entries_.empty()) return comNumber;
  auto found = entries_.find(comNumber);
  return found == entries_.end() ? 0 : found->second;
}

std::unique_ptr<SerialPort> SystemNumberedPorts::Open(int comNumber, PortOpenError* error) {
  const int entry = EntryOf(comNumber);
  if (entry <= 0) {
    if (error) *error = PortOpenError::NotFound;
    return nullptr;
  }
  return table_->Open(entry, error);
}

std::string SystemNumberedPorts::PathOf(int comNumber) const {
  const int entry = EntryOf(comNumber);
  return entry > 0 ? table_->PathOf(entry) : std::string();
}

int SystemNumberedPorts::NumberBeyondSearch() const {
  return entries_.empty() ? table_->NumberBeyondSearch() : entries_.rbegin()->first;
}

std::string PortTable::PathOf(int comNumber) const {
  if (comNumber < 1 || comNumber > Count()) return {};
  return paths_[static_cast<size_t>(comNumber - 1)];
}

}  // namespace morlane
