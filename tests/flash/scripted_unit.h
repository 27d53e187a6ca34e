#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "flash/boot_link.h"
#include "support/memory_serial.h"

namespace morlane::test {

// A bootloader that takes every command frame, acknowledges it and answers with a result
// frame of the status set for its command code; it records the commands it saw.
struct ScriptedUnit {
  struct Command {
    uint8_t sequence;
    int code;
    uint32_t address;
    uint16_t count;
    uint16_t word4;
    std::vector<uint8_t> data;
  };

  explicit ScriptedUnit(MemoryLine& line) {
    line.SetPeer([this](const std::vector<uint8_t>& written, int, MemoryLine& unit) {
      OnWrite(written, unit);
    });
  }

  void OnWrite(const std::vector<uint8_t>& written, MemoryLine& unit) {
    if (awaitingPayload) {
      awaitingPayload = false;
      Take(written, unit);
      return;
    }
    if (written.size() == 8 && written[0] == 0x01 && written[1] == 0x66 && written[2] == 0x99) {
      sequence = written[3];
      awaitingPayload = true;
    }
  }

  void Take(const std::vector<uint8_t>& record, MemoryLine& unit) {
    Command command{
        sequence,
        record[1],
        static_cast<uint32_t>(record[2] << 24 | record[3] << 16 | record[4] << 8 | record[5]),
        static_cast<uint16_t>(record[8] << 8 | record[9]),
        static_cast<uint16_t>(record[16] << 8 | record[17]),
        std::vector<uint8_t>(record.begin() + 20, record.end())};
    commands.push_back(command);
    if (silentFor.count(command.code)) return;
    unit.Queue({0x06, 0x66, 0x99, sequence, 0x00, 0x08, 0x00, 0x00});
    if (noResultFor.count(command.code)) return;
    uint16_t status = statusFor.count(command.code) ? statusFor[command.code] : 0;
    if (judge) status = judge(command);
    std::vector<uint8_t> payload{static_cast<uint8_t>(status >> 8), static_cast<uint8_t>(status)};
    uint16_t crc = BootLink::Crc16(payload.data(), payload.size());
    unit.Queue({0x01, 0x99, 0x66, sequence, 0x00, 0x0A, static_cast<uint8_t>(crc >> 8),
                static_cast<uint8_t>(crc), payload[0], payload[1]});
  }

  std::vector<Command> Of(int code) const {
    std::vector<Command> found;
    for (const Command& c : commands) {
      if (c.code == code) found.push_back(c);
    }
    return found;
  }

  std::map<int, uint16_t> statusFor;
  std::function<uint16_t(const Command&)> judge;  // overrides statusFor when set
  std::map<int, bool> silentFor;                  // no reply at all: not acknowledged
  std::map<int, bool> noResultFor;                // acknowledged, but no result frame
  std::vector<Command> commands;
  uint8_t sequence = 0;
  bool awaitingPayload = false;
};

}  // namespace morlane::test
