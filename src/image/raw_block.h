#pragma once

#include <string>

namespace morlane {

// One row of the prepared image: in tmp.bin a size byte, the address high byte first, a
// length byte and the data bytes.
class CRawblock {
 public:
  CRawblock() = default;
  CRawblock(const CRawblock&) = default;
  CRawblock& operator=(const CRawblock&) = default;
  CRawblock(CRawblock&&) = default;
  CRawblock& operator=(CRawblock&&) = default;
  virtual ~CRawblock() = default;

  int size = 4;      // 4 + length once the row is closed
  int address = 0;   // address of the row's first data byte
  int length = 0;    // data bytes in the row
  std::string data;  // hex text; fill bytes are "FF"
};

}  // namespace morlane
