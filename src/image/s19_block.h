#pragma once

#include <string>

namespace morlane {

// One S-record line as the reader keeps it: the data field stays hexadecimal text,
// letter case as written in the file.
class CS19block {
 public:
  CS19block() = default;
  CS19block(const CS19block&) = default;
  CS19block& operator=(const CS19block&) = default;
  CS19block(CS19block&&) = default;
  CS19block& operator=(CS19block&&) = default;
  virtual ~CS19block() = default;

  std::string type;  // "S0", "S1" or "S9"
  int count = 0;     // address bytes + data bytes + checksum byte
  int address = 0;   // 16-bit address field
  std::string data;  // two hex characters per byte
  int checksum = 0;  // stored, never tested
  int line = 0;      // line of the file it was read from (from 1); 0 for the fixed record
};

}  // namespace morlane
