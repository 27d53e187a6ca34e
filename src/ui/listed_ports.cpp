#include "ui/listed_ports.h"

#include <algorithm>

#include "platform/port_table.h"
#include "platform/system_devices.h"

namespace morlane {

namespace {

// The port search's own numbers, COM1 to COM32.
constexpr int kSearchedNumbers = 32;

// The number Windows gives the port behind path, where the front ends can show it.
int ListedNumber(const std::string& path) {
  const int number = PortTable::SystemNumber(path);
  return number <= ListedPortFactory::kHighestNumber ? number : 0;
}

}  // namespace

ListedPortFactory::ListedPortFactory(SerialPortFactory& ports, std::vector<std::string> systemPaths,
                                     std::unique_ptr<SerialPortFactory> system)
    : ports_(ports), system_(std::move(system)) {
  std::map<std::string, int> own;
  const int highest = std::max(kSearchedNumbers, ports_.NumberBeyondSearch()) + kSearchedNumbers;
  for (int n = 1; n <= highest; ++n) {
    if (std::string path = ports_.PathOf(n); !path.empty()) own.emplace(path, n);
  }
  auto free = [this](int n) { return ports_.PathOf(n).empty() && !systemEntry_.count(n); };
  int next = kSearchedNumbers + 1;
  for (size_t i = 0; i < systemPaths.size(); ++i) {
    const std::string& path = systemPaths[i];
    const std::string systemName = PortTable::SystemName(path);
    ListedPort port{systemName.empty() ? path : systemName, path, 0};
    if (auto found = own.find(path); found != own.end()) {
      port.number = found->second;
    } else if (const int named = ListedNumber(path); named > 0) {
      if (!free(named)) continue;
      port.number = named;
      systemEntry_[named] = static_cast<int>(i) + 1;
    } else {
      while (!free(next)) ++next;
      port.number = next;
      systemEntry_[next] = static_cast<int>(i) + 1;
    }
    listed_.push_back(std::move(port));
  }
}

std::unique_ptr<SerialPort> ListedPortFactory::Open(int comNumber, PortOpenError* error) {
  if (auto entry = systemEntry_.find(comNumber); entry != systemEntry_.end() && system_) {
    return system_->Open(entry->second, error);
  }
  return ports_.Open(comNumber, error);
}

std::string ListedPortFactory::PathOf(int comNumber) const {
  if (auto entry = systemEntry_.find(comNumber); entry != systemEntry_.end() && system_) {
    return system_->PathOf(entry->second);
  }
  return ports_.PathOf(comNumber);
}

std::unique_ptr<ListedPortFactory> WithSystemPorts(SerialPortFactory& ports) {
  std::vector<std::string> paths = PortTable::PresentSerialDevices();
  auto system = MakeSystemPorts(PortTable(paths));
  return std::make_unique<ListedPortFactory>(ports, std::move(paths), std::move(system));
}

}  // namespace morlane
